#pragma once
// What the re-quantising pass needs beyond the decoding tables: the codes to write a run/level
// pair, a coded_block_pattern, a macroblock_type and a macroblock_address_increment, the scans,
// the default intra matrix and the quantiser scales.
#include <array>
#include <cstdint>

namespace varlow {

// A code, right-aligned, and its length in bits; Length 0 when there is no such code.
struct TVlcCode {
  std::uint32_t Code = 0;
  std::int32_t Length = 0;
};

// Raster position of each scan index: zigzag, and the alternate scan.
inline constexpr std::array<std::uint8_t, 64> kZigzagScan = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
inline constexpr std::array<std::uint8_t, 64> kAlternateScan = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

// The intra matrix in force when a sequence header loads none, in raster order.
inline constexpr std::array<std::uint8_t, 64> kDefaultIntraMatrix = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

// quantiser_scale for q_scale_type = 1, by quantiser_scale_code (0 is forbidden).
inline constexpr std::array<std::uint8_t, 32> kNonLinearQuantiserScale = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20, 22,
    24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

// quantiser_scale of a code: the non-linear table, or twice the code (which for MPEG-1, whose
// reconstruction divides by 16 instead of 32, is the same step).
constexpr std::int32_t QuantiserScale(std::int32_t code, bool nonLinear) {
  return nonLinear ? kNonLinearQuantiserScale[static_cast<std::size_t>(code & 31)] : 2 * code;
}

// The write side of the slice layer's code tables, built once from the same code lists the
// decoding tables are built from.
class TRequantCodes {
public:
  static constexpr int kMaxRun = 31;
  static constexpr int kMaxLevel = 40;

  static const TRequantCodes& Shared();

  // The run/level code of table B-15 (b15) or B-14 without its sign bit; Length 0 when the
  // pair has none and must be escaped.
  TVlcCode RunLevel(bool b15, int run, int level) const {
    if (run > kMaxRun || level > kMaxLevel) return {};
    return FRunLevel[b15 ? 1 : 0][static_cast<std::size_t>(run)][static_cast<std::size_t>(level)];
  }
  TVlcCode EndOfBlock(bool b15) const { return b15 ? TVlcCode{0b0110, 4} : TVlcCode{0b10, 2}; }
  // coded_block_pattern_420, 0..63.
  TVlcCode CodedBlockPattern(int cbp) const { return FCbp[static_cast<std::size_t>(cbp & 63)]; }
  // macroblock_type of picture_coding_type 1..3 with the flag bits of VLCConstTables.h.
  TVlcCode MacroblockType(int pictureCodingType, int flags) const {
    if (pictureCodingType < 1 || pictureCodingType > 3) return {};
    return FType[static_cast<std::size_t>(pictureCodingType - 1)][static_cast<std::size_t>(flags & 31)];
  }
  // macroblock_address_increment 1..33.
  TVlcCode AddressIncrement(int increment) const {
    return increment >= 1 && increment <= 33 ? FIncrement[static_cast<std::size_t>(increment)] : TVlcCode{};
  }

private:
  TRequantCodes();
  std::array<std::array<std::array<TVlcCode, kMaxLevel + 1>, kMaxRun + 1>, 2> FRunLevel{};
  std::array<TVlcCode, 64> FCbp{};
  std::array<std::array<TVlcCode, 32>, 3> FType{};
  std::array<TVlcCode, 34> FIncrement{};
};

} // namespace varlow
