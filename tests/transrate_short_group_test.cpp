// A short group of pictures after a normal one (a lone intra picture ending a recording, a
// splice) is planned together with it by the re-quantiser, within their joint budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "DecodedLuma.h"
#include "TestStreams.h"
#include "TransrateCraft.h"
#include "TransrateRun.h"
#include "transrate/MPEG2VideoTransrateClass.h"

using namespace varlow;
using namespace varlow::test;

TEST(TransrateShortGroup, AGroupOfAQuarterOrLessJoinsTheOneBefore) {
  EXPECT_TRUE(TMPEG2VideoTransrateClass::IsShortGroup(1, 12));
  EXPECT_TRUE(TMPEG2VideoTransrateClass::IsShortGroup(3, 12));
  EXPECT_FALSE(TMPEG2VideoTransrateClass::IsShortGroup(4, 12));
  EXPECT_FALSE(TMPEG2VideoTransrateClass::IsShortGroup(1, 1));  // an intra-only stream stays as it is
  EXPECT_FALSE(TMPEG2VideoTransrateClass::IsShortGroup(12, 12));

  // Groups of 6, 6, 1, 6 and 1 pictures: each lone picture is planned with the group before it
  // (one report, the two budgets summed); the cut keeps every group to its own budget.
  TCraft s;
  s.SequenceHeader(3).SequenceExtension();
  const auto group = [&s](int pictures) {
    s.Gop().Picture(1);
    for (int k = 1; k < pictures; ++k) s.Picture(k % 3 == 0 ? 2 : 3);
  };
  for (const int pictures : {6, 6, 1, 6, 1}) group(pictures);
  const TTransrateRun requant = Transrate(s.Data(), 3'000'000);
  std::vector<int> sizes;
  for (const TGroupReport& g : requant.Groups) sizes.push_back(g.Pictures);
  EXPECT_EQ(sizes, (std::vector<int>{6, 7, 7}));
  EXPECT_EQ(requant.Groups[1].BudgetBits, 7 * 3'000'000 / 25);
  EXPECT_EQ(requant.PicturesOut, 20);
  EXPECT_TRUE(requant.Output == s.Data());
  const TTransrateRun cut = Transrate(s.Data(), 3'000'000, 2 * 1024 * 1024, TTransrateMethod::Cut);
  EXPECT_EQ(cut.Groups.size(), 5u);
  EXPECT_TRUE(cut.Output == s.Data());
}

// A third-party stream that ends in a lone intra picture: at 60% of its rate that picture keeps
// a quality like its neighbours' instead of being crushed into one picture's budget, and the
// two groups stay within their joint budget.
TEST(TransrateShortGroup, ALoneLastIntraPictureIsNotCrushed) {
  const std::string input = SharedStream("idet_interlaced_bff.m2v");
  if (!Exists(input)) GTEST_SKIP() << "no " << input;
  const auto bytes = ReadFileBytes(input);
  const TTransrateRun run = Transrate(bytes, 1'640'000);
  ASSERT_FALSE(run.Groups.empty());
  EXPECT_GT(run.Groups.back().Pictures, 1);
  for (std::size_t g = 0; g < run.Groups.size(); ++g) EXPECT_LE(run.GroupOutputBits[g], run.Groups[g].BudgetBits);

  const std::string output = WriteTemp("short_group_out.m2v", run.Output);
  const TDecodedLuma in = DecodeLumaWithFfmpeg(input, 720, 480);
  const TDecodedLuma out = DecodeLumaWithFfmpeg(output, 720, 480);
  ASSERT_TRUE(out.Clean) << out.Errors;
  ASSERT_EQ(in.Pictures.size(), out.Pictures.size());
  ASSERT_GT(in.Pictures.size(), 10u);
  std::vector<double> psnr;
  for (std::size_t i = 0; i < in.Pictures.size(); ++i)
    psnr.push_back(Distance(in.Pictures[i], out.Pictures[i], 720, 480).Psnr);
  const double mean = std::accumulate(psnr.begin(), psnr.end(), 0.0) / static_cast<double>(psnr.size());
  const double worstOfTheRest = *std::min_element(psnr.begin(), psnr.end() - 1);
  // The last picture in display order is the lone intra picture.
  EXPECT_GT(psnr.back(), worstOfTheRest) << "mean " << mean;
  EXPECT_GT(psnr.back(), mean - 3) << "mean " << mean;
}
