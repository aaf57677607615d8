#pragma once
// A macroblock as the re-quantising walk reads it: what it writes back anew (type, quantiser,
// coefficients) and where the input bits it copies lie.
#include <array>
#include <cstdint>

namespace varlow {

// A block's coefficients, in scan order, where the reader put them: in the group's store of
// kept macroblocks, or in the macroblock's own rows.
struct TRequantBlock {
  std::int64_t DcStart = 0, DcEnd = 0;  // intra DC bits in the input
  int Count = 0;
  const std::uint8_t* Pos = nullptr;    // scan positions
  const std::int16_t* Level = nullptr;
};

struct TRequantMacroblock {
  TRequantMacroblock() = default;
  // The blocks may point into the macroblock's own rows: a copy would share them.
  TRequantMacroblock(const TRequantMacroblock&) = delete;
  TRequantMacroblock& operator=(const TRequantMacroblock&) = delete;

  int Increment = 0;  // macroblock_address_increment with its escapes
  int Flags = 0;      // macroblock_type
  int QuantIn = 0;    // quantiser_scale_code it carries (0: none); in the walk, the one in force
  std::int64_t TypeEnd = 0, MotionTypeEnd = 0, DctType = -1, MotionStart = 0, MotionEnd = 0;
  std::uint32_t Coded = 0;
  std::array<TRequantBlock, 8> Blocks;
  // Room for the coded blocks' coefficients, one after the other, when they are read from the
  // input and no store keeps them.
  std::array<std::uint8_t, 8 * 64> OwnPos;
  std::array<std::int16_t, 8 * 64> OwnLevel;
};

} // namespace varlow
