#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

// The constant two-stage tables of the slice layer (ISO/IEC 13818-2 Annex B), indexed by a few
// leading bits instead of a full 16-bit peek. An entry of (0, 0) means no code.
namespace varlow {

struct TCodeEntry {
  std::int32_t Length;
  std::int32_t Value;
};

namespace detail {
struct TCodeRange {
  std::int32_t First, Last;  // indices, inclusive
  std::int32_t Length, Value;
};
template <std::size_t N>
constexpr std::array<TCodeEntry, N> MakeTable(std::initializer_list<TCodeRange> ranges) {
  std::array<TCodeEntry, N> table{};
  for (const TCodeRange& r : ranges)
    for (std::int32_t i = r.First; i <= r.Last; ++i) table[static_cast<std::size_t>(i)] = {r.Length, r.Value};
  return table;
}
// Second stage of macroblock_address_increment: runs of `count` indices from `first`, the
// increment falling by one per run.
constexpr std::array<TCodeEntry, 128> MakeAddressIncrementStage2() {
  std::array<TCodeEntry, 128> table{};
  for (std::int32_t i = 24; i <= 35; ++i) table[static_cast<std::size_t>(i)] = {11, 33 - (i - 24)};
  for (std::int32_t i = 36; i <= 47; ++i) table[static_cast<std::size_t>(i)] = {10, 21 - (i - 36) / 2};
  for (std::int32_t i = 48; i <= 95; ++i) table[static_cast<std::size_t>(i)] = {8, 15 - (i - 48) / 8};
  for (std::int32_t i = 96; i <= 111; ++i) table[static_cast<std::size_t>(i)] = {7, 9};
  for (std::int32_t i = 112; i <= 127; ++i) table[static_cast<std::size_t>(i)] = {7, 8};
  table[8] = {11, 99};  // macroblock_escape; callers consume escapes before the lookup
  return table;
}
}  // namespace detail

// macroblock_escape: the 11 bits 0000 0001 000.
inline constexpr std::uint32_t kMacroblockEscape = 8;
inline constexpr std::int32_t kMacroblockEscapeIncrement = 33;
// MPEG-1 macroblock_stuffing: the 11 bits 0000 0001 111.
inline constexpr std::uint32_t kMacroblockStuffing = 15;

// macroblock_address_increment (B-1). Next 16 bits >= 0x1000: first stage by the next 5 bits;
// >= 0x0300: second stage by the low 7 bits of the next 11 bits; below: no code.
inline constexpr auto kAddressIncrementStage1 = detail::MakeTable<32>({
    {2, 2, 5, 7}, {3, 3, 5, 6}, {4, 5, 4, 5}, {6, 7, 4, 4}, {8, 11, 3, 3}, {12, 15, 3, 2}, {16, 31, 1, 1},
});
inline constexpr auto kAddressIncrementStage2 = detail::MakeAddressIncrementStage2();

// macroblock_type value bits.
inline constexpr std::int32_t kMacroblockIntra = 1;
inline constexpr std::int32_t kMacroblockPattern = 2;
inline constexpr std::int32_t kMacroblockMotionBackward = 4;
inline constexpr std::int32_t kMacroblockMotionForward = 8;
inline constexpr std::int32_t kMacroblockQuant = 16;

// macroblock_type: I pictures (B-2) by the next bit, P (B-3) and B (B-4) by the next 6 bits.
inline constexpr auto kMacroblockTypeI = detail::MakeTable<2>({{0, 0, 2, 17}, {1, 1, 1, 1}});
inline constexpr auto kMacroblockTypeP = detail::MakeTable<64>({
    {1, 1, 6, 17}, {2, 3, 5, 18}, {4, 5, 5, 26}, {6, 7, 5, 1}, {8, 15, 3, 8}, {16, 31, 2, 2}, {32, 63, 1, 10},
});
inline constexpr auto kMacroblockTypeB = detail::MakeTable<64>({
    {1, 1, 6, 17}, {2, 2, 6, 22}, {3, 3, 6, 26}, {4, 5, 5, 30}, {6, 7, 5, 1}, {8, 11, 4, 8},
    {12, 15, 4, 10}, {16, 23, 3, 4}, {24, 31, 3, 6}, {32, 47, 2, 12}, {48, 63, 2, 14},
});

// dct_dc_size (B-12, B-13). Next 16 bits below 0xF800: first stage by the next 5 bits; else the
// second stage by the low 5 bits of the next 9 (luminance) or 10 (chrominance) bits.
inline constexpr std::uint32_t kDcSizeLongPrefix = 0xF800;
inline constexpr auto kDctDcSizeLuminanceStage1 = detail::MakeTable<32>({
    {0, 7, 2, 1}, {8, 15, 2, 2}, {16, 19, 3, 0}, {20, 23, 3, 3}, {24, 27, 3, 4}, {28, 29, 4, 5}, {30, 30, 5, 6},
});
inline constexpr auto kDctDcSizeLuminanceStage2 = detail::MakeTable<32>({
    {16, 23, 6, 7}, {24, 27, 7, 8}, {28, 29, 8, 9}, {30, 30, 9, 10}, {31, 31, 9, 11},
});
inline constexpr auto kDctDcSizeChrominanceStage1 = detail::MakeTable<32>({
    {0, 7, 2, 0}, {8, 15, 2, 1}, {16, 23, 2, 2}, {24, 27, 3, 3}, {28, 29, 4, 4}, {30, 30, 5, 5},
});
inline constexpr auto kDctDcSizeChrominanceStage2 = detail::MakeTable<32>({
    {0, 15, 6, 6}, {16, 23, 7, 7}, {24, 27, 8, 8}, {28, 29, 9, 9}, {30, 30, 10, 10}, {31, 31, 10, 11},
});

// What a frame_motion_type or field_motion_type (0..3) implies for motion_vectors().
inline constexpr std::int32_t kMvFormatField = 0;
inline constexpr std::int32_t kMvFormatFrame = 1;
struct TMotionLayout {
  std::int32_t MotionVectorCount;
  std::int32_t MvFormat;  // kMvFormatField or kMvFormatFrame
  std::int32_t Dmv;
};
inline constexpr std::array<TMotionLayout, 4> kFrameMotionLayout = {{{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 0, 1}}};
inline constexpr std::array<TMotionLayout, 4> kFieldMotionLayout = {{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 0, 1}}};

}  // namespace varlow
