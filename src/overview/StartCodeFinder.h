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

// Like FindAllStartCodes, but of each run of slice start codes (01 to AF) only the first: a
// picture of 40 slices costs one listed slice, not forty. The first slice of the data always
// counts as the first of a run, so data cut anywhere never loses a run's first slice.
void FindStartCodesButSliceRuns(const std::uint8_t* data, std::size_t size, std::vector<std::uint32_t>& out);

inline bool IsSliceCode(std::uint8_t code) { return code >= 0x01 && code <= 0xAF; }

} // namespace varlow
