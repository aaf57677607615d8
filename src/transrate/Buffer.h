#pragma once
#include <cstdint>
#include <memory>

namespace varlow {

// A growable byte buffer with a movable read position. The valid data are the bytes
// FStart .. FEnd - 1 of the block. Every block is allocated with kReaderPadding spare bytes
// after its capacity, and Append leaves those bytes after the data zeroed, so the data can go
// to a bit reader as they are.
class TBuffer {
public:
  explicit TBuffer(std::int32_t InitialCapacity = 0, std::int32_t GrowBy = 0);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  std::uint8_t* DataPtr() const { return FData.get() + FStart; }
  std::int32_t DataSize() const { return FEnd - FStart; }
  std::uint8_t* WritePtr() const { return FData.get() + FEnd; }
  std::int32_t FreeSpace() const { return FCapacity - FEnd; }
  std::int32_t Capacity() const { return FCapacity; }
  std::int32_t ReadPos() const { return FStart; }

  // Reallocates to NewCapacity bytes (never less than DataSize), moving the data to the front.
  void SetCapacity(std::int32_t NewCapacity);
  // Moves the read position to an absolute offset in the block; at or past the write position
  // the buffer becomes empty and both positions return to 0.
  void SetReadPos(std::int32_t Position);
  // Moves the valid data to the front of the block.
  void Compact();
  // Copies Count bytes to the end, growing (and compacting) when they do not fit.
  void Append(const std::uint8_t* Source, std::int32_t Count);
  // Empties the buffer and keeps the block.
  void Clear() { FStart = FEnd = 0; }

private:
  void ZeroPadding();

  std::unique_ptr<std::uint8_t[]> FData;
  std::int32_t FCapacity = 0;
  std::int32_t FEnd = 0;
  std::int32_t FStart = 0;
  std::int32_t FGrowBy = 0;
};

} // namespace varlow
