// The rate-distortion shaping of re-quantised blocks: bit counts exact, and every choice it
// makes lowers the block's cost (error plus priced bits) measured independently.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "transrate/RequantShaper.h"

namespace varlow {
namespace {

using TBlock = std::vector<TShapedCoefficient>;

// A coefficient whose input reconstruction is what `level` reconstructs to at WQ (so keeping
// it costs no error), or `target` when given.
TShapedCoefficient Coefficient(int pos, int level, std::int32_t WQ, bool intra, std::int32_t target = -1,
                               bool mpeg1 = false) {
  const std::int32_t m = level < 0 ? -level : level;
  const std::int32_t t = target >= 0 ? target : TLevelQuantiser::Magnitude(m, WQ, intra, mpeg1);
  return TBlockShaper(intra, false, mpeg1).Coefficient(static_cast<std::uint8_t>(pos), level, t, WQ);
}

// The block's cost computed from scratch: squared error of every coefficient (dropped ones
// against 0) plus Lambda times the bits of its codes and, for a non-intra block that keeps
// anything, its end of block. `original` gives the errors of each coefficient's choices; a
// kept level must be the original one or one less.
double Cost(const TBlockShaper& shaper, const TBlock& original, const TBlock& kept, bool intra, bool b15,
            double lambda) {
  double error = 0;
  std::size_t k = 0;
  for (const TShapedCoefficient& c : original) {
    if (k < kept.size() && kept[k].Pos == c.Pos) {
      const int m = std::abs(kept[k].Level);
      EXPECT_TRUE(m == std::abs(c.Level) || m == std::abs(c.Level) - 1);
      EXPECT_EQ(kept[k].Level < 0, c.Level < 0);
      error += static_cast<double>(m == std::abs(c.Level) ? c.ErrorKept : c.ErrorLower);
      ++k;
    } else {
      error += static_cast<double>(c.ErrorZero);
    }
  }
  double bits = 0;
  if (intra || !kept.empty()) bits += TRequantCodes::Shared().EndOfBlock(b15).Length;
  int last = intra ? 0 : -1;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::int32_t m = kept[i].Level < 0 ? -kept[i].Level : kept[i].Level;
    bits += shaper.PairBits(kept[i].Pos - last - 1, m, !intra && i == 0);
    last = kept[i].Pos;
  }
  return error + lambda * bits;
}

TBlock Shaped(const TBlockShaper& shaper, TBlock block, double lambda) {
  block.resize(static_cast<std::size_t>(shaper.Shape(block.data(), static_cast<int>(block.size()), lambda)));
  return block;
}

TEST(TBlockShaper, ErrorsOfACoefficientAreThoseOfItsReconstructions) {
  // Step 10 intra (WQ 160): level 3 reconstructs to 30, level 2 to 20; the input was 27.
  const TShapedCoefficient c = TBlockShaper(true, false, false).Coefficient(5, -3, 27, 160);
  EXPECT_EQ(c.Level, -3);
  EXPECT_EQ(c.ErrorKept, 9);
  EXPECT_EQ(c.ErrorLower, 49);
  EXPECT_EQ(c.ErrorZero, 729);
  // Non-intra level 1 at WQ 160 reconstructs to 15; one less is nothing.
  const TShapedCoefficient d = TBlockShaper(false, false, false).Coefficient(0, 1, 12, 160);
  EXPECT_EQ(d.ErrorKept, 9);
  EXPECT_EQ(d.ErrorLower, 144);
  // MPEG-1 makes an even reconstruction odd toward zero: intra 2 x 1 x 160 / 32 = 10 -> 9.
  EXPECT_EQ(TBlockShaper(true, false, true).Coefficient(1, 1, 9, 160).ErrorKept, 0);
}

TEST(TBlockShaper, CountsTheBitsTheWriterWrites) {
  const TBlockShaper b14(false, false, false);
  EXPECT_EQ(b14.PairBits(0, 1, true), 2);   // the short first code "1s"
  EXPECT_EQ(b14.PairBits(0, 1, false), 3);  // "11s"
  EXPECT_EQ(b14.PairBits(1, 1, false), 4);  // "011s"
  EXPECT_EQ(b14.PairBits(31, 1, false), 17);
  EXPECT_EQ(b14.PairBits(0, 41, false), 24);  // no code: escape, 6-bit run, 12-bit level
  EXPECT_EQ(b14.PairBits(40, 1, false), 24);
  const TBlockShaper b15(true, true, false);
  EXPECT_EQ(b15.PairBits(0, 1, false), 3);  // "10s" in table B-15
  const TBlockShaper mpeg1(false, false, true);
  EXPECT_EQ(mpeg1.PairBits(0, 100, false), 20);  // 8-bit level
  EXPECT_EQ(mpeg1.PairBits(0, 200, false), 28);  // 16-bit level
}

TEST(TBlockShaper, WithoutAPriceOnBitsNothingChanges) {
  const TBlockShaper shaper(false, false, false);
  const TBlock block = {Coefficient(0, 3, 32, false), Coefficient(5, -1, 32, false), Coefficient(40, 1, 32, false)};
  const TBlock shaped = Shaped(shaper, block, 0);
  ASSERT_EQ(shaped.size(), block.size());
  for (std::size_t i = 0; i < block.size(); ++i) EXPECT_EQ(shaped[i].Level, block[i].Level);
}

TEST(TBlockShaper, DropsAFarLoneOneButKeepsAStrongCoefficient) {
  const std::int32_t WQ = 16 * 10;  // flat matrix, quantiser_scale 10: a step of 10
  const TBlockShaper shaper(true, false, false);
  // Level 1 after a run of 40 needs an escape (24 bits): at lambda 0.2 x 10^2 = 20 per bit
  // those bits cost far more than the coefficient's error of 10^2.
  const TBlock block = {Coefficient(1, 12, WQ, true), Coefficient(42, -1, WQ, true)};
  const TBlock shaped = Shaped(shaper, block, 20);
  ASSERT_EQ(shaped.size(), 1u);
  EXPECT_EQ(shaped[0].Pos, 1);
  EXPECT_EQ(shaped[0].Level, 12);
}

TEST(TBlockShaper, AMiddleCoefficientGoesAndTheOthersKeepOrderAndSign) {
  const std::int32_t WQ = 16 * 8;
  const TBlockShaper shaper(false, false, false);
  // The middle 1 reconstructs farther from its input than 0 does: it goes, and the 9 after it
  // takes the longer run.
  const TBlock block = {Coefficient(0, -9, WQ, false), Coefficient(1, 1, WQ, false, 4),
                        Coefficient(2, -9, WQ, false)};
  const TBlock shaped = Shaped(shaper, block, 0.2 * 64);
  ASSERT_EQ(shaped.size(), 2u);
  EXPECT_EQ(shaped[0].Pos, 0);
  EXPECT_EQ(shaped[0].Level, -9);
  EXPECT_EQ(shaped[1].Pos, 2);
  EXPECT_EQ(shaped[1].Level, -9);
}

TEST(TBlockShaper, EmptiesANonIntraBlockNotWorthItsBitsButNeverAnIntraOnesDC) {
  const std::int32_t WQ = 16 * 12;
  const TBlock weak = {Coefficient(3, 1, WQ, false, 10), Coefficient(9, -1, WQ, false, 10)};
  EXPECT_TRUE(Shaped(TBlockShaper(false, false, false), weak, 0.3 * 144).empty());
  // An intra block keeps its DC whatever happens to the AC terms (the DC is not in the list).
  const TBlock weakIntra = {Coefficient(3, 1, WQ, true, 10)};
  EXPECT_TRUE(Shaped(TBlockShaper(true, false, false), weakIntra, 0.3 * 144).empty());
}

TEST(TBlockShaper, EveryChoiceLowersTheCostOfRandomBlocks) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    const bool intra = round % 3 == 0;
    const bool b15 = intra && round % 2 == 0;
    const bool mpeg1 = round % 7 == 0;
    const TBlockShaper shaper(intra, b15, mpeg1);
    const std::int32_t WQ = static_cast<std::int32_t>(8 + random() % 60) * static_cast<std::int32_t>(2 + random() % 30);
    TBlock block;
    for (int pos = intra ? 1 : 0; pos < 64; ++pos) {
      if (random() % 4 != 0) continue;
      int level = static_cast<int>(random() % 6) + 1;
      if (random() % 10 == 0) level += static_cast<int>(random() % 200);
      if (random() % 2) level = -level;
      const std::int32_t exact = TLevelQuantiser::Magnitude(level < 0 ? -level : level, WQ, intra, mpeg1);
      // The input's reconstruction lies within half a step of the chosen level's.
      const std::int32_t wobble = static_cast<std::int32_t>(random() % static_cast<unsigned>(WQ / 32 + 1));
      block.push_back(Coefficient(pos, level, WQ, intra, std::max(0, exact + (random() % 2 ? wobble : -wobble)), mpeg1));
    }
    const double lambda = 0.05 * static_cast<double>(random() % 10) * WQ * WQ / 256.0;
    const TBlock shaped = Shaped(shaper, block, lambda);
    EXPECT_LE(Cost(shaper, block, shaped, intra, b15, lambda), Cost(shaper, block, block, intra, b15, lambda) + 1e-6)
        << "round " << round;
    for (std::size_t i = 0; i < shaped.size(); ++i) {
      EXPECT_NE(shaped[i].Level, 0);
      if (i > 0) {
        EXPECT_LT(shaped[i - 1].Pos, shaped[i].Pos);
      }
    }
  }
}

} // namespace
} // namespace varlow
