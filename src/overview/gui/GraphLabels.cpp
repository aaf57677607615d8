#include "overview/gui/GraphLabels.h"

#include <cmath>
#include <iterator>

namespace varlow {

namespace {

// `value` in the largest of `units` (each 1,000 times the one before) that keeps it at 1 or
// more; the base unit shows whole numbers.
template <std::size_t N>
QString Scaled(double value, const char* const (&units)[N]) {
  if (!std::isfinite(value) || value < 0) value = 0;
  std::size_t unit = 0;
  // The rounded text decides: 999.96 kB reads "1.00 MB", not "1000.0 kB".
  auto shown = [&] { return unit == 0 ? std::round(value) : std::round(value * 10) / 10; };
  while (unit + 1 < N && shown() >= 1000) {
    value /= 1000;
    ++unit;
  }
  const int decimals = unit == 0 ? 0 : value < 10 ? 2 : 1;
  return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

}  // namespace

QString ByteSizeLabel(double bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  return Scaled(bytes, kUnits);
}

QString BitRateLabel(double bitsPerSecond) {
  static const char* const kUnits[] = {"bit/s", "kbit/s", "Mbit/s", "Gbit/s", "Tbit/s"};
  return Scaled(bitsPerSecond, kUnits);
}

}  // namespace varlow
