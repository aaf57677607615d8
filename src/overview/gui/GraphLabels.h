#pragma once
#include <QString>

namespace varlow {

// A size in bytes with the unit that keeps it short: "512 B", "149.4 kB", "4.50 GB" (decimal
// units, 1 kB = 1,000 bytes; two decimals below 10 of a unit, one from there).
QString ByteSizeLabel(double bytes);

// A bit rate in the same way: "800 bit/s", "104.9 Mbit/s", "36.00 Gbit/s".
QString BitRateLabel(double bitsPerSecond);

}  // namespace varlow
