// The per-block summary the zoomed-out graph draws from, against plain walks over the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "BrowseTestFiles.h"
#include "overview_craft.h"
#include "overview/PictureSummary.h"
#include "overview/PictureTiming.h"

namespace varlow::test {
namespace {

// The same stream 16 times over (4800 pictures), so that blocks of 16, 256 and 4096 pictures all occur.
TOverviewData LongStream() {
  TOverviewData once = ScanPath(SharedStream("idet_interlaced_bff.m2v"));
  TOverviewData data = once;
  for (int copy = 1; copy < 16; ++copy) {
    const std::int64_t shift = copy * once.Report.BytesScanned;
    for (TPictureRecord p : once.Pictures) {
      p.SetOffset(p.Offset() + shift);
      data.Pictures.push_back(p);
    }
  }
  data.Report.BytesScanned = 16 * once.Report.BytesScanned;
  return data;
}

TEST(OverviewSummary, PeaksAgreeWithAWalkOverThePictures) {
  const TOverviewData data = LongStream();
  ASSERT_GT(data.Pictures.size(), 4096u + 256u);
  TPictureSummary summary;
  // Taken in bit by bit, as a scan publishes: the last picture waits until the end.
  const std::vector<float> rates = SlidingSecondBitRates(data);
  summary.Update(data, true);
  EXPECT_EQ(summary.Count(), data.Pictures.size());
  EXPECT_EQ(summary.MaxBytes(), std::max_element(data.Pictures.begin(), data.Pictures.end(), [](auto& a, auto& b) {
                                  return a.Size() < b.Size();
                                })->Size());
  EXPECT_FLOAT_EQ(static_cast<float>(summary.MaxBitRate()), *std::max_element(rates.begin(), rates.end()));
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t from = random() % data.Pictures.size();
    const std::size_t to = std::min(data.Pictures.size(), from + 1 + random() % (round < 1000 ? 40 : 6000));
    std::size_t best = from;
    for (std::size_t i = from; i < to; ++i)
      if (data.Pictures[i].Size() > data.Pictures[best].Size()) best = i;
    // The rate: the highest of the blocks of 16 that the run overlaps.
    float rate = 0;
    for (std::size_t i = from / 16 * 16; i < std::min(rates.size(), (to + 15) / 16 * 16); ++i) rate = std::max(rate, rates[i]);
    const TPictureSummary::TPeak peak = summary.Peak(data, from, to);
    ASSERT_EQ(peak.Picture, static_cast<std::int64_t>(best)) << from << ".." << to;
    ASSERT_EQ(peak.Bytes, data.Pictures[best].Size());
    ASSERT_EQ(peak.CodingType, data.Pictures[best].CodingType());
    ASSERT_FLOAT_EQ(peak.BitRate, rate) << from << ".." << to;
  }
}

TEST(OverviewSummary, GrowsWithTheScanAndHoldsTheLastPictureBack) {
  const TOverviewData whole = LongStream();
  TOverviewData growing;
  growing.Sequences = whole.Sequences;
  growing.Groups = whole.Groups;
  TPictureSummary summary;
  for (std::size_t i = 0; i < whole.Pictures.size(); i += 1 + i % 97) {
    while (growing.Pictures.size() <= i) growing.Pictures.push_back(whole.Pictures[growing.Pictures.size()]);
    growing.Report.BytesScanned = whole.Pictures[i].Offset() + whole.Pictures[i].Size();
    summary.Update(growing, false);
    ASSERT_EQ(summary.Count(), growing.Pictures.size() - 1);
  }
  growing = whole;
  summary.Update(growing, true);
  TPictureSummary once;
  once.Update(whole, true);
  EXPECT_EQ(summary.MaxBitRate(), once.MaxBitRate());
  for (std::size_t from = 0; from < whole.Pictures.size(); from += 300)
    EXPECT_EQ(summary.Peak(whole, from, from + 700).BitRate, once.Peak(whole, from, from + 700).BitRate);
}

TEST(OverviewSummary, RatesOfARunMatchTheWholeStreamWalk) {
  for (const char* name : {"idet_soft_telecine.m2v", "test_2.mpg", "cinecutie_test.m2v"}) {
    const TOverviewData data = ScanPath(SharedStream(name));
    const std::vector<float> all = SlidingSecondBitRates(data);
    for (std::size_t from : {std::size_t{0}, std::size_t{1}, std::size_t{29}, data.Pictures.size() / 2, data.Pictures.size() - 1}) {
      const std::vector<float> part = SecondBitRates(data, from, from + 40);
      ASSERT_EQ(part.size(), std::min<std::size_t>(40, data.Pictures.size() - from)) << name;
      for (std::size_t k = 0; k < part.size(); ++k) ASSERT_EQ(part[k], all[from + k]) << name << " picture " << from + k;
    }
  }
}

} // namespace
} // namespace varlow::test
