#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace varlow {

// One argument of Format: integers of any width, doubles and texts.
class FormatArg {
public:
  template <class T>
    requires std::is_integral_v<T>
  FormatArg(T v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(double v) : value_(v) {}
  FormatArg(std::string_view v) : value_(v) {}
  FormatArg(const char* v) : value_(std::string_view(v)) {}
  FormatArg(const std::string& v) : value_(std::string_view(v)) {}

  const std::variant<std::int64_t, double, std::string_view>& value() const { return value_; }

private:
  std::variant<std::int64_t, double, std::string_view> value_;
};

// printf-like formatting with the directives the program's texts use:
//   %d      signed decimal; %.Nd pads with zeros to N digits
//   %x      hexadecimal in upper case; %.Nx pads with zeros to N digits
//   %f      fixed point with 2 decimals (%.Nf: N decimals)
//   %s      text
//   %%      a percent sign
// A directive without a matching argument, or with one of the wrong kind, throws
// std::invalid_argument, so a mismatched message fails loudly inside the caller's trap.
std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);

// Upper-case hexadecimal of an unsigned value with at least `digits` digits.
std::string HexUpper(std::uint64_t value, int digits);

// The width an element line ends with: " (1 bit)", " (N bits)".
std::string WidthText(std::int64_t width);

} // namespace varlow
