#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "TransrateRun.h"

using namespace varlow;
using namespace varlow::test;

namespace {

struct TStreamCase {
  std::string Path;
  std::string Name;
};

std::vector<TStreamCase> CleanStreams() {
  std::vector<TStreamCase> out;
  for (const auto& name : OwnStreamNames())
    if (name.ends_with(".m2v")) out.push_back({OwnStream(name), name});
  for (const char* name : {"lowrisc_test.m2v", "test_2.mpg", "cinecutie_test.m2v"})
    if (Exists(SharedStream(name))) out.push_back({SharedStream(name), name});
  return out;
}

void ExpectEveryGroupWithinBudget(const TTransrateRun& run) {
  for (std::size_t g = 0; g < run.Groups.size(); ++g) {
    const TGroupReport& r = run.Groups[g];
    EXPECT_EQ(r.OutputBits, run.GroupOutputBits[g]) << "group " << g;
    if (r.FixedBits <= r.BudgetBits) {
      EXPECT_LE(r.OutputBits, r.BudgetBits) << "group " << g;
    }
  }
}

} // namespace

// Every stream at every rate: decodes without an error in ffmpeg, libmpeg2 sees the same
// pictures, every picture from the first intra picture on is there, every group keeps its
// budget, and a rate the input already meets leaves the stream byte for byte as it was.
TEST(Transrate, StreamsStayDecodableAndWithinBudgetAtEveryRate) {
  for (const auto& stream : CleanStreams()) {
    const auto input = ReadFileBytes(stream.Path);
    ASSERT_FALSE(input.empty()) << stream.Path;
    const std::vector<std::uint8_t> fromIntra(input.begin() + static_cast<std::ptrdiff_t>(FirstIntraUnitStart(input)),
                                              input.end());
    for (std::int32_t rate : {1'500'000, 4'000'000, 50'000'000}) {
      SCOPED_TRACE(stream.Name + " at " + std::to_string(rate));
      const TTransrateRun run = Transrate(input, rate);
      EXPECT_EQ(run.PicturesOut, run.PicturesIn);
      EXPECT_EQ(PictureOffsets(run.Output).size(), PictureOffsets(fromIntra).size());
      ExpectEveryGroupWithinBudget(run);
      if (rate == 50'000'000) {
        EXPECT_TRUE(run.Output == fromIntra);
        continue;
      }
      EXPECT_LE(run.Output.size(), fromIntra.size());
      if (run.Output == fromIntra) continue;  // the rate was met already: nothing to judge
      const std::string path = WriteTemp("transrate_" + stream.Name + "_" + std::to_string(rate) + ".m2v", run.Output);
      EXPECT_TRUE(FfmpegDecodesCleanly(path)) << path;
      EXPECT_TRUE(Mpeg2decAgrees(path)) << path;
    }
  }
}

TEST(Transrate, LowRatesCutEveryKindOfPicture) {
  const auto input = ReadFileBytes(OwnStream("i420_interlaced.m2v"));
  const TTransrateRun run = Transrate(input, 1'500'000);
  ASSERT_FALSE(run.Groups.empty());
  EXPECT_LT(run.Output.size(), input.size() / 2);
  // The budget binds: every group but the trailing ones spends most of it.
  const TGroupReport& first = run.Groups.front();
  EXPECT_GT(first.OutputBits, first.BudgetBits * 8 / 10);
  EXPECT_LE(first.OutputBits, first.BudgetBits);
}

TEST(Transrate, BlockSizeDoesNotChangeTheOutput) {
  const auto input = ReadFileBytes(OwnStream("p420_tools.m2v"));
  const auto whole = Transrate(input, 1'500'000).Output;
  EXPECT_EQ(Transrate(input, 1'500'000, 1).Output, whole);
  EXPECT_EQ(Transrate(input, 1'500'000, 65'537).Output, whole);
}

TEST(Transrate, StreamStartingInsideAGroupDropsPicturesBeforeTheFirstIntra) {
  const auto input = ReadFileBytes(OwnStream("i420_interlaced.m2v"));
  const auto pictures = PictureOffsets(input);
  ASSERT_GT(pictures.size(), 10u);
  // Start at the second picture (a P or B picture of the first group).
  const std::vector<std::uint8_t> tail(input.begin() + static_cast<std::ptrdiff_t>(pictures[1]), input.end());
  const std::size_t intra = FirstIntraUnitStart(tail);
  ASSERT_LT(intra, tail.size());
  const TTransrateRun run = Transrate(tail, 50'000'000);
  EXPECT_TRUE(run.Output == std::vector<std::uint8_t>(tail.begin() + static_cast<std::ptrdiff_t>(intra), tail.end()));
}

TEST(Transrate, DamagedPicturesAreCarriedUnchanged) {
  // The last picture of greyramp.mpg is cut short; it must come out exactly as it came in.
  const std::string path = SharedStream("greyramp.mpg");
  if (!Exists(path)) GTEST_SKIP() << "no " << path;
  const auto input = ReadFileBytes(path);
  const TTransrateRun run = Transrate(input, 1'500'000);
  const auto inPictures = PictureOffsets(input);
  const auto outPictures = PictureOffsets(run.Output);
  ASSERT_EQ(inPictures.size(), outPictures.size());
  const auto carried = WithVariableDelays(input);  // its vbv_delay follows the stream's
  EXPECT_TRUE(std::equal(carried.begin() + static_cast<std::ptrdiff_t>(inPictures.back()), carried.end(),
                         run.Output.begin() + static_cast<std::ptrdiff_t>(outPictures.back()), run.Output.end()));
  // Cutting the other pictures adds no error of its own: ffmpeg reports only the input's.
  const std::vector<std::uint8_t> good(run.Output.begin(),
                                       run.Output.begin() + static_cast<std::ptrdiff_t>(outPictures.back()));
  EXPECT_TRUE(FfmpegDecodesCleanly(WriteTemp("transrate_greyramp_head.m2v", good)));
}

// Damaged input never crashes the engine nor makes it read or write outside a buffer (the
// sanitizer build checks the second half).
TEST(Transrate, DamagedInputsAreSurvived) {
  const auto clean = ReadFileBytes(OwnStream("i420_interlaced.m2v"));
  std::mt19937 random(1234);
  std::vector<std::vector<std::uint8_t>> cases;

  std::vector<std::uint8_t> noise(300'000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  cases.push_back(noise);

  std::vector<std::uint8_t> flipped = clean;  // bit errors all over the slices
  for (int i = 0; i < 400; ++i) flipped[random() % flipped.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
  cases.push_back(flipped);

  const auto pictures = PictureOffsets(clean);
  std::vector<std::uint8_t> truncated;  // every picture cut off in the middle
  for (std::size_t p = 0; p + 1 < pictures.size(); ++p)
    truncated.insert(truncated.end(), clean.begin() + static_cast<std::ptrdiff_t>(pictures[p]),
                     clean.begin() + static_cast<std::ptrdiff_t>((pictures[p] + pictures[p + 1]) / 2));
  truncated.insert(truncated.begin(), clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(pictures[0]));
  cases.push_back(truncated);

  std::vector<std::uint8_t> garbage = clean;  // garbage between pictures
  for (std::size_t p = pictures.size() - 1; p > 0; --p)
    garbage.insert(garbage.begin() + static_cast<std::ptrdiff_t>(pictures[p]), noise.begin(), noise.begin() + 777);
  cases.push_back(garbage);

  // No sequence header anywhere: nothing can start, nothing is written.
  std::vector<std::uint8_t> headless(clean.begin() + static_cast<std::ptrdiff_t>(pictures[0]), clean.end());
  for (std::size_t i = 0; i + 3 < headless.size(); ++i)
    if (headless[i] == 0 && headless[i + 1] == 0 && headless[i + 2] == 1 && headless[i + 3] == 0xB3) headless[i + 3] = 0xB0;
  const TTransrateRun none = Transrate(headless, 5'000'000);
  EXPECT_TRUE(none.Output.empty());

  // A sequence header announcing absurd sizes in front of real slices.
  std::vector<std::uint8_t> absurd = clean;
  absurd[4] = absurd[5] = absurd[6] = 0xFF;
  cases.push_back(absurd);

  for (std::size_t c = 0; c < cases.size(); ++c) {
    for (std::int32_t rate : {1'500'000, 50'000'000}) {
      const TTransrateRun run = Transrate(cases[c], rate, 100'000);
      EXPECT_EQ(run.PicturesOut, run.PicturesIn) << "case " << c;
      EXPECT_LE(run.Output.size(), cases[c].size()) << "case " << c;
    }
  }
}
