#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "container/ByteSource.h"
#include "support/PaddedBuffer.h"

namespace varlow {

// One block of a file, read into the back of its buffer: `Prefix` bytes stay free in front of
// the data so that the reader of the blocks can put the tail of the previous block there and
// see both as one run of bytes; the buffer's padding follows.
struct TReadBlock {
  TPaddedBuffer Buffer;
  std::int64_t Position = 0;  // file offset where the block's range begins
  std::size_t Wanted = 0;     // file bytes the range spans
  std::size_t Got = 0;        // video bytes read from them (all of them in a plain file)
  TSourcePlaces Places;       // where each byte read came from
  bool Last = false;          // no block follows: the end of the file, a short read or a failure
  std::string Failure;        // why reading stopped, when it failed
  std::uint64_t Sequence = 0; // the block's place in file order
  // Positions in the data of the start codes whose four bytes lie wholly in it, runs of slices
  // cut to their first (FindStartCodesButSliceRuns), listed by the reading thread while the
  // bytes are still in its cache.
  std::vector<std::uint32_t> StartCodes;
  std::uint8_t* Data() { return Buffer.Data() + Prefix; }
  std::size_t Prefix = 0;
};

// Reads a file front to back on threads of their own, a few blocks ahead of the one who takes
// them, and lists each block's start codes: reading and searching a block cost about as much as
// everything else done with it, so two threads read and search alternate blocks while the
// taker handles the codes. Blocks are handed out in file order. Reads stop at `total` bytes
// (the size the file had when the scan began) or at the first short read. The threads end with
// the object.
class TReadAhead {
public:
  static constexpr std::size_t kReaders = 2;
  static constexpr std::size_t kBlocks = 2 * kReaders + 1;  // being read, waiting, being looked at

  TReadAhead(const TByteSource& stream, std::int64_t total, std::size_t blockSize, std::size_t prefix);
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next block in file order, once read; null after the last one.
  TReadBlock* Next();
  // Gives a block taken with Next back for reading.
  void Release(TReadBlock* block);

private:
  void Run();
  void Read(TReadBlock& block);

  const TByteSource& FStream;
  const std::int64_t FTotal;
  const std::size_t FBlockSize;
  std::vector<TReadBlock> FSlots;
  std::deque<TReadBlock*> FFree;
  std::vector<TReadBlock*> FFilled;  // read, in any order
  std::int64_t FNextPosition = 0;    // where the next block to hand to a reader begins
  std::uint64_t FNextSequence = 0;   // its sequence number
  std::uint64_t FWanted = 0;         // the sequence number Next hands out next
  bool FEndQueued = false;           // a reader has read a last block: no more are begun
  bool FStop = false;
  bool FDone = false;                // the last block has been handed out
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::thread> FThreads;
};

} // namespace varlow
