#pragma once
#include <cstdint>

namespace varlow {

// Colours of the picture-size graph, shared by the window and the SVG export (0xRRGGBB).
inline constexpr std::uint32_t kColourI = 0xD62728;
inline constexpr std::uint32_t kColourP = 0x1F77B4;
inline constexpr std::uint32_t kColourB = 0x2CA02C;
inline constexpr std::uint32_t kColourOther = 0x7F7F7F;
inline constexpr std::uint32_t kColourGroup = 0xB0B0B0;
inline constexpr std::uint32_t kColourRate = 0xFF7F0E;
inline constexpr std::uint32_t kColourDeclared = 0x9467BD;

constexpr std::uint32_t CodingTypeColour(std::uint8_t codingType) {
  switch (codingType) {
    case 1: return kColourI;
    case 2: return kColourP;
    case 3: return kColourB;
    default: return kColourOther;
  }
}

} // namespace varlow
