#include "hexedit/HexEditText.h"

namespace varlow {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return c - 'a' + 10;
}

} // namespace

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::optional<std::uint8_t> ParseHexByte(std::string_view text) {
  if (text.size() != 2 || !IsHexDigit(text[0]) || !IsHexDigit(text[1])) return std::nullopt;
  return static_cast<std::uint8_t>(DigitValue(text[0]) * 16 + DigitValue(text[1]));
}

} // namespace varlow
