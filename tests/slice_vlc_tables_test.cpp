#include <gtest/gtest.h>

#include <cmath>

#include "slice/SyntaxReaders.h"
#include "slice/VLCCodeLists.h"
#include "slice/VLC_Table_Builder.h"
#include "support/PaddedBuffer.h"

using namespace varlow;

namespace {

// Kraft sum (each code counted without its sign bit) and prefix freedom of a code list:
// catches a mistyped code in the lists.
template <class List>
double KraftSum(const List& codes, bool* prefixFree) {
  double sum = 0;
  *prefixFree = true;
  for (const auto& a : codes) {
    TBitString x = ParseBitString(a.Bits);
    sum += std::ldexp(1.0, -x.Length);
    for (const auto& b : codes) {
      if (&a == &b) continue;
      TBitString y = ParseBitString(b.Bits);
      if (y.Length < x.Length) continue;
      std::uint16_t mask = static_cast<std::uint16_t>(0xFFFF0000u >> x.Length);
      if ((y.Code & mask) == x.Code) *prefixFree = false;
    }
  }
  return sum;
}

}  // namespace

TEST(VlcTables, CodeListsArePrefixFreeAndFillTheirCodeSpace) {
  bool prefixFree = false;
  std::vector<TDctCode> b14(std::begin(kTableB14), std::end(kTableB14));
  b14.insert(b14.end(), std::begin(kDctLongCodes), std::end(kDctLongCodes));
  // B-14 covers everything but the 16 zero bits that start no code.
  EXPECT_DOUBLE_EQ(KraftSum(b14, &prefixFree), 1.0 - std::ldexp(1.0, -12));
  EXPECT_TRUE(prefixFree);
  std::vector<TDctCode> b15(std::begin(kTableB15), std::end(kTableB15));
  b15.insert(b15.end(), std::begin(kDctLongCodes), std::end(kDctLongCodes));
  // B-15 leaves the places of the codes it moved to shorter forms unused: 6 of 12 bits, 4 of 13.
  EXPECT_DOUBLE_EQ(KraftSum(b15, &prefixFree),
                   1.0 - std::ldexp(1.0, -12) - 6 * std::ldexp(1.0, -12) - 4 * std::ldexp(1.0, -13));
  EXPECT_TRUE(prefixFree);
  EXPECT_DOUBLE_EQ(KraftSum(kTableB9, &prefixFree), 1.0 - std::ldexp(1.0, -9));
  EXPECT_TRUE(prefixFree);
  EXPECT_DOUBLE_EQ(KraftSum(kTableB10, &prefixFree), 1.0 - 3 * std::ldexp(1.0, -8));
  EXPECT_TRUE(prefixFree);
}

TEST(VlcTables, BuiltTablesAnswerTheKnownCorners) {
  const TVlcTables& t = TVlcTables::Shared();
  EXPECT_EQ(t.B15.EntryCount(), 113u);
  EXPECT_EQ(t.B14.EntryCount(), 113u);
  EXPECT_EQ(t.CBP.EntryCount(), 64u);
  EXPECT_EQ(t.MV.EntryCount(), 33u);
  const TDctTableEntry* b15 = t.B15.Table();
  const TDctTableEntry* b14 = t.B14.Table();
  EXPECT_EQ(b15[0xFFFF].Run, 0);
  EXPECT_EQ(b15[0xFFFF].Level, 15);
  EXPECT_EQ(b15[0xFFFF].Length, 8);
  EXPECT_EQ(b14[0xFFFF].Run, 0);
  EXPECT_EQ(b14[0xFFFF].Level, 1);
  EXPECT_EQ(b14[0xFFFF].Length, 2);
  for (const TDctTableEntry* table : {b14, b15}) {
    EXPECT_EQ(table[0].Length, kNoCodeMarker);
    EXPECT_EQ(table[0].Run, kNoCodeMarker);
    EXPECT_EQ(table[0x0400].Run, kEscapeMarker);  // 0000 01
    EXPECT_EQ(table[0x0400].Length, 6);
  }
  for (int i = 0x8000; i <= 0xBFFF; ++i) ASSERT_EQ(b14[i].Run, kEndOfBlockMarker) << i;
  EXPECT_EQ(b14[0x8000].Length, 2);
  for (int i = 0x6000; i <= 0x6FFF; ++i) ASSERT_EQ(b15[i].Run, kEndOfBlockMarker) << i;
  EXPECT_EQ(b15[0x6000].Length, 4);
  EXPECT_EQ(b15[0x0100].Length, kNoCodeMarker);  // 0000 0001 0000: a hole of B-15
  EXPECT_EQ(b14[0x0100].Run, 0);                 // ... which B-14 uses for run 0, level 11
  EXPECT_EQ(b14[0x0100].Level, 11);

  const TMVTableEntry* mv = t.MV.Table();
  EXPECT_EQ(mv[0x1800].Value, -3);  // 0001 1
  EXPECT_EQ(mv[0x1000].Value, 3);   // 0001 0
  EXPECT_EQ(mv[0x1000].Length, 5);
  EXPECT_EQ(mv[0x8000].Value, 0);
  EXPECT_EQ(mv[0xFFFF].Length, 1);
  EXPECT_EQ(mv[0x0320].Value, -16);  // 0000 0011 001
  EXPECT_EQ(mv[0x0000].Length, kNoCodeMarker);

  const TCBPTableEntry* cbp = t.CBP.Table();
  for (int i = 0xE000; i <= 0xFFFF; ++i) ASSERT_EQ(cbp[i].Value, 60);
  EXPECT_EQ(cbp[0xE000].Length, 3);
  for (int i = 0x0080; i <= 0x00FF; ++i) ASSERT_EQ(cbp[i].Value, 0);
  EXPECT_EQ(cbp[0x0080].Length, 9);
  EXPECT_EQ(cbp[0x007F].Length, kNoCodeMarker);
}

TEST(VlcTables, CorrectValueKeepsTheLeadingBits) {
  const TVlcTables& t = TVlcTables::Shared();
  EXPECT_EQ(t.CBP.CorrectValue(0xFFFF, 3), 0xE000);
  EXPECT_EQ(t.CBP.CorrectValue(0xFFFF, 16), 0xFFFF);
  EXPECT_EQ(t.MV.CorrectValue(0x8001, 1), 0x8000);
}

namespace {

struct Peeked {
  TPaddedBuffer buffer;
  TBitStream4 bs;
  TBitStream4& R() { return bs; }
  explicit Peeked(std::uint32_t leadingBits) : buffer(4) {
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(leadingBits >> 24), static_cast<std::uint8_t>(leadingBits >> 16),
                             static_cast<std::uint8_t>(leadingBits >> 8), static_cast<std::uint8_t>(leadingBits)};
    buffer.Assign(bytes);
    bs.SetData(buffer.Data(), 4);
  }
};

}  // namespace

TEST(SyntaxReaders, MacroblockAddressIncrementStages) {
  EXPECT_EQ(PeekMacroblockAddressIncrement(Peeked(0x80000000).R()).Value, 1);
  TCodeRead r = PeekMacroblockAddressIncrement(Peeked(0x03000000).R());  // 0000 0011 000
  EXPECT_EQ(r.Value, 33);
  EXPECT_EQ(r.Length, 11);
  r = PeekMacroblockAddressIncrement(Peeked(0x05C00000).R());  // 0000 0101 11
  EXPECT_EQ(r.Value, 16);
  EXPECT_EQ(r.Length, 10);
  r = PeekMacroblockAddressIncrement(Peeked(0x0E000000).R());  // 0000 111
  EXPECT_EQ(r.Value, 8);
  EXPECT_EQ(r.Length, 7);
  EXPECT_TRUE(PeekMacroblockEscape(Peeked(0x01000000).R()));
  EXPECT_FALSE(PeekMacroblockAddressIncrement(Peeked(0x02FF0000).R()).Valid);
  Peeked p(0x80000000);
  PeekMacroblockAddressIncrement(p.bs);
  EXPECT_EQ(p.bs.BitPosition(), 0);  // peeks never move
}

TEST(SyntaxReaders, MacroblockTypesAndDcSizes) {
  TCodeRead r = PeekMacroblockType(Peeked(0x40000000).R(), 1);  // I: 01
  EXPECT_EQ(r.Value, kMacroblockIntra | kMacroblockQuant);
  EXPECT_EQ(r.Length, 2);
  r = PeekMacroblockType(Peeked(0x04000000).R(), 2);  // P: 000001
  EXPECT_EQ(r.Value, 17);
  EXPECT_EQ(r.Length, 6);
  EXPECT_FALSE(PeekMacroblockType(Peeked(0x00000000).R(), 3).Valid);
  r = PeekMacroblockType(Peeked(0xC0000000).R(), 3);  // B: 11
  EXPECT_EQ(r.Value, kMacroblockMotionForward | kMacroblockMotionBackward | kMacroblockPattern);
  EXPECT_FALSE(PeekMacroblockType(Peeked(0xFFFFFFFF).R(), 4).Valid);

  r = PeekDctDcSizeLuminance(Peeked(0xFF800000).R());  // 1111 1111 1
  EXPECT_EQ(r.Value, 11);
  EXPECT_EQ(r.Length, 9);
  r = PeekDctDcSizeLuminance(Peeked(0x80000000).R());  // 100
  EXPECT_EQ(r.Value, 0);
  EXPECT_EQ(r.Length, 3);
  r = PeekDctDcSizeChrominance(Peeked(0xFFC00000).R());  // 1111 1111 11
  EXPECT_EQ(r.Value, 11);
  EXPECT_EQ(r.Length, 10);
  r = PeekDctDcSizeChrominance(Peeked(0xF8000000).R());  // 1111 10
  EXPECT_EQ(r.Value, 6);
  EXPECT_EQ(r.Length, 6);
}

TEST(SyntaxReaders, EscapeLevels) {
  EXPECT_EQ(EscapeLevel(0xFFF), -1);
  EXPECT_EQ(EscapeLevel(0x800), 2048);
  EXPECT_EQ(EscapeLevel(0x801), -2047);
  EXPECT_EQ(EscapeLevel(1), 1);
  std::int32_t bits = 0;
  EXPECT_EQ(ReadMpeg1EscapeLevel(Peeked(0x00C80000).R(), bits), 200);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(ReadMpeg1EscapeLevel(Peeked(0x80380000).R(), bits), -200);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(ReadMpeg1EscapeLevel(Peeked(0xFF000000).R(), bits), -1);
  EXPECT_EQ(bits, 8);
}
