// The peak one-second rate at every frame rate: against a sliding window written here, over
// crafted streams whose pictures' durations the test knows from how it made them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "overview/OverviewStatistics.h"
#include "overview/PictureTiming.h"
#include "overview_craft.h"

using namespace varlow;
using namespace varlow::test;

namespace {

struct TMade {
  std::vector<std::uint8_t> Bytes;
  std::vector<double> Seconds;       // each picture's time on show
  std::vector<std::int64_t> Starts;  // each picture's unit: from its start code (the first: from 0)
};

// Pictures of random sizes at `rate` frames/s (frame_rate_code `code`), `perGroup` to a group;
// `durations` gives each picture's frame periods and how it is coded.
struct TPictureKind {
  int Structure;  // 3 frame, 1 or 2 field
  bool Repeat;
  double Periods;
};

TMade Make(int code, double rate, bool progressive, const std::vector<TPictureKind>& cycle, int pictures) {
  TStreamCraft craft;
  TMade made;
  std::mt19937 random(static_cast<unsigned>(code * 31 + pictures));
  std::uniform_int_distribution<std::size_t> size(200, 6000);
  craft.SequenceHeader(720, 480, code).SequenceExtension(progressive);
  for (int k = 0; k < pictures; ++k) {
    if (k % 12 == 0) craft.Group(true);
    made.Starts.push_back(k == 0 ? 0 : static_cast<std::int64_t>(craft.Bytes().size()));
    const TPictureKind& kind = cycle[static_cast<std::size_t>(k) % cycle.size()];
    craft.Picture(k % 12, k % 12 == 0 ? 1 : 2).CodingExtension(kind.Structure, true, kind.Repeat, progressive);
    // A big picture now and then, so that where the peak lies matters.
    craft.Slice(k % 17 == 5 ? 40'000 : size(random));
    made.Seconds.push_back(kind.Periods / rate);
  }
  made.Bytes = craft.Bytes();
  return made;
}

// The most bits of any one-second stretch: for every picture, the pictures that begin in the
// second that begins with it.
double BruteForcePeak(const TMade& made) {
  const std::size_t n = made.Seconds.size();
  std::vector<double> start(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) start[i + 1] = start[i] + made.Seconds[i];
  const auto bits = [&](std::size_t j) {
    const std::int64_t end = j + 1 < n ? made.Starts[j + 1] : static_cast<std::int64_t>(made.Bytes.size());
    return 8.0 * static_cast<double>(end - made.Starts[j]);
  };
  double peak = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double sum = 0;
    for (std::size_t j = i; j < n && start[j] < start[i] + 1.0 - 1e-9; ++j) sum += bits(j);
    peak = std::max(peak, sum);
  }
  return peak;
}

// Each test writes its own file: ctest runs the tests of this file side by side.
TOverviewStatistics StatsOf(const std::vector<std::uint8_t>& bytes) {
  const std::string path = ::testing::TempDir() + "overview_peak_rate_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".m2v";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return ComputeStatistics(ScanPath(path));
}

}  // namespace

TEST(OverviewPeakRate, OneSecondHoldsWhatOneSecondHoldsAtEveryRate) {
  const double ntsc = 30000.0 / 1001;
  struct TCase {
    const char* Name;
    int Code;
    double Rate;
    bool Progressive;
    std::vector<TPictureKind> Cycle;
  };
  const std::vector<TCase> cases = {
      {"25 frames/s", 3, 25.0, false, {{3, false, 1.0}}},
      {"29.97 frames/s", 4, ntsc, false, {{3, false, 1.0}}},
      {"59.94 frames/s", 7, 60000.0 / 1001, true, {{3, false, 1.0}}},
      // Soft telecine: 23.976 frames/s coded, every other frame repeats a field.
      {"soft telecine", 4, ntsc, false, {{3, true, 1.5}, {3, false, 1.0}}},
      {"field pictures", 4, ntsc, false, {{1, false, 0.5}, {2, false, 0.5}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TMade made = Make(c.Code, c.Rate, c.Progressive, c.Cycle, 150);
    const TOverviewStatistics s = StatsOf(made.Bytes);
    ASSERT_EQ(s.Pictures, 150);
    double duration = 0;
    for (const double d : made.Seconds) duration += d;
    EXPECT_NEAR(s.Duration, duration, 1e-9);
    const double peak = BruteForcePeak(made);
    EXPECT_NEAR(s.PeakBitRateSecond, peak, 0.5);
    // A steady stream's busiest second holds at least its average.
    EXPECT_GE(s.PeakBitRateSecond, s.AverageBitRate);
  }
}

// With every picture the same size, the busiest second holds as many pictures as begin in one
// second: 30 at 29.97 frames/s (the 29 that also end in it would read 3% low).
TEST(OverviewPeakRate, EqualPicturesGiveTheirRateTimesTheirSize) {
  TStreamCraft craft;
  craft.SequenceHeader(720, 480, 4).SequenceExtension(false).Group(true);
  for (int k = 0; k < 120; ++k) craft.Picture(k, k == 0 ? 1 : 2).CodingExtension(3, true, false, false).Slice(1000);
  const TOverviewStatistics s = StatsOf(craft.Bytes());
  const double pictureBits = s.AverageBitRate / (30000.0 / 1001);
  EXPECT_NEAR(s.PeakBitRateSecond / pictureBits, 30.0, 0.05);
}
