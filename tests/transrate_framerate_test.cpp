#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DecodedLuma.h"
#include "TestStreams.h"
#include "TransrateCraft.h"
#include "TransrateRun.h"
#include "support/Log.h"
#include "transrate/MPEG2VideoTransrateClass.h"

using namespace varlow;
using namespace varlow::test;

namespace {

constexpr double kNtsc = 30000.0 / 1001.0;

// The budget of frame pictures at the given rates, summed as the controller does.
std::int64_t Budget(const std::vector<double>& fps, std::int32_t bitrate) {
  double sum = 0;
  for (const double f : fps) sum += bitrate / f;
  return static_cast<std::int64_t>(sum);
}

// An elementary stream encoded by ffmpeg from a synthetic source.
std::vector<std::uint8_t> Encode(const std::string& rate, const std::string& name) {
  const std::string path = ::testing::TempDir() + name;
  const std::string command = "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=720x576:rate=" + rate +
                              " -t 2 -c:v mpeg2video -q:v 2 -g 12 -bf 2 -f mpeg2video '" + path + "'";
  if (Shell(command) != 0) return {};
  return ReadFileBytes(path);
}

} // namespace

TEST(TransrateFrameRate, EachSequenceBudgetsItsOwnGroups) {
  constexpr std::int32_t kRate = 1'500'000;
  TCraft s;
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1).Picture(2).Picture(2);
  s.SequenceEnd();  // streams joined one after another
  s.SequenceHeader(4).SequenceExtension().Gop().Picture(1).Picture(2).Picture(2);
  // A sequence header in the middle of a group (no GOP header after it): the pictures before
  // it keep their rate, those after it take the new one.
  s.SequenceHeader(3).SequenceExtension(1, 1, 1, 0).Picture(1).Picture(2);
  s.Gop().Picture(1);
  ScopedLogCapture log;
  // The cut keeps every group to its own budget (re-quantising would plan the lone last
  // picture with the group before it).
  const TTransrateRun run = Transrate(s.Data(), kRate, 2 * 1024 * 1024, TTransrateMethod::Cut);
  ASSERT_EQ(run.Groups.size(), 3u);
  EXPECT_EQ(run.Groups[0].BudgetBits, Budget({25, 25, 25}, kRate));
  EXPECT_EQ(run.Groups[1].BudgetBits, Budget({kNtsc, kNtsc, kNtsc, 50, 50}, kRate));
  EXPECT_EQ(run.Groups[2].BudgetBits, Budget({50}, kRate));
  EXPECT_NEAR(run.Groups[0].Seconds, 3 / 25.0, 1e-12);
  EXPECT_NEAR(run.Groups[1].Seconds, 3 / kNtsc + 2 / 50.0, 1e-12);
  EXPECT_TRUE(run.Output == s.Data());
  // The rate line is written when the rate changes, not for every sequence header.
  EXPECT_EQ(log.Count("FPS: 25.00"), 1);
  EXPECT_EQ(log.Count("FPS: 29.97"), 1);
  EXPECT_EQ(log.Count("FPS: 50.00"), 1);
}

TEST(TransrateFrameRate, ASequenceWithoutAUsableRateKeepsTheRateInForce) {
  TCraft s;
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1).Picture(2);
  s.SequenceHeader(0).SequenceExtension().Gop().Picture(1).Picture(2);
  const TTransrateRun run = Transrate(s.Data(), 2'000'000);
  ASSERT_EQ(run.Groups.size(), 2u);
  EXPECT_EQ(run.Groups[1].BudgetBits, Budget({25, 25}, 2'000'000));
  EXPECT_EQ(run.PicturesOut, 4);
}

TEST(TransrateFrameRate, JoinedStreamsOfTwoRatesStayWithinEveryGroupBudget) {
  const auto pal = Encode("25", "framerate_25.m2v");
  const auto ntsc = Encode("30000/1001", "framerate_2997.m2v");
  if (pal.empty() || ntsc.empty()) GTEST_SKIP() << "ffmpeg could not make the streams";
  std::vector<std::uint8_t> joined = pal;
  joined.insert(joined.end(), ntsc.begin(), ntsc.end());
  constexpr std::int32_t kRate = 1'500'000;
  const TTransrateRun run = Transrate(joined, kRate);
  const std::size_t palPictures = PictureOffsets(pal).size();
  ASSERT_EQ(run.PicturesOut, static_cast<std::int64_t>(palPictures + PictureOffsets(ntsc).size()));

  std::size_t picturesBefore = 0;
  int ntscGroups = 0;
  for (std::size_t g = 0; g < run.Groups.size(); ++g) {
    const TGroupReport& group = run.Groups[g];
    const double fps = picturesBefore < palPictures ? 25.0 : kNtsc;
    ntscGroups += fps != 25.0;
    EXPECT_EQ(group.BudgetBits, Budget(std::vector<double>(static_cast<std::size_t>(group.Pictures), fps), kRate)) << "group " << g;
    EXPECT_LE(group.OutputBits, group.BudgetBits) << "group " << g;
    EXPECT_LE(run.GroupOutputBits[g], group.BudgetBits) << "group " << g;
    EXPECT_NEAR(group.Seconds, group.Pictures / fps, 1e-9);
    picturesBefore += static_cast<std::size_t>(group.Pictures);
  }
  EXPECT_GT(ntscGroups, 0);
  // The second part was over the rate asked for before the cut: the cut made it fit there.
  std::int64_t ntscOut = 0;
  for (std::size_t g = run.Groups.size() - static_cast<std::size_t>(ntscGroups); g < run.Groups.size(); ++g)
    ntscOut += run.GroupOutputBits[g];
  const double seconds = static_cast<double>(PictureOffsets(ntsc).size()) / kNtsc;
  EXPECT_LE(static_cast<double>(ntscOut) / seconds, kRate);
  EXPECT_GT(static_cast<double>(ntsc.size()) * 8 / seconds, kRate);

  // Each sequence decodes without an error (decoded apart: ffmpeg's own timestamps stumble
  // over the change of rate even in the joined input). The second begins at the first
  // sequence header with frame_rate_code 4.
  std::size_t second = 0;
  for (std::size_t i = 0; i + 8 < run.Output.size() && second == 0; ++i)
    if (run.Output[i] == 0 && run.Output[i + 1] == 0 && run.Output[i + 2] == 1 && run.Output[i + 3] == 0xB3 &&
        (run.Output[i + 7] & 0x0F) == 4)
      second = i;
  ASSERT_GT(second, 0u);
  const auto split = run.Output.begin() + static_cast<std::ptrdiff_t>(second);
  EXPECT_TRUE(FfmpegDecodesCleanly(WriteTemp("framerate_out_25.m2v", {run.Output.begin(), split})));
  EXPECT_TRUE(FfmpegDecodesCleanly(WriteTemp("framerate_out_2997.m2v", {split, run.Output.end()})));
}

// Recordings joined end to end, each ended by a sequence end code and the next of another size
// or with matrices of its own: the end code is part of no picture, every picture after it is
// re-quantised under the new sequence's values (the default matrices come back after a sequence
// that loaded its own), and every part decodes close to its input.
TEST(TransrateFrameRate, SequencesJoinedAfterAnEndCodeAreEachTransrated) {
  struct TPart {
    const char* Name;
    int Width, Height;
    bool Shrinks;  // above the rate asked
  };
  const std::vector<TPart> parts = {{"i420_interlaced.m2v", 720, 576, true},
                                    {"p420_plain.m2v", 352, 288, true},
                                    {"matrices.m2v", 176, 144, false},
                                    {"i420_interlaced.m2v", 720, 576, true}};
  const std::vector<std::uint8_t> end = {0, 0, 1, 0xB7};
  std::vector<std::uint8_t> joined;
  std::vector<std::size_t> inputEnds;
  std::size_t pictures = 0;
  for (const TPart& part : parts) {
    const auto bytes = ReadFileBytes(OwnStream(part.Name));
    ASSERT_FALSE(bytes.empty()) << part.Name;
    pictures += PictureOffsets(bytes).size();
    joined.insert(joined.end(), bytes.begin(), bytes.end());
    joined.insert(joined.end(), end.begin(), end.end());
    inputEnds.push_back(joined.size());
  }

  ScopedLogCapture log;
  const TTransrateRun run = Transrate(joined, 1'000'000);
  for (const std::string& line : log.Lines()) EXPECT_EQ(line.find("unknown code"), std::string::npos) << line;
  EXPECT_EQ(run.PicturesOut, static_cast<std::int64_t>(pictures));
  for (std::size_t g = 0; g < run.Groups.size(); ++g) EXPECT_LE(run.GroupOutputBits[g], run.Groups[g].BudgetBits);

  // The output in its parts, at the end codes: each decodes by itself, close to its input.
  std::vector<std::size_t> ends;
  for (std::size_t i = 0; i + 3 < run.Output.size(); ++i)
    if (run.Output[i] == 0 && run.Output[i + 1] == 0 && run.Output[i + 2] == 1 && run.Output[i + 3] == 0xB7)
      ends.push_back(i + 4);
  ASSERT_EQ(ends.size(), parts.size());
  std::size_t from = 0, inputFrom = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    SCOPED_TRACE(std::to_string(k) + " " + parts[k].Name);
    const std::vector<std::uint8_t> out(run.Output.begin() + static_cast<std::ptrdiff_t>(from),
                                        run.Output.begin() + static_cast<std::ptrdiff_t>(ends[k]));
    const std::vector<std::uint8_t> in(joined.begin() + static_cast<std::ptrdiff_t>(inputFrom),
                                       joined.begin() + static_cast<std::ptrdiff_t>(inputEnds[k]));
    if (parts[k].Shrinks) {
      EXPECT_LT(out.size(), in.size() * 9 / 10);
    }
    const std::string suffix = std::to_string(k) + ".m2v";
    const TDecodedLuma decodedOut = DecodeLumaWithFfmpeg(WriteTemp("joined_out" + suffix, out), parts[k].Width, parts[k].Height);
    const TDecodedLuma decodedIn = DecodeLumaWithFfmpeg(WriteTemp("joined_in" + suffix, in), parts[k].Width, parts[k].Height);
    EXPECT_TRUE(decodedOut.Clean) << decodedOut.Errors;
    ASSERT_EQ(decodedOut.Pictures.size(), decodedIn.Pictures.size());
    for (std::size_t i = 0; i < decodedIn.Pictures.size(); ++i)
      EXPECT_GT(Distance(decodedIn.Pictures[i], decodedOut.Pictures[i], parts[k].Width, parts[k].Height).Psnr, 28.0)
          << "picture " << i;
    from = ends[k];
    inputFrom = inputEnds[k];
  }
}
