#include "overview/StartCodeFinder.h"

#include <cstring>

namespace varlow {

std::size_t FindAnyStartCode(const std::uint8_t* data, std::size_t from, std::size_t size) {
  if (size < 4 || from > size - 4) return size;
  // memchr finds the 01 of a prefix at library speed; the two bytes before it must be zero.
  // A start code at i has its 01 at i + 2, and its code byte i + 3 must be inside the data.
  std::size_t j = from + 2;
  const std::size_t lastOne = size - 2;
  while (j <= lastOne) {
    const void* hit = std::memchr(data + j, 0x01, lastOne - j + 1);
    if (hit == nullptr) return size;
    j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (data[j - 1] == 0 && data[j - 2] == 0) return j - 2;
    // The next prefix's 01 needs two zeros before it, so it lies at j + 3 or later.
    j += 3;
  }
  return size;
}

} // namespace varlow
