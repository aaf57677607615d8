#pragma once
#include <cstdint>

namespace varlow {

// Start codes as the 32-bit big-endian value of their four bytes 00 00 01 xx.
inline constexpr std::uint32_t kPictureStartCode = 0x00000100;
inline constexpr std::uint32_t kFirstSliceStartCode = 0x00000101;  // slice_vertical_position 1
inline constexpr std::uint32_t kLastSliceStartCode = 0x000001AF;   // slice_vertical_position 175
inline constexpr std::uint32_t kUserDataStartCode = 0x000001B2;
inline constexpr std::uint32_t kSequenceHeaderCode = 0x000001B3;
inline constexpr std::uint32_t kExtensionStartCode = 0x000001B5;
inline constexpr std::uint32_t kSequenceEndCode = 0x000001B7;
inline constexpr std::uint32_t kGroupStartCode = 0x000001B8;

constexpr bool IsSliceStartCode(std::uint32_t code) {
  return code >= kFirstSliceStartCode && code <= kLastSliceStartCode;
}

// extension_start_code_identifier values that the walkers act on.
inline constexpr int kSequenceExtensionId = 1;
inline constexpr int kSequenceDisplayExtensionId = 2;
inline constexpr int kQuantMatrixExtensionId = 3;
inline constexpr int kPictureCodingExtensionId = 8;

} // namespace varlow
