#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varlow {

// What a keystroke in a byte cell's editor leaves: the text the cell shows and the byte it
// stands for (none when the text cannot stand for one).
struct TEditRepair {
  std::string CellText;
  std::optional<std::uint8_t> Value;
};

// Repairs the two characters of a cell editor (untyped positions are blanks): a first
// character that is not a hexadecimal digit or a blank makes the cell "00", a second one
// makes it the first digit followed by "0", and two blanks make "00". Any other text
// (empty, longer than two characters) gives "00" and no value.
//
// A blank stands for the digit 0 wherever it is, so a single typed digit is the high half of
// the byte ("4 " is 0x40) and a cell completed on leaving ("4 " shown as "40") keeps the value
// already recorded for it.
TEditRepair RepairEditText(std::string_view editText);

} // namespace varlow
