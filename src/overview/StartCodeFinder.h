#pragma once
#include <cstddef>
#include <cstdint>

namespace varlow {

// First position i >= from whose four bytes data[i..i+3] lie below `size` and read
// 00 00 01 xx (any start code); `size` when there is none. Only bytes below `size` are read.
std::size_t FindAnyStartCode(const std::uint8_t* data, std::size_t from, std::size_t size);

} // namespace varlow
