#pragma once
#include <cstdint>

#include "syntax/HeaderRecords.h"

namespace varlow {

// A slice as the slice analyser read it: its place in the picture and its header.
struct TSliceHeaderRecord {
  std::int32_t SliceIndex = 0;  // the slice, counted in file order from the picture's start code
  TSliceHeaderRec Header;
  bool Complete = false;  // false when the slice was refused after its start code (a row outside the picture)
};

// One macroblock as the slice analyser read it: the values the picture overlay needs, taken
// from the bits, not from the tree's text.
struct TMacroblockRecord {
  std::int32_t NumberInSlice = 0;                 // the "MacroBlock %d" number
  std::int32_t Escapes = 0;                       // macroblock_escape codes before the increment (33 each)
  std::int32_t macroblock_address_increment = 0;  // 0: no valid increment was found, the slice ends here
  std::int32_t macroblock_type = 0;
  std::int32_t MotionType = -1;            // frame_motion_type or field_motion_type; -1 when not coded
  std::int32_t quantiser_scale_code = -1;  // -1: the macroblock keeps the one in force
  std::int32_t VectorCount[2] = {0, 0};    // motion vectors read, forward and backward (concealment ones too)
  std::int32_t motion_vertical_field_select[2][2] = {{-1, -1}, {-1, -1}};  // [r][s]; -1 when not coded
  std::int32_t motion_code[2][2][2] = {};                                  // [r][s][t]
  std::int32_t motion_residual[2][2][2] = {};                              // 0 when not coded

  // Macroblocks from the last one to this: escapes and increment together.
  std::int32_t AddressIncrement() const {
    return macroblock_address_increment > 0 ? Escapes * 33 + macroblock_address_increment : Escapes * 33;
  }
};

// Receives the slice analyser's slices and macroblocks as it reads them, in bit order.
class TMacroblockListener {
 public:
  virtual ~TMacroblockListener() = default;
  // A slice begins: called once its header is read (or when it is refused after its start code).
  virtual void Slice(const TSliceHeaderRecord& slice) = 0;
  // A macroblock ends (or was cut short by a code no table knows).
  virtual void Macroblock(const TMacroblockRecord& macroblock) = 0;
};

}  // namespace varlow
