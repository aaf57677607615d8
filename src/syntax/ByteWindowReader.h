#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varlow {

// A header reader (for the readers of HeaderReaders) over the first 16 bytes of a header, for
// the hot paths that have checked a short header lies wholly within their bytes: the window is
// loaded once, no availability rule, no error flag; bits past the window read as zeros.
class TByteWindowReader {
 public:
  static constexpr std::size_t kWindowBytes = 16;

  TByteWindowReader(const std::uint8_t* bytes, std::size_t size) {
    std::uint8_t window[kWindowBytes] = {};
    std::memcpy(window, bytes, size < kWindowBytes ? size : kWindowBytes);
    std::memcpy(&FHigh, window, 8);
    std::memcpy(&FLow, window + 8, 8);
    FHigh = __builtin_bswap64(FHigh);
    FLow = __builtin_bswap64(FLow);
  }

  std::uint32_t ReadBits(std::int32_t n) {
    const std::uint32_t v = Peek(n);
    FBit += n;
    return v;
  }
  std::uint32_t ReadBit() { return ReadBits(1); }
  std::uint32_t NextBit() const { return Peek(1); }
  // The aligned reads start at the next byte boundary (the headers only ask for them there).
  std::uint32_t ReadAligned32Bit() {
    Align();
    return ReadBits(32);
  }
  std::uint32_t ReadAligned8Bit() {
    Align();
    return ReadBits(8);
  }
  std::uint32_t NextAligned16Bit() {
    Align();
    return Peek(16);
  }
  std::int64_t BitPos() const { return FBit; }

 private:
  void Align() { FBit = (FBit + 7) & ~std::int32_t{7}; }
  // The next n bits (1..32), right-aligned.
  std::uint32_t Peek(std::int32_t n) const {
    if (n <= 0 || FBit >= 128) return 0;
    // The 64 bits from the current one: from the first half, the second, or both.
    std::uint64_t w;
    if (FBit == 0)
      w = FHigh;
    else if (FBit < 64)
      w = FHigh << FBit | FLow >> (64 - FBit);
    else
      w = FLow << (FBit - 64);
    return static_cast<std::uint32_t>(w >> (64 - n));
  }

  std::uint64_t FHigh = 0;  // window bytes 0 to 7, big-endian
  std::uint64_t FLow = 0;   // bytes 8 to 15
  std::int32_t FBit = 0;
};

}  // namespace varlow
