#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varlow {

// First position i >= from whose four bytes data[i..i+3] lie below `size` and read
// 00 00 01 xx (any start code); `size` when there is none. Only bytes below `size` are read.
std::size_t FindAnyStartCode(const std::uint8_t* data, std::size_t from, std::size_t size);

// Appends to `out` the position of every start code whose four bytes lie within data[0, size),
// in order: the same positions as calling FindAnyStartCode from each hit + 3, in one pass.
void FindAllStartCodes(const std::uint8_t* data, std::size_t size, std::vector<std::uint32_t>& out);

} // namespace varlow
