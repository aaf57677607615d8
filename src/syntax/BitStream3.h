#pragma once
#include <cstdint>

#include "support/HResult.h"

namespace varlow {

// The small bit reader for headers. It reads big-endian windows from an attached block and never
// touches a byte at or past the attached size: every operation checks that enough bytes remain
// (strictly: a 32-bit window needs five bytes from the current byte to the end of the block).
// A shortage never throws: the read returns 0, does not move and raises the error flag, which
// stays up until the next SetData.
class TBitStream3 {
public:
  TBitStream3() = default;
  TBitStream3(const TBitStream3&) = delete;
  TBitStream3& operator=(const TBitStream3&) = delete;

  // Attaches `size` bytes at `data`; E_FAIL (and no change) when data is null or size <= 0.
  HRESULT SetData(const std::uint8_t* data, std::int32_t size);

  std::uint32_t ReadBit();
  std::uint32_t NextBit();
  // Next n bits (FBitIndex + n must not exceed 32), right-aligned.
  std::uint32_t ReadBits(int n);
  std::uint32_t Read3Bits() { return ReadBits(3); }
  std::uint32_t Read7Bits() { return ReadBits(7); }
  std::uint32_t Read8Bits() { return ReadBits(8); }
  std::uint32_t Read10Bits() { return ReadBits(10); }
  std::uint32_t Read16Bits() { return ReadBits(16); }

  void ByteAlign();
  std::uint32_t ReadAligned8Bit();
  std::uint32_t NextAligned16Bit();
  std::uint32_t ReadAligned32Bit();
  std::uint32_t NextAligned32Bit();
  void SkipAlignedByte();

  std::int32_t DataSize() const { return FDataSize; }
  std::int32_t BytePos() const { return FBytePos; }
  std::int32_t BitIndex() const { return FBitIndex; }
  // Bits passed since the start of the block.
  std::int64_t BitPos() const { return std::int64_t{FBytePos} * 8 + FBitIndex; }
  bool Error() const { return FError != 0; }

private:
  // Whether `bytes` more bytes than the current one lie strictly inside the block.
  bool Available(std::int32_t bytes) const { return std::int64_t{FBytePos} + bytes < FDataSize; }
  std::uint32_t Shortage();
  std::uint32_t Window() const;  // four bytes at FCurrent, big-endian
  std::uint32_t Peek(int n) const;
  void Skip(int n);

  std::int32_t FDataSize = 0;
  std::int32_t FBytePos = 0;
  std::int32_t FBitIndex = 0;
  const std::uint8_t* FCurrent = nullptr;
  std::int32_t FError = 0;
  const std::uint8_t* FData = nullptr;
};

} // namespace varlow
