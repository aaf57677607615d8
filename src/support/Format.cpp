#include "support/Format.h"

#include <cstdio>
#include <stdexcept>

namespace varlow {

std::string HexUpper(std::uint64_t value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(value));
  return buf;
}

namespace {

std::int64_t AsInteger(const FormatArg& a) {
  if (auto* v = std::get_if<std::int64_t>(&a.value())) return *v;
  throw std::invalid_argument("Format: integer expected");
}

std::string Decimal(std::int64_t v, int precision) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*lld", precision < 0 ? 1 : precision, static_cast<long long>(v));
  return buf;
}

} // namespace

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  auto next = args.begin();
  auto take = [&]() -> const FormatArg& {
    if (next == args.end()) throw std::invalid_argument("Format: missing argument");
    return *next++;
  };
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= fmt.size()) throw std::invalid_argument("Format: dangling %");
    if (fmt[i] == '%') {
      out += '%';
      continue;
    }
    int precision = -1;
    if (fmt[i] == '.') {
      precision = 0;
      while (++i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') precision = precision * 10 + (fmt[i] - '0');
      if (i >= fmt.size()) throw std::invalid_argument("Format: bad precision");
    }
    switch (fmt[i]) {
    case 'd':
      out += Decimal(AsInteger(take()), precision);
      break;
    case 'x':
    case 'X': {
      // Negative 32-bit values print as their 32-bit pattern, as HRESULTs do.
      std::int64_t v = AsInteger(take());
      std::uint64_t u = v < 0 && v >= INT32_MIN ? static_cast<std::uint32_t>(v) : static_cast<std::uint64_t>(v);
      out += HexUpper(u, precision < 0 ? 1 : precision);
      break;
    }
    case 'f': {
      const FormatArg& a = take();
      double d = 0;
      if (auto* f = std::get_if<double>(&a.value())) d = *f;
      else d = static_cast<double>(AsInteger(a));
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.*f", precision < 0 ? 2 : precision, d);
      out += buf;
      break;
    }
    case 's': {
      const FormatArg& a = take();
      if (auto* s = std::get_if<std::string_view>(&a.value())) out += *s;
      else throw std::invalid_argument("Format: text expected");
      break;
    }
    default:
      throw std::invalid_argument("Format: unknown directive");
    }
  }
  return out;
}

std::string WidthText(std::int64_t width) {
  return width == 1 ? " (1 bit)" : " (" + std::to_string(width) + " bits)";
}

} // namespace varlow
