#include "transrate/Buffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/PaddedBuffer.h"

namespace varlow {

TBuffer::TBuffer(std::int32_t InitialCapacity, std::int32_t GrowBy) : FGrowBy(std::max(GrowBy, 0)) {
  if (InitialCapacity > 0) SetCapacity(InitialCapacity);
}

void TBuffer::SetCapacity(std::int32_t NewCapacity) {
  const std::int32_t size = DataSize();
  if (NewCapacity < size) throw std::length_error("TBuffer capacity below its data");
  auto block = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(NewCapacity) + kReaderPadding);
  if (FData && size > 0) std::memcpy(block.get(), DataPtr(), static_cast<std::size_t>(size));
  FData = std::move(block);
  FStart = 0;
  FEnd = size;
  FCapacity = NewCapacity;
  ZeroPadding();
}

void TBuffer::SetReadPos(std::int32_t Position) {
  if (Position < FEnd) {
    FStart = std::max(Position, 0);
  } else {
    FStart = 0;
    FEnd = 0;
  }
}

void TBuffer::Compact() {
  if (FStart <= 0) return;
  const std::int32_t size = DataSize();
  std::memmove(FData.get(), DataPtr(), static_cast<std::size_t>(size));
  FStart = 0;
  FEnd = size;
}

void TBuffer::Append(const std::uint8_t* Source, std::int32_t Count) {
  if (Count <= 0) return;
  if (static_cast<std::int64_t>(FEnd) + Count > FCapacity) {
    const std::int64_t wanted = static_cast<std::int64_t>(FEnd) + std::max(Count, FGrowBy);
    if (wanted > INT32_MAX - static_cast<std::int64_t>(kReaderPadding))
      throw std::length_error("TBuffer larger than 2 GiB");
    SetCapacity(static_cast<std::int32_t>(wanted));
  }
  std::memcpy(WritePtr(), Source, static_cast<std::size_t>(Count));
  FEnd += Count;
  ZeroPadding();
}

void TBuffer::ZeroPadding() {
  // The bytes after the data up to the block's padding end; at most kReaderPadding of them.
  const std::size_t room = static_cast<std::size_t>(FCapacity - FEnd) + kReaderPadding;
  std::memset(WritePtr(), 0, std::min(room, kReaderPadding));
}

} // namespace varlow
