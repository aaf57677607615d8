#pragma once
#include <cstdint>

namespace varlow {

// A decoded code of the constant tables: its length in bits (0 = no such code) and value.
struct TVLCCode {
  std::int32_t Length;
  std::int32_t Value;
};

// macroblock_address_increment from the next 16 bits (escapes consumed before).
constexpr TVLCCode MacroblockAddressIncrementCode(std::uint32_t next16) {
  if (next16 >= 0x1000) {
    const std::uint32_t i = next16 >> 11;  // next 5 bits
    if (i >= 16) return {1, 1};
    if (i >= 12) return {3, 2};
    if (i >= 8) return {3, 3};
    if (i >= 6) return {4, 4};
    if (i >= 4) return {4, 5};
    if (i == 3) return {5, 6};
    if (i == 2) return {5, 7};
    return {0, 0};
  }
  if (next16 >= 0x0300) {
    const std::uint32_t i = (next16 >> 5) & 0x7F;  // low 7 of the next 11 bits
    if (i >= 112) return {7, 8};
    if (i >= 96) return {7, 9};
    if (i >= 48) return {8, static_cast<std::int32_t>(15 - (i - 48) / 8)};
    if (i >= 36) return {10, static_cast<std::int32_t>(21 - (i - 36) / 2)};
    if (i >= 24) return {11, static_cast<std::int32_t>(33 - (i - 24))};
  }
  return {0, 0};
}

// macroblock_type (value bits: 1 intra, 2 pattern, 4 backward, 8 forward, 16 quant).
constexpr TVLCCode IntraMacroblockTypeCode(std::uint32_t next2) {
  if (next2 >= 2) return {1, 1};
  if (next2 == 1) return {2, 17};
  return {0, 0};
}
constexpr TVLCCode PMacroblockTypeCode(std::uint32_t next6) {
  if (next6 >= 32) return {1, 10};
  if (next6 >= 16) return {2, 2};
  if (next6 >= 8) return {3, 8};
  if (next6 >= 6) return {5, 1};
  if (next6 >= 4) return {5, 26};
  if (next6 >= 2) return {5, 18};
  if (next6 == 1) return {6, 17};
  return {0, 0};
}
constexpr TVLCCode BMacroblockTypeCode(std::uint32_t next6) {
  if (next6 >= 48) return {2, 14};
  if (next6 >= 32) return {2, 12};
  if (next6 >= 24) return {3, 6};
  if (next6 >= 16) return {3, 4};
  if (next6 >= 12) return {4, 10};
  if (next6 >= 8) return {4, 8};
  if (next6 >= 6) return {5, 1};
  if (next6 >= 4) return {5, 30};
  if (next6 == 3) return {6, 26};
  if (next6 == 2) return {6, 22};
  if (next6 == 1) return {6, 17};
  return {0, 0};
}

// dct_dc_size_luminance / _chrominance from the next 16 bits: (length, size).
constexpr TVLCCode DCSizeLuminanceCode(std::uint32_t next16) {
  if (next16 < 0xF800) {
    const std::uint32_t i = next16 >> 11;
    if (i < 8) return {2, 1};
    if (i < 16) return {2, 2};
    if (i < 20) return {3, 0};
    if (i < 24) return {3, 3};
    if (i < 28) return {3, 4};
    if (i < 30) return {4, 5};
    return {5, 6};
  }
  const std::uint32_t i = (next16 >> 7) & 31;
  if (i < 16) return {0, 0};
  if (i < 24) return {6, 7};
  if (i < 28) return {7, 8};
  if (i < 30) return {8, 9};
  if (i == 30) return {9, 10};
  return {9, 11};
}
constexpr TVLCCode DCSizeChrominanceCode(std::uint32_t next16) {
  if (next16 < 0xF800) {
    const std::uint32_t i = next16 >> 11;
    if (i < 8) return {2, 0};
    if (i < 16) return {2, 1};
    if (i < 24) return {2, 2};
    if (i < 28) return {3, 3};
    if (i < 30) return {4, 4};
    return {5, 5};
  }
  const std::uint32_t i = (next16 >> 6) & 31;
  if (i < 16) return {6, 6};
  if (i < 24) return {7, 7};
  if (i < 28) return {8, 8};
  if (i < 30) return {9, 9};
  if (i == 30) return {10, 10};
  return {10, 11};
}

// Motion-type properties by frame_motion_type and field_motion_type (mv_format 1 = frame).
inline constexpr int kFrameMotionVectorCount[4] = {0, 2, 1, 1};
inline constexpr int kFrameMvFormat[4] = {0, 0, 1, 0};
inline constexpr int kFrameDmv[4] = {0, 0, 0, 1};
inline constexpr int kFieldMotionVectorCount[4] = {0, 1, 2, 1};
inline constexpr int kFieldMvFormat[4] = {0, 0, 0, 0};
inline constexpr int kFieldDmv[4] = {0, 0, 0, 1};

} // namespace varlow
