#include "browser/StartCodeSearch.h"

#include <cstring>

namespace varlow {

std::size_t FindIndexedStartCode(const std::uint8_t* data, std::size_t from, std::size_t size) {
  if (size < 4 || from > size - 4) return kNotFound;
  // Look for the 01 of the prefix with memchr and check the bytes around it: the position i of a
  // code has its 01 at i + 2, and i + 3 must still be inside the data.
  std::size_t j = from + 2;
  const std::size_t lastOne = size - 2;  // highest index the 01 may stand at
  while (j <= lastOne) {
    const void* hit = std::memchr(data + j, 0x01, lastOne - j + 1);
    if (hit == nullptr) return kNotFound;
    j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (data[j - 1] == 0 && data[j - 2] == 0 && IsIndexedCode(data[j + 1])) return j - 2;
    ++j;
  }
  return kNotFound;
}

std::size_t FindIndexedStartCodeBackward(const std::uint8_t* data, std::size_t from, std::size_t size) {
  if (size < 4) return kNotFound;
  std::size_t i = from < size - 4 ? from : size - 4;
  for (;; --i) {
    if (data[i + 2] == 0x01 && data[i] == 0 && data[i + 1] == 0 && IsIndexedCode(data[i + 3])) return i;
    if (i == 0) return kNotFound;
  }
}

} // namespace varlow
