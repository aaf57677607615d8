#include "transrate/SizeTarget.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace varlow {

namespace {

struct TSuffix {
  std::string_view Text;
  double Factor;
};

constexpr TSuffix kSuffixes[] = {
    {"KiB", 1024.0},  {"MiB", 1048576.0}, {"GiB", 1073741824.0}, {"kB", 1e3}, {"KB", 1e3}, {"MB", 1e6},
    {"GB", 1e9},      {"k", 1e3},         {"K", 1e3},            {"M", 1e6},  {"G", 1e9},  {"B", 1.0},
};

constexpr double kLargestSize = 4.6e18;  // about 2^62

}  // namespace

std::optional<std::int64_t> ParseSize(std::string_view Text) {
  double factor = 1.0;
  bool suffixed = false;
  for (const TSuffix& suffix : kSuffixes) {
    if (Text.size() > suffix.Text.size() && Text.ends_with(suffix.Text)) {
      factor = suffix.Factor;
      suffixed = suffix.Factor != 1.0;
      Text.remove_suffix(suffix.Text.size());
      break;
    }
  }
  if (Text.empty() || !std::isdigit(static_cast<unsigned char>(Text.front()))) return std::nullopt;
  if (!suffixed) {
    std::int64_t bytes = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), bytes);
    if (error != std::errc{} || end != Text.data() + Text.size() || bytes <= 0) return std::nullopt;
    return bytes;
  }
  // from_chars of double is in libstdc++ 11 and later.
  double value = 0;
  const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  if (error != std::errc{} || end != Text.data() + Text.size()) return std::nullopt;
  const double bytes = std::floor(value * factor);
  if (!(bytes >= 1.0) || bytes > kLargestSize) return std::nullopt;
  return static_cast<std::int64_t>(bytes);
}

std::int64_t TSizePlan::GroupBudget(std::int64_t GroupInputBits, std::int64_t InputBytesBefore,
                                    std::int64_t OutputBytesBefore) const {
  const double inputLeft = static_cast<double>(std::max<std::int64_t>(FInput - InputBytesBefore, 1)) * 8;
  const double outputLeft = static_cast<double>(std::max<std::int64_t>(FOutput - OutputBytesBefore, 0)) * 8;
  // A group is never given more than all that is left, nor asked to grow.
  const double share = std::min(static_cast<double>(GroupInputBits) / inputLeft, 1.0);
  return static_cast<std::int64_t>(std::min(outputLeft * share, static_cast<double>(GroupInputBits)));
}

}  // namespace varlow
