#include <gtest/gtest.h>

#include <vector>

#include "TestStreams.h"
#include "TransrateCraft.h"
#include "TransrateRun.h"
#include "support/Log.h"
#include "transrate/MPEG2VideoTransrateClass.h"

using namespace varlow;
using namespace varlow::test;

namespace {

TPictureCost Cost(std::int32_t fixed, std::vector<std::int32_t> levels) {
  TPictureCost c;
  c.Bits[0] = fixed;
  for (std::size_t k = 0; k < levels.size(); ++k) c.Bits[k + 1] = levels[k];
  c.MaxCoefIndex = static_cast<std::int32_t>(levels.size());
  return c;
}

} // namespace

TEST(FillCutLevels, RaisesAllPicturesTogetherAndStopsMidLevel) {
  // Three frame pictures at 25 fps and 5 Mbit/s: a budget of 600,000 bits.
  const std::vector<TPictureCost> costs = {Cost(60'000, {150'000, 90'000, 5'000}),
                                           Cost(30'000, {100'000, 60'000, 5'000}),
                                           Cost(30'000, {100'000, 60'000, 5'000})};
  EXPECT_EQ(FillCutLevels(costs, 3, 600'000), (std::vector<std::int32_t>{2, 1, 1}));
  // Everything fits: every picture reaches its own top level and keeps all its codes.
  EXPECT_EQ(FillCutLevels(costs, 3, 10'000'000), (std::vector<std::int32_t>{3, 3, 3}));
  // A picture whose curve is short stops at its own top while the others go on.
  const std::vector<TPictureCost> mixed = {Cost(1'000, {100}), Cost(1'000, {100, 100, 100})};
  EXPECT_EQ(FillCutLevels(mixed, 2, 2'350), (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(FillCutLevels(mixed, 2, 2'400), (std::vector<std::int32_t>{1, 3}));
}

TEST(FillCutLevels, ALevelIsGivenOnlyOnceItIsPaidFor) {
  const std::vector<TPictureCost> costs = {Cost(100, {1'000, 1'000}), Cost(100, {1'000, 1'000}),
                                           Cost(100, {1'000, 1'000})};
  // The fixed bits fit, the first codes of the second and third picture do not: they stay at 0.
  EXPECT_EQ(FillCutLevels(costs, 3, 1'400), (std::vector<std::int32_t>{1, 0, 0}));
  // Fixed bits alone overflow after the first picture: the rest stays at level 0 too.
  EXPECT_EQ(FillCutLevels(costs, 3, 150), (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_TRUE(FillCutLevels(costs, 0, 150).empty());
}

TEST(TMPEG2VideoTransrateClass, FieldPicturesCountHalfAPictureBudget) {
  TCraft s;
  s.SequenceHeader(3).SequenceExtension(0).Gop();
  s.Picture(1, 1).Picture(2, 2).Picture(2, 3).Picture(3, 1).Picture(3, 2);
  s.Gop().Picture(1, 3);
  // The cut keeps every group to its own budget, short ones too.
  const TTransrateRun run = Transrate(s.Data(), 5'000'000, 2 * 1024 * 1024, TTransrateMethod::Cut);
  ASSERT_EQ(run.Groups.size(), 2u);
  EXPECT_EQ(run.Groups[0].Pictures, 5);
  EXPECT_EQ(run.Groups[0].BudgetBits, 600'000);  // 4 fields and a frame: three frame budgets
  EXPECT_EQ(run.Groups[1].BudgetBits, 200'000);
  EXPECT_TRUE(run.Output == s.Data());  // pictures without slices have nothing to cut
}

// A picture that repeats a field stays on show longer and may take as much more: three fields
// of an interlaced sequence, two or three frames of a progressive one (soft telecine).
TEST(TMPEG2VideoTransrateClass, RepeatedFieldsLengthenAPicturesBudget) {
  TCraft s;
  s.SequenceHeader(4).SequenceExtension(0).Gop();
  s.Picture(1, 3, 0, true).Picture(2, 3, 1, false).Picture(2, 3, 2, true, true);  // 1.5 + 1 + 1.5
  s.SequenceHeader(4).SequenceExtension(1).Gop();
  s.Picture(1, 3, 0, true, true).Picture(2, 3, 1, true).Picture(2, 3, 2);  // 3 + 2 + 1
  const TTransrateRun run = Transrate(s.Data(), 3'000'000, 2 * 1024 * 1024, TTransrateMethod::Cut);
  ASSERT_EQ(run.Groups.size(), 2u);
  const double period = 1001.0 / 30000;
  EXPECT_EQ(run.Groups[0].BudgetBits, static_cast<std::int64_t>(3'000'000 * period * 4));
  EXPECT_EQ(run.Groups[1].BudgetBits, static_cast<std::int64_t>(3'000'000 * period * 6));
  EXPECT_NEAR(run.Groups[1].Seconds, 6 * period, 1e-12);
  const auto& d = s.Data();
  EXPECT_EQ(TMPEG2VideoTransrateClass::PicturePeriods(d.data(), static_cast<std::int32_t>(d.size()), false), 1.5);
  EXPECT_EQ(TMPEG2VideoTransrateClass::PicturePeriods(d.data(), static_cast<std::int32_t>(d.size()), true), 2.0);
  TCraft mpeg1;
  mpeg1.SequenceHeader(3).Gop();
  EXPECT_EQ(TMPEG2VideoTransrateClass::PicturePeriods(mpeg1.Data().data(), static_cast<std::int32_t>(mpeg1.Size()), true), 1.0);
}

TEST(TMPEG2VideoTransrateClass, FrameRateCodeZeroDropsIntraPicturesUntilAUsableOne) {
  TCraft s;
  s.SequenceHeader(0).SequenceExtension().Gop().Picture(1).Picture(2);
  const std::size_t usable = s.Size();
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1).Picture(2).SequenceEnd();
  ScopedLogCapture capture;
  TMPEG2VideoTransrateClass transrate;
  std::vector<std::uint8_t> out;
  transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* d, std::int32_t n, std::int32_t) {
    out.insert(out.end(), d, d + n);
    return S_OK;
  });
  transrate.SetMaxOutputBitrate(2'000'000);
  EXPECT_EQ(transrate.BitsPerPicture(), 0);  // stored only: the frame rate is not known yet
  TCraft copy = s;
  transrate.AddData(copy.Data().data(), static_cast<std::int32_t>(copy.Size()));
  transrate.Flush();
  EXPECT_EQ(capture.Count("wex: Error in TMPEG2VideoTransrateClass.MPEGESReceiveFunctionObj call..."), 1);
  EXPECT_EQ(capture.Count("FPS: 0.00"), 1);
  EXPECT_EQ(capture.Count("FPS: 25.00"), 1);
  EXPECT_TRUE(std::vector<std::uint8_t>(s.Data().begin() + static_cast<std::ptrdiff_t>(usable), s.Data().end()) == out);
  EXPECT_EQ(transrate.PicturesIn(), 2);
  EXPECT_EQ(transrate.BitsPerPicture(), 80'000);
  transrate.SetMaxOutputBitrate(5'000'000);  // once started, the budget follows the rate
  EXPECT_EQ(transrate.BitsPerPicture(), 200'000);
}

TEST(TMPEG2VideoTransrateClass, FrameRateExtensionScalesTheRate) {
  double fps = 0;
  bool progressive = false;
  TCraft doubled;
  doubled.SequenceHeader(3).SequenceExtension(1, 1, 1, 0);
  ASSERT_TRUE(TMPEG2VideoTransrateClass::GetParams(doubled.Data().data(), static_cast<std::int32_t>(doubled.Size()),
                                                   fps, progressive));
  EXPECT_EQ(fps, 50.0);
  EXPECT_TRUE(progressive);
  TCraft ntsc;
  ntsc.SequenceHeader(4).SequenceExtension(0, 1, 0, 1);  // 30000/1001 x 1/2
  ASSERT_TRUE(TMPEG2VideoTransrateClass::GetParams(ntsc.Data().data(), static_cast<std::int32_t>(ntsc.Size()), fps,
                                                   progressive));
  EXPECT_NEAR(fps, 30000.0 / 1001.0 / 2, 1e-9);
  EXPECT_FALSE(progressive);
  TCraft picture;
  picture.Picture(1);
  fps = -1;
  EXPECT_FALSE(TMPEG2VideoTransrateClass::GetParams(picture.Data().data(), static_cast<std::int32_t>(picture.Size()),
                                                    fps, progressive));
  EXPECT_EQ(fps, -1);
}

TEST(TMPEG2VideoTransrateClass, PictureStructureIsFoundBehindHeaders) {
  TCraft s;
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1, 2);
  std::int32_t structure = 0;
  ASSERT_TRUE(TMPEG2VideoTransrateClass::GetPictureStructure(s.Data().data(), static_cast<std::int32_t>(s.Size()),
                                                             structure));
  EXPECT_EQ(structure, 2);
  TCraft mpeg1;
  mpeg1.SequenceHeader(3).Gop();
  EXPECT_FALSE(TMPEG2VideoTransrateClass::GetPictureStructure(mpeg1.Data().data(),
                                                              static_cast<std::int32_t>(mpeg1.Size()), structure));
}

TEST(TMPEG2VideoTransrateClass, LongGroupsAreProcessedEvery1024Pictures) {
  TCraft s;
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1);
  for (int i = 0; i < 1500; ++i) s.Picture(2);
  const TTransrateRun run = Transrate(s.Data(), 5'000'000);
  ASSERT_EQ(run.Groups.size(), 2u);
  EXPECT_EQ(run.Groups[0].Pictures, 1024);
  EXPECT_EQ(run.Groups[1].Pictures, 477);
  EXPECT_TRUE(run.Output == s.Data());
}
