#pragma once
#include <cstdint>
#include <string_view>

#include "slice/BitStream4.h"
#include "slice/VLCConstTables.h"
#include "slice/VLC_Table_Builder.h"

// Small readers for the variable-length elements of the slice layer, shared by the slice
// analyser and the transcoder.
//
// Each Peek* function looks at the next bits and reports the code that starts there WITHOUT
// moving the reader: the caller decides how to consume it (DumpBits / DumpBitsNoCheck, or a copy
// through a bit writer) and what to show. The only side effect is the reader's own: a checked
// peek that finds too few bits sets the reader's error flag and sees zeros, which decode as
// "no code" (Valid = false) for every element below except dct_dc_size (zeros are a valid size
// code there).
namespace varlow {

// A decoded code: its length in bits (what to skip) and its value.
struct TCodeRead {
  std::int32_t Length = 0;
  std::int32_t Value = 0;
  bool Valid = false;
};

// ---- macroblock address ----

// Whether the next 11 bits are a macroblock_escape (0000 0001 000), via Next11Bits.
inline bool PeekMacroblockEscape(TBitStream4& bs) noexcept { return bs.Next11Bits() == kMacroblockEscape; }

// Whether the next 11 bits are MPEG-1 macroblock_stuffing (0000 0001 111), via Next11Bits.
inline bool PeekMacroblockStuffing(TBitStream4& bs) noexcept { return bs.Next11Bits() == kMacroblockStuffing; }

// macroblock_address_increment (1..33), to be called once the escapes are consumed.
// p = Next16Bits: p >= 0x1000 first stage (NextBitsDWNoCheck(5)); 0x0300 <= p < 0x1000 second
// stage (NextBitsDWNoCheck(11) & 0x7F); p < 0x0300 no valid code (Valid = false, Length 0).
inline TCodeRead PeekMacroblockAddressIncrement(TBitStream4& bs) noexcept {
  std::uint32_t p = bs.Next16Bits();
  TCodeEntry e;
  if (p >= 0x1000) e = kAddressIncrementStage1[bs.NextBitsDWNoCheck(5)];
  else if (p >= 0x0300) e = kAddressIncrementStage2[bs.NextBitsDWNoCheck(11) & 0x7F];
  else return {};
  return {e.Length, e.Value, e.Length > 0};
}

// ---- macroblock modes ----

// macroblock_type for picture_coding_type 1 (I: NextBitsDW(1)), 2 (P) or 3 (B: NextBitsDW(6)).
// Value holds the flag bits kMacroblockIntra .. kMacroblockQuant. Other picture types and the
// six zero bits of P and B give Valid = false with length 0.
inline TCodeRead PeekMacroblockType(TBitStream4& bs, std::int32_t pictureCodingType) noexcept {
  TCodeEntry e{};
  switch (pictureCodingType) {
    case 1: e = kMacroblockTypeI[bs.NextBitsDW(1)]; break;
    case 2: e = kMacroblockTypeP[bs.NextBitsDW(6)]; break;
    case 3: e = kMacroblockTypeB[bs.NextBitsDW(6)]; break;
    default: return {};
  }
  return {e.Length, e.Value, e.Length > 0};
}

// ---- intra DC ----

// dct_dc_size_luminance: NextBitsDW(16) < 0xF800 selects the first stage (NextBitsDWNoCheck(5)),
// otherwise the second (NextBitsDWNoCheck(9) & 0x1F). Value is the size 0..11.
inline TCodeRead PeekDctDcSizeLuminance(TBitStream4& bs) noexcept {
  TCodeEntry e = bs.NextBitsDW(16) < kDcSizeLongPrefix ? kDctDcSizeLuminanceStage1[bs.NextBitsDWNoCheck(5)]
                                                       : kDctDcSizeLuminanceStage2[bs.NextBitsDWNoCheck(9) & 0x1F];
  return {e.Length, e.Value, e.Length > 0};
}

// dct_dc_size_chrominance: as luminance with NextBitsDWNoCheck(10) & 0x1F for the second stage.
inline TCodeRead PeekDctDcSizeChrominance(TBitStream4& bs) noexcept {
  TCodeEntry e = bs.NextBitsDW(16) < kDcSizeLongPrefix ? kDctDcSizeChrominanceStage1[bs.NextBitsDWNoCheck(5)]
                                                       : kDctDcSizeChrominanceStage2[bs.NextBitsDWNoCheck(10) & 0x1F];
  return {e.Length, e.Value, e.Length > 0};
}

// ---- coded_block_pattern and motion_code (16-bit table lookups) ----

// coded_block_pattern_420 from the B-9 table. No code: Valid = false, Length = Value = 67.
inline TCodeRead PeekCodedBlockPattern(TBitStream4& bs, const TCBPTableEntry* table) noexcept {
  TCBPTableEntry e = table[bs.NextBitsDW(16)];
  return {e.Length, e.Value, e.Length != kNoCodeMarker};
}

// motion_code from the B-10 table, -16..16. No code: Valid = false, Length = Value = 67.
inline TCodeRead PeekMotionCode(TBitStream4& bs, const TMVTableEntry* table) noexcept {
  TMVTableEntry e = table[bs.NextBitsDW(16)];
  return {e.Length, e.Value, e.Value >= -16 && e.Value <= 16};
}

// ---- DCT coefficients ----

enum class TCoefficientKind { RunLevel, EndOfBlock, Escape, Invalid };

// One entry of the B-14 or B-15 table at the next 16 bits. For RunLevel, Length excludes the
// sign bit that follows and Level is the magnitude. EndOfBlock and Escape carry their code
// length (2 or 4, and 6). Invalid: no code starts here (Length 67).
struct TCoefficientRead {
  TCoefficientKind Kind = TCoefficientKind::Invalid;
  std::int32_t Length = 0;
  std::int32_t Run = 0;
  std::int32_t Level = 0;
};

inline TCoefficientRead PeekDctCoefficient(TBitStream4& bs, const TDctTableEntry* table) noexcept {
  TDctTableEntry e = table[bs.NextBitsDW(16)];
  if (e.Run < kEndOfBlockMarker) return {TCoefficientKind::RunLevel, e.Length, e.Run, e.Level};
  if (e.Run == kEndOfBlockMarker) return {TCoefficientKind::EndOfBlock, e.Length, 0, 0};
  if (e.Run == kEscapeMarker) return {TCoefficientKind::Escape, e.Length, 0, 0};
  return {TCoefficientKind::Invalid, e.Length, 0, 0};
}

// Whether a non-intra block starts with the short first code "1s" (run 0, level 1), which the
// B-14 table does not hold (there, 10 is end of block). NextBitsDW(1).
inline bool PeekNonIntraFirstShortCode(TBitStream4& bs) noexcept { return bs.NextBitsDW(1) == 1; }

// Width of an MPEG-2 escape: 6 bits escape code, 6 bits run, 12 bits signed level.
inline constexpr std::int32_t kEscapeBits = 24;

// The signed level of a 12-bit MPEG-2 escape field: 2049..4095 are raw - 4096, 0..2048 stay.
constexpr std::int32_t EscapeLevel(std::uint32_t raw12) noexcept {
  return raw12 > 2048 ? static_cast<std::int32_t>(raw12) - 4096 : static_cast<std::int32_t>(raw12);
}

// Reads the level of an MPEG-1 escape (after its run): 8 bits, or 16 when the first 8 are
// 0x00 (levels 128..255) or 0x80 (-255..-128). `bits` receives 8 or 16.
std::int32_t ReadMpeg1EscapeLevel(TBitStream4& bs, std::int32_t& bits) noexcept;

// ---- start codes and names ----

// Byte-aligns and advances to the next 00 00 01 prefix, byte by byte, while the reader's error
// flag is clear: true when the next three bytes are the prefix, false once the reader is
// exhausted. Exactly the loop "ByteAlign; while !Error: if NextAligned24Bit = 1 return true;
// ReadBits(8)", with a fast search over the stretch that lies well inside the block.
bool NextStartCode(TBitStream4& bs) noexcept;

// "Y1".."Y4", "U1", "V1", "U2", "V2", "U3", "V3", "U4", "V4" for block indices 0..11.
std::string_view BlockName(std::int32_t blockIndex) noexcept;
// The same followed by " (not coded)", for the heading of a block the pattern leaves out.
std::string_view NotCodedBlockName(std::int32_t blockIndex) noexcept;

}  // namespace varlow
