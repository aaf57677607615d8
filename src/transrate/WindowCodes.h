#pragma once
// Slice-layer codes decoded from the next 16 bits at hand, for the transcoder's walk while its
// 64-bit window lies inside the unit. Each gives what the element reader of the same name in
// slice/SyntaxReaders.h gives when all its bits are available; near the end of the unit the
// walk uses those readers, which check availability.
#include <cstdint>

#include "slice/SyntaxReaders.h"
#include "slice/VLCConstTables.h"

namespace varlow {

inline TCodeRead FromEntry(const TCodeEntry& e) { return {e.Length, e.Value, e.Length > 0}; }

// macroblock_address_increment, once the escapes are consumed.
inline TCodeRead MacroblockAddressIncrementOf(std::uint32_t next16) {
  if (next16 >= 0x1000) return FromEntry(kAddressIncrementStage1[next16 >> 11]);
  if (next16 >= 0x0300) return FromEntry(kAddressIncrementStage2[(next16 >> 5) & 0x7F]);
  return {};
}

// macroblock_type of picture_coding_type 1, 2 or 3.
inline TCodeRead MacroblockTypeOf(std::uint32_t next16, std::int32_t pictureCodingType) {
  switch (pictureCodingType) {
    case 1: return FromEntry(kMacroblockTypeI[next16 >> 15]);
    case 2: return FromEntry(kMacroblockTypeP[next16 >> 10]);
    case 3: return FromEntry(kMacroblockTypeB[next16 >> 10]);
    default: return {};
  }
}

// dct_dc_size_luminance or dct_dc_size_chrominance.
inline TCodeRead DctDcSizeOf(std::uint32_t next16, bool luminance) {
  if (next16 < kDcSizeLongPrefix)
    return FromEntry(luminance ? kDctDcSizeLuminanceStage1[next16 >> 11] : kDctDcSizeChrominanceStage1[next16 >> 11]);
  return FromEntry(luminance ? kDctDcSizeLuminanceStage2[(next16 >> 7) & 0x1F]
                             : kDctDcSizeChrominanceStage2[(next16 >> 6) & 0x1F]);
}

} // namespace varlow
