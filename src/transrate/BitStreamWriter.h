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
  [[gnu::always_inline]] bool PutBits(std::uint32_t Value, std::int32_t Count) {
    // Away from the end of the destination: one 64-bit OR, whatever the bit position.
    if (FBytePos + 12 < FDestSize && Count > 0 && Count <= 32) {
      StoreAwayFromEnd(Value, Count);
      return true;
    }
    return PutBitsNearEnd(Value, Count);
  }
  // Writes the low Count bits (1 to 64) of Value, as PutBits would in parts; up to
  // kMaxGatheredBits go out in one store. For callers that gather several codes in a word
  // before they write them (TBitGatherer).
  static constexpr std::int32_t kMaxGatheredBits = 57;  // a 64-bit store takes them at any bit position
  [[gnu::always_inline]] bool PutGathered(std::uint64_t Value, std::int32_t Count) {
    if (FBytePos + 12 < FDestSize && Count > 0 && Count <= kMaxGatheredBits) {
      StoreAwayFromEnd(Value, Count);
      return true;
    }
    if (Count <= 32) return PutBits(static_cast<std::uint32_t>(Value), Count);
    return PutBits(static_cast<std::uint32_t>(Value >> 32), Count - 32) && PutBits(static_cast<std::uint32_t>(Value), 32);
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
  // The low Count bits (1 to 57) of Value in one 64-bit OR at the current bit position; the
  // destination must hold 12 more bytes.
  [[gnu::always_inline]] void StoreAwayFromEnd(std::uint64_t Value, std::int32_t Count) {
    const std::uint64_t bits = (Value & ((std::uint64_t{1} << Count) - 1)) << (64 - FBitPos - Count);
    std::uint64_t out;
    std::memcpy(&out, FCurrent, 8);
    out |= __builtin_bswap64(bits);
    std::memcpy(FCurrent, &out, 8);
    const std::int32_t end = FBitPos + Count;
    FCurrent += end >> 3;
    FBytePos += end >> 3;
    FBitPos = end & 7;
  }

  std::uint8_t* FDest = nullptr;
  std::int32_t FDestSize = 0;
  std::int32_t FBytePos = 0;
  std::int32_t FBitPos = 0;
  std::uint8_t* FCurrent = nullptr;
  std::int32_t FOverflow = 0;
};

// Gathers short codes, right-aligned, in a word of its own and hands them to the writer several
// at a time: one writer call per kMaxGatheredBits bits instead of one per code. Nothing else may
// write to the writer between the first Put and Flush.
class TBitGatherer {
public:
  explicit TBitGatherer(TBitStreamWriter& Writer) : FWriter(Writer) {}
  TBitGatherer(const TBitGatherer&) = delete;
  TBitGatherer& operator=(const TBitGatherer&) = delete;

  // Adds the low Count (0..32) bits of Code; Code holds no bits above them.
  [[gnu::always_inline]] void Put(std::uint32_t Code, std::int32_t Count) {
    if (FBits + Count > TBitStreamWriter::kMaxGatheredBits) Flush();
    FWord = FWord << Count | Code;
    FBits += Count;
  }
  [[gnu::always_inline]] void Flush() {
    if (FBits > 0) FWriter.PutGathered(FWord, FBits);
    FWord = 0;
    FBits = 0;
  }

private:
  TBitStreamWriter& FWriter;
  std::uint64_t FWord = 0;
  std::int32_t FBits = 0;
};

} // namespace varlow
