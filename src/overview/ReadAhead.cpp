#include "overview/ReadAhead.h"

#include <algorithm>
#include <exception>

#include "overview/StartCodeFinder.h"

namespace varlow {

TReadAhead::TReadAhead(const TByteSource& stream, std::int64_t total, std::size_t blockSize, std::size_t prefix)
    : FStream(stream), FTotal(total), FBlockSize(blockSize), FSlots(kBlocks) {
  for (TReadBlock& slot : FSlots) {
    slot.Buffer = TPaddedBuffer(prefix + blockSize);
    slot.Prefix = prefix;
    FFree.push_back(&slot);
  }
  for (std::size_t k = 0; k < kReaders; ++k) FThreads.emplace_back([this] { Run(); });
}

TReadAhead::~TReadAhead() {
  {
    std::lock_guard guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

void TReadAhead::Run() {
  for (;;) {
    TReadBlock* block = nullptr;
    {
      std::unique_lock guard(FLock);
      FChanged.wait(guard, [this] { return FStop || FEndQueued || !FFree.empty(); });
      if (FStop || FEndQueued) return;
      block = FFree.front();
      FFree.pop_front();
      block->Position = FNextPosition;
      block->Sequence = FNextSequence++;
      block->Wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(FTotal - FNextPosition, 0, std::int64_t(FBlockSize)));
      FNextPosition += static_cast<std::int64_t>(block->Wanted);
      // The block that reaches the size the file had is the last one asked for.
      if (FNextPosition >= FTotal) FEndQueued = true;
    }
    Read(*block);
    {
      std::lock_guard guard(FLock);
      if (block->Last) FEndQueued = true;
      FFilled.push_back(block);
    }
    FChanged.notify_all();
  }
}

void TReadAhead::Read(TReadBlock& block) {
  block.Got = 0;
  block.Failure.clear();
  try {
    if (block.Wanted > 0)
      block.Got = static_cast<std::size_t>(FStream.ReadAt(block.Position, {block.Data(), block.Wanted}, &block.Places,
                                                          block.Position + static_cast<std::int64_t>(block.Wanted)));
  } catch (const std::exception& e) {
    block.Failure = e.what();
  } catch (...) {
    block.Failure = "unknown failure";
  }
  block.StartCodes.clear();
  FindStartCodesButSliceRuns(block.Data(), block.Got, block.StartCodes);
  // In a plain file a short read means the file shrank; a container's range holds fewer video
  // bytes than file bytes anyway.
  const bool shortRead = !FStream.IsContainer() && block.Got < block.Wanted;
  block.Last = shortRead || block.Position + static_cast<std::int64_t>(block.Wanted) >= FTotal || !block.Failure.empty();
}

TReadBlock* TReadAhead::Next() {
  std::unique_lock guard(FLock);
  TReadBlock* block = nullptr;
  FChanged.wait(guard, [&] {
    if (FDone) return true;
    const auto found = std::find_if(FFilled.begin(), FFilled.end(), [this](TReadBlock* b) { return b->Sequence == FWanted; });
    if (found == FFilled.end()) return false;
    block = *found;
    FFilled.erase(found);
    return true;
  });
  if (block == nullptr) return nullptr;
  ++FWanted;
  if (block->Last) FDone = true;  // blocks read after a short one are never handed out
  return block;
}

void TReadAhead::Release(TReadBlock* block) {
  if (block == nullptr) return;
  {
    std::lock_guard guard(FLock);
    FFree.push_back(block);
  }
  FChanged.notify_all();
}

} // namespace varlow
