#pragma once
#include <cstdint>

namespace varlow {

// "I", "P", "B" for picture_coding_type 1, 2, 3; "Unknown" for anything else (D pictures included).
const char* CodingTypeName(std::uint32_t picture_coding_type);

// Frames per second of a sequence header's frame_rate_code; 0 for the forbidden and reserved codes.
// The caller applies frame_rate_extension_n and frame_rate_extension_d.
double FrameRateFromCode(std::uint32_t frame_rate_code);

// What one unit of bit_rate (bit/s) and of vbv_buffer_size (bits) stands for.
inline constexpr std::int64_t kBitRateUnit = 400;
inline constexpr std::int64_t kVbvBufferSizeUnit = 16 * 1024;

} // namespace varlow
