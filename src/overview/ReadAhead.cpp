#include "overview/ReadAhead.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "overview/StartCodeFinder.h"

namespace varlow {

TReadAhead::TReadAhead(const TFileStream& stream, std::int64_t total, std::size_t blockSize, std::size_t prefix)
    : FStream(stream), FTotal(total), FBlockSize(blockSize) {
  for (TReadBlock& slot : FSlots) {
    slot.Buffer = TPaddedBuffer(prefix + blockSize);
    slot.Prefix = prefix;
    FFree.push_back(&slot);
  }
  FThread = std::thread([this] { Run(); });
}

TReadAhead::~TReadAhead() {
  {
    std::lock_guard guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TReadAhead::Run() {
  std::int64_t position = 0;
  for (;;) {
    TReadBlock* block = nullptr;
    {
      std::unique_lock guard(FLock);
      FChanged.wait(guard, [this] { return FStop || !FFree.empty(); });
      if (FStop) return;
      block = FFree.front();
      FFree.pop_front();
    }
    block->Position = position;
    block->Wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(FTotal - position, 0, std::int64_t(FBlockSize)));
    block->Got = 0;
    block->Failure.clear();
    try {
      if (block->Wanted > 0)
        block->Got = static_cast<std::size_t>(FStream.ReadAt(position, {block->Data(), block->Wanted}));
    } catch (const std::exception& e) {
      block->Failure = e.what();
    } catch (...) {
      block->Failure = "unknown failure";
    }
    block->StartCodes.clear();
    FindAllStartCodes(block->Data(), block->Got, block->StartCodes);
    position += static_cast<std::int64_t>(block->Got);
    block->Last = block->Got < block->Wanted || position >= FTotal || !block->Failure.empty();
    {
      std::lock_guard guard(FLock);
      FFilled.push_back(block);
    }
    FChanged.notify_all();
    if (block->Last) return;
  }
}

TReadBlock* TReadAhead::Next() {
  std::unique_lock guard(FLock);
  FChanged.wait(guard, [this] { return !FFilled.empty() || FDone; });
  if (FFilled.empty()) return nullptr;
  TReadBlock* block = FFilled.front();
  FFilled.pop_front();
  if (block->Last) FDone = true;
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
