#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "overview/OverviewRecords.h"
#include "support/FileStream.h"

namespace varlow {

// One pass over a whole stream file: reads it front to back in large blocks (a few reused
// buffers, filled by a read-ahead thread while the previous block is searched), finds every
// start code (also across block ends), parses sequence headers and
// extensions, group headers, picture headers and picture coding extensions with the header
// parsers, and appends one record per picture and per group. A picture of any length costs
// nothing but its record: only its start and the next pack's start are remembered.
//
// The file is read up to the size it had when the scan began; a file that shrinks ends the scan
// where its data ends, a file that grows is read no further; both are reported. Damaged headers,
// slices outside a picture and start codes that do not belong in a video stream are counted
// and passed over.
class TOverviewScanner {
public:
  // 256 KiB reads measured faster than 1 and 4 MiB ones: the block the kernel has just copied
  // is still in the processor's cache when the search goes over it.
  static constexpr std::size_t kDefaultBlockSize = 256 * 1024;
  // Bytes a header needs after its start code before it is parsed: a block that ends sooner
  // carries the header over to the next read.
  static constexpr std::size_t kHeaderLookahead = 1024;

  // bytesRead, totalBytes; called after every block, from the scanning thread.
  using TProgress = std::function<void(std::int64_t, std::int64_t)>;

  explicit TOverviewScanner(std::size_t blockSize = kDefaultBlockSize);

  // Scans `stream` into `data` (which should be empty). When `lock` is given, every append to
  // `data` happens under it, once per block, so another thread may read `data` while holding
  // it. `cancel` is polled once per block. Never throws; the result is in data.Report.State.
  void Scan(const TFileStream& stream, TOverviewData& data, std::mutex* lock = nullptr,
            const std::atomic<bool>* cancel = nullptr, const TProgress& progress = {}) const;

private:
  std::size_t FBlockSize;
};

} // namespace varlow
