#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace varlow {

bool IsHexDigit(char c);

// The byte a cell's text stands for: exactly two hexadecimal digits, either case ("a1" is
// 0xA1). Any other text stands for no byte: one digit, blanks, a letter past F, three
// characters. A byte is never made up from text that does not spell it.
std::optional<std::uint8_t> ParseHexByte(std::string_view text);

} // namespace varlow
