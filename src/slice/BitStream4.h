#pragma once
#include <cstdint>
#include <cstring>

#include "support/HResult.h"

namespace varlow {

// The fast slice-layer bit reader: most significant bit first, over a block its owner holds.
//
// Availability rule: a checked operation on n bits succeeds while at most 32 of them lie past
// the end of the block (FBitsLeft >= n - 32). A failing checked operation sets the error flag,
// returns 0 and does not move. The NoCheck forms only log and go on.
//
// Every block handed to SetData must be followed by at least 7 readable bytes (TPaddedBuffer,
// or a view inside a larger buffer): under the rule above the reader may fetch up to 7 bytes
// past the end. Beyond that margin the window reads as zeros, so even the NoCheck forms, which
// may move further, never touch memory outside the block and its padding.
//
// A reader that has not been given data points at a small block of zeros and reports
// FBitsLeft < -32, so every checked operation fails until SetData succeeds.
class TBitStream4 {
public:
  TBitStream4() noexcept;

  // Attaches a block. Null data or a size <= 0: E_FAIL, the previous block stays attached.
  HRESULT SetData(const std::uint8_t* Data, std::int32_t Size) noexcept;

  // Read access for the owners.
  bool Error() const noexcept { return FError != 0; }
  void SetError() noexcept { FError = -1; }
  std::int64_t BitsLeft() const noexcept { return FBitsLeft; }
  std::int32_t ByteIndex() const noexcept { return FByteIndex; }
  std::int32_t BitIndex() const noexcept { return FBitIndex; }
  std::int32_t Size() const noexcept { return FSize; }
  const std::uint8_t* Data() const noexcept { return FData; }
  // Bits passed since the start of the block.
  std::int64_t BitPosition() const noexcept { return std::int64_t{FByteIndex} * 8 + FBitIndex; }

  // Variable width, n = 0..32 (n + bit index above 32 costs one extra byte fetch).
  std::uint32_t NextBitsDW(std::int32_t n) noexcept {
    if (!Available(n)) return Fail();
    return Peek(n);
  }
  std::uint32_t NextBitsDWNoCheck(std::int32_t n) noexcept;
  std::uint32_t ReadBits(std::int32_t n) noexcept {
    if (!Available(n)) return Fail();
    std::uint32_t v = Peek(n);
    Move(n);
    return v;
  }
  void DumpBits(std::int32_t n) noexcept {
    // No upper limit: nothing is fetched.
    if (n < 0 || FBitsLeft < std::int64_t{n} - 32) {
      FError = -1;
      return;
    }
    Move(n);
  }
  void DumpBitsNoCheck(std::int32_t n) noexcept;
  // Moves on n >= 0 bits that the caller has already seen inside the block (from a window of
  // its own): nothing to check, the bits are there.
  void SkipSeen(std::int32_t n) noexcept { Move(n); }

  // Fixed widths, for the hot paths.
  std::uint32_t Next1Bit() noexcept { return NextFixed<1>(); }
  std::uint32_t Next4Bits() noexcept { return NextFixed<4>(); }
  std::uint32_t Next11Bits() noexcept { return NextFixed<11>(); }
  std::uint32_t Next16Bits() noexcept { return NextFixed<16>(); }
  std::uint32_t Next23Bits() noexcept { return NextFixed<23>(); }
  std::uint32_t Read3Bits() noexcept { return ReadFixed<3>(); }
  std::uint32_t Read5Bits() noexcept { return ReadFixed<5>(); }
  std::uint32_t Read7Bits() noexcept { return ReadFixed<7>(); }
  std::uint32_t Read8Bits() noexcept { return ReadFixed<8>(); }
  std::uint32_t Read10Bits() noexcept { return ReadFixed<10>(); }
  std::uint32_t Read16Bits() noexcept { return ReadFixed<16>(); }
  // One bit taken from the current byte alone.
  std::uint32_t ReadBit() noexcept {
    if (FBitsLeft < 1 - 32) return Fail();
    std::uint32_t v = (ByteAt(FByteIndex) >> (7 - FBitIndex)) & 1u;
    Move(1);
    return v;
  }

  // To the start of the next byte; nothing when already there.
  void ByteAlign() noexcept {
    if (FBitIndex > 0) {
      FBitsLeft -= 8 - FBitIndex;
      FBitIndex = 0;
      ++FByteIndex;
    }
  }

  // Whole bytes at the current byte, ignoring (and keeping) the bit index.
  std::uint32_t ReadAligned8BitDW() noexcept;
  std::uint32_t ReadAligned16Bit() noexcept {
    if (FBitsLeft < -16) return Fail();
    std::uint32_t v = Window() >> 16;
    MoveBytes(2);
    return v;
  }
  std::uint32_t NextAligned24Bit() noexcept {
    if (FBitsLeft < -8) return Fail();
    return Window() >> 8;
  }
  std::uint32_t ReadAligned32Bit() noexcept {
    if (FBitsLeft < 0) return Fail();
    std::uint32_t v = Window();
    MoveBytes(4);
    return v;
  }
  std::uint32_t NextAligned32Bit() noexcept {
    if (FBitsLeft < 0) return Fail();
    return Window();
  }
  void DumpAligned32Bit() noexcept {
    if (FBitsLeft < 0) {
      FError = -1;
      return;
    }
    MoveBytes(4);
  }
  void DumpAligned32BitNoCheck() noexcept { MoveBytes(4); }

  // Sends the next n bits as a text of "0" and "1" to the debug channel, without moving.
  void OutputDebugStringNumBits(std::int32_t n) noexcept;

private:
  static constexpr std::uint32_t kMask[33] = {
      0x0,       0x1,       0x3,       0x7,        0xF,        0x1F,       0x3F,       0x7F,      0xFF,
      0x1FF,     0x3FF,     0x7FF,     0xFFF,      0x1FFF,     0x3FFF,     0x7FFF,     0xFFFF,    0x1FFFF,
      0x3FFFF,   0x7FFFF,   0xFFFFF,   0x1FFFFF,   0x3FFFFF,   0x7FFFFF,   0xFFFFFF,   0x1FFFFFF, 0x3FFFFFF,
      0x7FFFFFF, 0xFFFFFFF, 0x1FFFFFFF, 0x3FFFFFFF, 0x7FFFFFFF, 0xFFFFFFFF};

  // The availability rule; widths outside 0..32 can never be satisfied.
  bool Available(std::int32_t n) const noexcept {
    return n >= 0 && n <= 32 && FBitsLeft >= std::int64_t{n} - 32;
  }
  std::uint32_t Fail() noexcept {
    FError = -1;
    return 0;
  }
  template <int N>
  std::uint32_t NextFixed() noexcept {
    if (FBitsLeft < N - 32) return Fail();
    return Peek(N);
  }
  template <int N>
  std::uint32_t ReadFixed() noexcept {
    if (FBitsLeft < N - 32) return Fail();
    std::uint32_t v = Peek(N);
    Move(N);
    return v;
  }

  // The byte at index i of the block, or 0 beyond the readable margin.
  std::uint32_t ByteAt(std::int64_t i) const noexcept { return i <= FReadableEnd ? FData[i] : 0u; }
  // The four bytes at the current byte as one big-endian value. Zeros beyond the margin.
  std::uint32_t Window() const noexcept {
    if (std::int64_t{FByteIndex} + 3 > FReadableEnd) [[unlikely]]
      return (ByteAt(FByteIndex) << 24) | (ByteAt(std::int64_t{FByteIndex} + 1) << 16) |
             (ByteAt(std::int64_t{FByteIndex} + 2) << 8) | ByteAt(std::int64_t{FByteIndex} + 3);
    std::uint32_t w;
    std::memcpy(&w, FData + FByteIndex, 4);
    return __builtin_bswap32(w);
  }
  // The next n bits (0..32), right-aligned.
  std::uint32_t Peek(std::int32_t n) const noexcept {
    std::int32_t end = FBitIndex + n;
    if (end <= 32) return static_cast<std::uint32_t>((std::uint64_t{Window()} >> (32 - end)) & kMask[n]);
    // Wider than the window allows at this bit index: take the fifth byte too.
    std::uint64_t w = (std::uint64_t{Window()} << 8) | ByteAt(std::int64_t{FByteIndex} + 4);
    return static_cast<std::uint32_t>((w >> (40 - end)) & kMask[n]);
  }
  void Move(std::int32_t n) noexcept {
    std::int64_t bits = std::int64_t{FBitIndex} + n;
    FByteIndex += static_cast<std::int32_t>(bits >> 3);
    FBitIndex = static_cast<std::int32_t>(bits & 7);
    FBitsLeft -= n;
  }
  void MoveBytes(std::int32_t k) noexcept {
    FByteIndex += k;
    FBitsLeft -= 8 * std::int64_t{k};
  }

  std::int32_t FSize = 0;
  std::int32_t FByteIndex = 0;
  std::int32_t FBitIndex = 0;
  std::int32_t FError = 0;
  std::int64_t FBitsLeft = 0;
  const std::uint8_t* FData = nullptr;
  // Index of the last byte that may be read: the block plus its 7-byte margin.
  std::int64_t FReadableEnd = 0;
};

} // namespace varlow
