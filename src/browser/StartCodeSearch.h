#pragma once
#include <cstddef>
#include <cstdint>

namespace varlow {

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Whether `code` (the byte after 00 00 01) starts a pack: picture, sequence header, sequence end
// or group.
constexpr bool IsIndexedCode(std::uint8_t code) { return code == 0x00 || code == 0xB3 || code == 0xB7 || code == 0xB8; }

// First position i >= from with an indexed start code whose four bytes lie within data[0, size);
// kNotFound when there is none. Only bytes below `size` are looked at.
std::size_t FindIndexedStartCode(const std::uint8_t* data, std::size_t from, std::size_t size);

// Last position i <= from with an indexed start code whose four bytes lie within data[0, size);
// kNotFound when there is none.
std::size_t FindIndexedStartCodeBackward(const std::uint8_t* data, std::size_t from, std::size_t size);

} // namespace varlow
