#include "hexedit/HexEditText.h"

#include <cctype>

namespace varlow {

namespace {

bool IsCellChar(char c) { return c == ' ' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;  // a blank
}

} // namespace

TEditRepair RepairEditText(std::string_view editText) {
  if (editText.empty() || editText.size() > 2) return {"00", std::nullopt};
  std::string upper(editText);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() == 1) upper += ' ';

  std::string cell = upper;
  char first = upper[0];
  if (!IsCellChar(first)) {
    cell = "00";
    first = '0';
  }
  if (!IsCellChar(upper[1])) cell = std::string(1, first) + '0';
  if (upper == "  ") cell = "00";
  return {cell, static_cast<std::uint8_t>(DigitValue(cell[0]) * 16 + DigitValue(cell[1]))};
}

} // namespace varlow
