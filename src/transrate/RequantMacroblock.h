#pragma once
// A macroblock as the re-quantising walk reads it: what it writes back anew (type, quantiser,
// coefficients) and where the input bits it copies lie.
#include <array>
#include <cstdint>

namespace varlow {

struct TRequantBlock {
  std::int64_t DcStart = 0, DcEnd = 0;  // intra DC bits in the input
  int Count = 0;                        // coefficients, in scan order
  std::array<std::uint8_t, 64> Pos{};   // their scan positions
  std::array<std::int16_t, 64> Level{};
};

struct TRequantMacroblock {
  int Increment = 0;  // macroblock_address_increment with its escapes
  int Flags = 0;      // macroblock_type
  int QuantIn = 0;    // quantiser_scale_code it carries (0: none); in the walk, the one in force
  std::int64_t TypeEnd = 0, MotionTypeEnd = 0, DctType = -1, MotionStart = 0, MotionEnd = 0;
  std::uint32_t Coded = 0;
  std::array<TRequantBlock, 8> Blocks;
};

} // namespace varlow
