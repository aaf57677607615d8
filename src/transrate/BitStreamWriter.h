#pragma once
#include <cstdint>
#include <cstring>

#include "support/HResult.h"

namespace varlow {

// Writes fields of 1 to 32 bits, most significant bit first, into a block owned by the caller.
// Each field is one masked, shifted 32-bit word ORed into the zero-filled destination, so the
// writer always keeps four bytes of room in reserve.
class TBitStreamWriter {
public:
  // Attaches a destination and zero-fills it. E_FAIL for a null block or a non-positive size.
  HRESULT SetDestination(std::uint8_t* Dest, std::int32_t Size);
  // Writes the low Count bits of Value (Count <= 32 - bits used in the current byte).
  // Returns false, and sets the overflow flag, when the destination is too full.
  bool PutBits(std::uint32_t Value, std::int32_t Count) {
    // Away from the end of the destination: one 64-bit OR, whatever the bit position.
    if (FBytePos + 12 < FDestSize && Count > 0 && Count <= 32) {
      const std::uint64_t bits = (std::uint64_t{Value} & ((std::uint64_t{1} << Count) - 1)) << (64 - FBitPos - Count);
      std::uint64_t out;
      std::memcpy(&out, FCurrent, 8);
      out |= __builtin_bswap64(bits);
      std::memcpy(FCurrent, &out, 8);
      const std::int32_t end = FBitPos + Count;
      FCurrent += end >> 3;
      FBytePos += end >> 3;
      FBitPos = end & 7;
      return true;
    }
    return PutBitsNearEnd(Value, Count);
  }
  // Copies Count bits of Source, starting SourceBit bits into it, as PutBits would one by one.
  // Source must be followed by 7 readable bytes after its last bit's byte.
  bool CopyBits(const std::uint8_t* Source, std::int64_t SourceBit, std::int64_t Count);
  // Completes the current byte with zero bits.
  bool ByteAlign();
  // Whole bytes completed so far.
  std::int32_t BytesWritten() const { return FBytePos; }
  std::int32_t BitPos() const { return FBitPos; }
  bool Overflow() const { return FOverflow != 0; }

private:
  bool PutBitsNearEnd(std::uint32_t Value, std::int32_t Count);

  std::uint8_t* FDest = nullptr;
  std::int32_t FDestSize = 0;
  std::int32_t FBytePos = 0;
  std::int32_t FBitPos = 0;
  std::uint8_t* FCurrent = nullptr;
  std::int32_t FOverflow = 0;
};

} // namespace varlow
