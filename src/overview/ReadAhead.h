#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/FileStream.h"
#include "support/PaddedBuffer.h"

namespace varlow {

// One block of a file, read into the back of its buffer: `Prefix` bytes stay free in front of
// the data so that the reader of the blocks can put the tail of the previous block there and
// see both as one run of bytes; the buffer's padding follows.
struct TReadBlock {
  TPaddedBuffer Buffer;
  std::int64_t Position = 0;  // file offset of the block's first byte
  std::size_t Wanted = 0;     // bytes asked for
  std::size_t Got = 0;        // bytes read
  bool Last = false;          // no block follows: the end of the file, a short read or a failure
  std::string Failure;        // why reading stopped, when it failed
  // Positions in the data of every start code whose four bytes lie wholly in it, found by the
  // reading thread while the bytes are still in its cache.
  std::vector<std::uint32_t> StartCodes;
  std::uint8_t* Data() { return Buffer.Data() + Prefix; }
  std::size_t Prefix = 0;
};

// Reads a file front to back on a thread of its own, a few blocks ahead of the one who takes
// them, and lists each block's start codes, so that reading and searching overlap with what is
// done with the codes. Reads stop at `total` bytes (the
// size the file had when the scan began). The thread ends with the object.
class TReadAhead {
public:
  static constexpr std::size_t kBlocks = 3;  // one being read, one being looked at, one waiting

  TReadAhead(const TFileStream& stream, std::int64_t total, std::size_t blockSize, std::size_t prefix);
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next block in file order, once read; null after the last one.
  TReadBlock* Next();
  // Gives a block taken with Next back for reading.
  void Release(TReadBlock* block);

private:
  void Run();

  const TFileStream& FStream;
  const std::int64_t FTotal;
  const std::size_t FBlockSize;
  std::array<TReadBlock, kBlocks> FSlots;
  std::deque<TReadBlock*> FFree;
  std::deque<TReadBlock*> FFilled;
  bool FStop = false;
  bool FDone = false;  // the reader has handed over its last block
  std::mutex FLock;
  std::condition_variable FChanged;
  std::thread FThread;
};

} // namespace varlow
