#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "overview/OverviewRecords.h"
#include "container/ByteSource.h"

namespace varlow {

// One pass over a whole stream file: reads it front to back in large blocks (a few reused
// buffers, read and searched for start codes by read-ahead threads while the previous block is
// handled), handles every start code but the slices after a picture's first (also across block
// ends), parses sequence headers and extensions and group headers with the header parsers,
// picture headers and picture coding extensions with small readers of the fields kept, and
// appends one record per picture and per group. A picture of any length costs nothing but its
// record: only its start and the next pack's start are remembered.
//
// The file is read up to the size it had when the scan began; a file that shrinks ends the scan
// where its data ends, a file that grows is read no further; both are reported. Damaged headers,
// slices outside a picture and start codes that do not belong in a video stream are counted
// and passed over.
class TOverviewScanner {
public:
  // A block the kernel has just copied is searched by the same thread while it is still in the
  // processor's cache; 1 MiB fits there and keeps the hand-overs between threads few.
  static constexpr std::size_t kDefaultBlockSize = 1024 * 1024;
  // Bytes a header needs after its start code before it is parsed: a block that ends sooner
  // carries the header over to the next read.
  static constexpr std::size_t kHeaderLookahead = 1024;

  // bytesRead, totalBytes; called after every block, from the scanning thread.
  using TProgress = std::function<void(std::int64_t, std::int64_t)>;

  explicit TOverviewScanner(std::size_t blockSize = kDefaultBlockSize);

  // Scans `stream` into `data` (which should be empty). When `lock` is given, every append to
  // `data` happens under it, once per block, so another thread may read `data` while holding
  // it. `cancel` is polled once per block. Never throws; the result is in data.Report.State.
  void Scan(const TByteSource& stream, TOverviewData& data, std::mutex* lock = nullptr,
            const std::atomic<bool>* cancel = nullptr, const TProgress& progress = {}) const;

private:
  std::size_t FBlockSize;
};

} // namespace varlow
