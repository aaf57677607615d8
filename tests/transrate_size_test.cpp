// Transrating aimed at a size or a share of the input instead of a rate.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliRun.h"
#include "TestStreams.h"
#include "TransrateRun.h"
#include "transrate/SizeTarget.h"
#include "transrate/TransrateFile.h"

using namespace varlow;
using namespace varlow::test;

namespace {

std::int64_t FileSize(const std::string& path) { return static_cast<std::int64_t>(std::filesystem::file_size(path)); }

std::string OutPath(const std::string& name) { return ::testing::TempDir() + "transrate_size_" + name; }

TTransrateResult AimAt(const std::string& input, const std::string& output, std::int64_t size, double ratio = 0) {
  TTransrateOptions options;
  options.SizeBytes = size;
  options.Ratio = ratio;
  return TransrateFile(input, output, options);
}

}  // namespace

TEST(TransrateSize, SizesAreReadAsUsersWriteThem) {
  EXPECT_EQ(ParseSize("123456"), 123456);
  EXPECT_EQ(ParseSize("700k"), 700'000);
  EXPECT_EQ(ParseSize("4.3G"), 4'300'000'000);
  EXPECT_EQ(ParseSize("4.3GB"), 4'300'000'000);
  EXPECT_EQ(ParseSize("2MiB"), 2 * 1048576);
  EXPECT_EQ(ParseSize("1.5KiB"), 1536);
  EXPECT_EQ(ParseSize("10M"), 10'000'000);
  EXPECT_EQ(ParseSize("512B"), 512);
  for (const std::string_view bad : {"", "0", "-5", "k", "G4", "4.3", "12 M", "1e3", "5X", "0.0001k",
                                     "99999999999G", "12MiBs"})
    EXPECT_FALSE(ParseSize(bad).has_value()) << bad;
}

TEST(TransrateSize, EachGroupKeepsItsShareOfWhatIsLeft) {
  const TSizePlan plan(1000, 400);  // bytes in, bytes out
  // The first group, a tenth of the input, keeps a tenth of the output.
  EXPECT_EQ(plan.GroupBudget(100 * 8, 0, 0), 40 * 8);
  // A group after others that came out under their share gets the room they left...
  EXPECT_EQ(plan.GroupBudget(100 * 8, 500, 150), 50 * 8);
  // ...one after groups that went over is held tighter, and none is ever asked to grow.
  EXPECT_EQ(plan.GroupBudget(100 * 8, 500, 350), 10 * 8);
  EXPECT_EQ(TSizePlan(1000, 5000).GroupBudget(100 * 8, 0, 0), 100 * 8);
  // Nothing left: only what no cut removes goes out.
  EXPECT_EQ(plan.GroupBudget(100 * 8, 900, 400), 0);
  EXPECT_EQ(plan.GroupBudget(100 * 8, 900, 480), 0);
  // More input than announced: the last group takes what is left.
  EXPECT_EQ(plan.GroupBudget(100 * 8, 1000, 300), 100 * 8);
  EXPECT_FALSE(TSizePlan().Active());
}

// The output ends at most at the size asked and, where the fixed bits allow, close under it;
// it decodes with every picture, in elementary streams and in containers.
TEST(TransrateSize, OutputsLandJustUnderTheSizeAsked) {
  struct TCase {
    std::string Stream;
    double Share;
    double Lowest;  // the least share of the size reached
  };
  const std::vector<TCase> cases = {
      {"i420_interlaced.m2v", 0.5, 0.98}, {"i420_interlaced.m2v", 0.3, 0.98}, {"hd1080.m2v", 0.4, 0.98},
      {"mpeg1.m1v", 0.6, 0.98},           {"i420_interlaced.ts", 0.5, 0.98},  {"p420_plain.m2ts", 0.6, 0.98},
      // Three groups in 2 KiB packs: each group's last pack is a large part of so short a file.
      {"i420_interlaced.vob", 0.5, 0.95}, {"mpeg1.mpg", 0.6, 0.95},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Stream + " at " + std::to_string(c.Share));
    const std::string input = OwnStream(c.Stream);
    const std::string output = OutPath(c.Stream);
    const auto size = static_cast<std::int64_t>(static_cast<double>(FileSize(input)) * c.Share);
    const TTransrateResult result = AimAt(input, output, size);
    ASSERT_TRUE(result.Succeeded()) << result.Message;
    EXPECT_EQ(result.SizeAsked, size);
    EXPECT_EQ(result.OutputBytes, FileSize(output));
    EXPECT_LE(result.OutputBytes, size);
    EXPECT_GE(static_cast<double>(result.OutputBytes), c.Lowest * static_cast<double>(size));
    EXPECT_EQ(result.PicturesOut, result.PicturesIn);
    EXPECT_TRUE(TransrateShortfall(result, {}).empty()) << TransrateShortfall(result, {});
    EXPECT_TRUE(FfmpegDecodesCleanly(output));
  }
  // A ratio is a size: the same output as the size it comes to.
  const std::string input = OwnStream("p420_tools.m2v");
  const std::int64_t half = (FileSize(input) + 1) / 2;
  ASSERT_TRUE(AimAt(input, OutPath("ratio.m2v"), 0, 0.5).Succeeded());
  ASSERT_TRUE(AimAt(input, OutPath("half.m2v"), half).Succeeded());
  EXPECT_EQ(ReadFileBytes(OutPath("ratio.m2v")), ReadFileBytes(OutPath("half.m2v")));
  // A size above the input's leaves every picture as it was.
  ASSERT_TRUE(AimAt(input, OutPath("big.m2v"), FileSize(input) * 2).Succeeded());
  EXPECT_EQ(ReadFileBytes(OutPath("big.m2v")), ReadFileBytes(input));
}

// A size the fixed bits cannot meet still gives a complete, decodable file, and the summary
// says by how much it missed and why; so does a rate the fixed bits cannot meet.
TEST(TransrateSize, ATargetBelowTheFixedBitsIsSaidPlainly) {
  const std::string input = OwnStream("i420_interlaced.m2v");
  const std::string output = OutPath("tiny.m2v");
  const TTransrateResult result = AimAt(input, output, FileSize(input) / 50);
  ASSERT_TRUE(result.Succeeded()) << result.Message;
  EXPECT_GT(result.OutputBytes, result.SizeAsked);
  EXPECT_GT(result.GroupsOverBudget, 0);
  EXPECT_GT(result.OverBudgetBytes, result.OverBudgetAllowed);
  const std::string text = TransrateShortfall(result, {});
  EXPECT_NE(text.find("over the size asked"), std::string::npos) << text;
  EXPECT_NE(text.find("could not be brought under their budget"), std::string::npos) << text;
  EXPECT_EQ(result.PicturesOut, result.PicturesIn);
  EXPECT_TRUE(FfmpegDecodesCleanly(output));

  TTransrateOptions low;
  low.Bitrate = kMinTransrateBitrate;
  const TTransrateResult rated = TransrateFile(input, output, low);
  ASSERT_TRUE(rated.Succeeded());
  const std::string rateText = TransrateShortfall(rated, low);
  EXPECT_NE(rateText.find("at 100,000 bit/s"), std::string::npos) << rateText;
  EXPECT_NE(rateText.find("over the rate asked"), std::string::npos) << rateText;

  // In a container the other streams count against the size too.
  const TTransrateResult contained = AimAt(OwnStream("i420_interlaced.ts"), OutPath("tiny.ts"), 5000);
  ASSERT_TRUE(contained.Succeeded()) << contained.Message;
  EXPECT_NE(TransrateShortfall(contained, {}).find("the container's other streams and packet headers"),
            std::string::npos);
}

TEST(TransrateSize, TheCommandTakesSizesAndRatiosAndRefusesWhatCannotBe) {
  const std::string input = OwnStream("p420_plain.m2v");
  const std::string output = OutPath("cli.m2v");
  CliRun run = Cli("transrate '" + input + "' '" + output + "' --size 100k");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("(size 100000 bytes)"), std::string::npos) << run.out;
  EXPECT_LE(FileSize(output), 100'000);
  run = Cli("transrate '" + input + "' '" + output + "' --ratio 0.5");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_LE(FileSize(output), FileSize(input) / 2 + 1);
  // Missing at the lowest sizes is a warning, not a failure.
  run = Cli("transrate '" + input + "' '" + output + "' --size 2000");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("transrate: warning: The output is"), std::string::npos) << run.out;

  for (const std::string_view bad :
       {"--size 0", "--size 12X", "--size", "--ratio 0", "--ratio 1.5", "--ratio abc", "--size 1M --ratio 0.5",
        "--bitrate 2000000 --size 1M", "--size 1M --keep-mux-rate"}) {
    run = Cli("transrate '" + input + "' '" + output + "' " + std::string(bad));
    EXPECT_EQ(run.status, 2) << bad << ": " << run.out;
  }
}
