#include "transrate/BufferGuard.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varlow {

TBufferGuard::TBufferGuard(std::int64_t Rate, std::int64_t Buffer)
    : FRate(std::max<std::int64_t>(Rate, 0)), FBuffer(std::max<std::int64_t>(Buffer, 0)),
      FOccupancy(static_cast<double>(FBuffer)) {}

void TBufferGuard::SetBuffer(std::int64_t Buffer) {
  if (Buffer <= 0 || Buffer == FBuffer) return;
  if (FBuffer == 0) FOccupancy = static_cast<double>(Buffer);  // a buffer first known starts full
  FBuffer = Buffer;
  FOccupancy = std::min(FOccupancy, static_cast<double>(FBuffer));
}

std::int64_t TBufferGuard::Allowed() const {
  if (!Active()) return std::numeric_limits<std::int64_t>::max();
  const double allowed = FOccupancy - kMargin * static_cast<double>(FBuffer);
  return std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(allowed)), 0);
}

void TBufferGuard::Remove(std::int64_t Bits, double Seconds) {
  if (!Active()) return;
  FOccupancy -= static_cast<double>(Bits);
  FOccupancy = std::min(FOccupancy + static_cast<double>(FRate) * std::max(Seconds, 0.0), static_cast<double>(FBuffer));
}

}  // namespace varlow
