// The arithmetic and the write-side code tables of re-quantisation.
#include <gtest/gtest.h>

#include <memory>

#include "slice/SyntaxReaders.h"
#include "slice/VLC_Table_Builder.h"
#include "slice/VLCConstTables.h"
#include "transrate/RequantLevelCache.h"
#include "transrate/RequantTables.h"
#include "transrate/Requantiser.h"

using namespace varlow;

namespace {

std::int32_t Requant(std::int32_t F, std::int32_t W, std::int32_t qs, bool intra, bool mpeg1 = false, float bias = 0,
                     std::int32_t maxLevel = 2047) {
  return TLevelQuantiser::Requantise(F, W * qs, 16.0f / static_cast<float>(W * qs), intra, mpeg1, bias, maxLevel);
}

} // namespace

TEST(TLevelQuantiser, ReconstructsLikeTheDecoder) {
  // Intra (2 QF W qs) / 32, non-intra ((2 QF + sign) W qs) / 32, truncated toward zero.
  EXPECT_EQ(TLevelQuantiser::Reconstruct(3, 16, 4, true, false), 12);
  EXPECT_EQ(TLevelQuantiser::Reconstruct(-3, 16, 4, true, false), -12);
  EXPECT_EQ(TLevelQuantiser::Reconstruct(1, 16, 4, false, false), 6);
  EXPECT_EQ(TLevelQuantiser::Reconstruct(-2, 3, 2, false, false), 0);  // -30 / 32 truncates to 0
  EXPECT_EQ(TLevelQuantiser::Reconstruct(-3, 3, 2, false, false), -1);
  // MPEG-1 makes even values odd toward zero.
  EXPECT_EQ(TLevelQuantiser::Reconstruct(200, 16, 4, true, true), 799);
  EXPECT_EQ(TLevelQuantiser::Reconstruct(-200, 16, 4, true, true), -799);
  // Saturation.
  EXPECT_EQ(TLevelQuantiser::Reconstruct(2047, 255, 112, true, false), 2047);
}

TEST(TLevelQuantiser, PicksTheNearestReconstructionWithSmallerLevelsOnTies) {
  // Non-intra at qs 8, W 16: reconstructions 0, 12, 20, 28, ...
  EXPECT_EQ(Requant(6, 16, 8, false), 0);   // 0 and 12 are equally near
  EXPECT_EQ(Requant(7, 16, 8, false), 1);
  EXPECT_EQ(Requant(14, 16, 8, false), 1);
  EXPECT_EQ(Requant(-42, 16, 8, false), -5);  // 44 is nearer than 36
  // Intra at qs 8, W 16: reconstructions 8 m.
  EXPECT_EQ(Requant(4, 16, 8, true), 0);
  EXPECT_EQ(Requant(5, 16, 8, true), 1);
  EXPECT_EQ(Requant(20, 16, 8, true), 2);
  EXPECT_EQ(Requant(-21, 16, 8, true), -3);
  // MPEG-1's odd reconstructions: 799 is exactly level 100 at qs 8.
  EXPECT_EQ(Requant(799, 16, 8, true, true), 100);
  // The limit of the level's field.
  EXPECT_EQ(Requant(2047, 1, 2, true, true, 0, 255), 255);
}

TEST(TLevelQuantiser, TheDeadZoneLeansTowardSmallerLevels) {
  // 13 lies nearer 16 (level 2) than 8 (level 1); half a step (4) of slack takes level 1, and
  // a small value goes to zero.
  EXPECT_EQ(Requant(13, 16, 8, true), 2);
  EXPECT_EQ(Requant(13, 16, 8, true, false, 0.5f), 1);
  EXPECT_EQ(Requant(7, 16, 8, false, false, 0.0f), 1);
  EXPECT_EQ(Requant(7, 16, 8, false, false, 0.5f), 0);
}

// Every code the writer knows decodes, through the decoding tables, to what it was written for.
TEST(TRequantCodes, EveryCodeDecodesBackToItsValue) {
  const TRequantCodes& codes = TRequantCodes::Shared();
  const TVlcTables& vlc = TVlcTables::Shared();
  int runLevelCodes = 0;
  for (int b15 = 0; b15 < 2; ++b15) {
    const TDctTableEntry* table = b15 ? vlc.B15.Table() : vlc.B14.Table();
    for (int run = 0; run <= TRequantCodes::kMaxRun; ++run) {
      for (int level = 1; level <= TRequantCodes::kMaxLevel; ++level) {
        const TVlcCode c = codes.RunLevel(b15 != 0, run, level);
        if (c.Length == 0) continue;
        ++runLevelCodes;
        const TDctTableEntry& e = table[(c.Code << (16 - c.Length)) & 0xFFFF];
        EXPECT_EQ(e.Length, c.Length);
        EXPECT_EQ(e.Run, run);
        EXPECT_EQ(e.Level, level);
      }
    }
  }
  EXPECT_EQ(runLevelCodes, 2 * 111);  // every run/level code of both tables
  EXPECT_EQ(codes.RunLevel(false, 0, 41).Length, 0);  // escaped
  EXPECT_EQ(codes.RunLevel(true, 32, 1).Length, 0);

  for (int cbp = 0; cbp < 64; ++cbp) {
    const TVlcCode c = codes.CodedBlockPattern(cbp);
    const TCBPTableEntry& e = vlc.CBP.Table()[(c.Code << (16 - c.Length)) & 0xFFFF];
    EXPECT_EQ(e.Length, c.Length);
    EXPECT_EQ(e.Value, cbp);
  }
  for (int increment = 1; increment <= 33; ++increment) {
    const TVlcCode c = codes.AddressIncrement(increment);
    const std::uint32_t next16 = (c.Code << (16 - c.Length)) & 0xFFFF;
    const TCodeEntry& e = next16 >= 0x1000 ? kAddressIncrementStage1[next16 >> 11] : kAddressIncrementStage2[(next16 >> 5) & 0x7F];
    EXPECT_EQ(e.Length, c.Length);
    EXPECT_EQ(e.Value, increment);
  }
  // Every macroblock_type of P and B pictures, and the two of I pictures.
  for (int type = 2; type <= 3; ++type) {
    const auto& table = type == 2 ? kMacroblockTypeP : kMacroblockTypeB;
    for (const TCodeEntry& e : table) {
      if (e.Length == 0) continue;
      const TVlcCode c = codes.MacroblockType(type, e.Value);
      EXPECT_EQ(c.Length, e.Length);
      EXPECT_EQ(table[c.Code << (6 - c.Length)].Value, e.Value);
    }
  }
  EXPECT_EQ(codes.MacroblockType(1, kMacroblockIntra).Length, 1);
  EXPECT_EQ(codes.MacroblockType(1, kMacroblockIntra | kMacroblockQuant).Code, 1u);
  EXPECT_EQ(codes.MacroblockType(1, kMacroblockIntra | kMacroblockQuant).Length, 2);
  EXPECT_EQ(codes.MacroblockType(2, kMacroblockMotionBackward).Length, 0);  // no such type
}

TEST(TLevelCache, APairNeverSeesAnotherPairsLevels) {
  // Every pair marks its table with its own key; a table handed out must hold either nothing
  // or that pair's own mark, never one a sharer of its slot left behind.
  const auto table = std::make_unique<TLevelCache>();
  for (int round = 0; round < 2; ++round) {
    for (int matrix = 0; matrix < 4; ++matrix) {
      for (int in = 1; in < 32; ++in) {
        for (int out = in; out < 32; out += 3) {
          const auto mark = static_cast<std::int16_t>((matrix << 10) | (in << 5) | out);
          TLevelEntry* t = table->Table(matrix, in, out);
          ASSERT_TRUE(t[63 * TLevelCache::kSmallLevels + 5].Level == TLevelCache::kUnknown ||
                      t[63 * TLevelCache::kSmallLevels + 5].Level == mark);
          t[63 * TLevelCache::kSmallLevels + 5].Level = mark;
          // Taken again at once, the table keeps what was made.
          EXPECT_EQ(table->Table(matrix, in, out)[63 * TLevelCache::kSmallLevels + 5].Level, mark);
        }
      }
    }
  }
  table->Clear();
  EXPECT_EQ(table->Table(3, 31, 31)[63 * TLevelCache::kSmallLevels + 5].Level, TLevelCache::kUnknown);
}
