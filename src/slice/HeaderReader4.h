#pragma once
#include <cstdint>

#include "slice/BitStream4.h"

namespace varlow {

// The analyser's bit reader as the header readers (syntax/HeaderReaders.h) read.
class THeaderReader4 {
 public:
  explicit THeaderReader4(TBitStream4& bs) : FBs(bs) {}
  std::uint32_t ReadAligned32Bit() { return FBs.ReadAligned32Bit(); }
  std::uint32_t ReadBits(std::int32_t n) { return FBs.ReadBits(n); }
  std::uint32_t ReadBit() { return FBs.ReadBit(); }
  std::uint32_t NextBit() { return FBs.Next1Bit(); }
  std::uint32_t ReadAligned8Bit() { return FBs.ReadAligned8BitDW(); }
  std::uint32_t NextAligned16Bit() { return FBs.NextBitsDW(16); }  // byte-aligned where it is asked
  std::int64_t BitPos() const { return FBs.BitPosition(); }

 private:
  TBitStream4& FBs;
};

}  // namespace varlow
