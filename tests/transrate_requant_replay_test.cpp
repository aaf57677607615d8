// Re-quantising replays the macroblocks its analysis kept instead of decoding the picture
// again. The analysis that keeps them must yield the figures the rate control plans with
// exactly as the cut's analysis does, and a replayed picture must come out byte for byte as
// one read from the input, also when the store fills up part way through a group.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/ParsedGroup.h"

namespace varlow {
namespace {

struct TAnalysis {
  bool Damaged = false;
  std::int64_t BlockBits = 0, CurveBits = 0;
  std::int32_t MaxCoefIndex = 0, AlignmentReserve = 0;
};

TAnalysis Figures(const TMPEGVideoTranscoder& t, bool curve) {
  TAnalysis a;
  a.Damaged = t.Damaged();
  a.BlockBits = t.BlockBits();
  a.CurveBits = curve ? std::accumulate(t.CoefBits().begin(), t.CoefBits().end(), std::int64_t{0}) : t.CurveBits();
  a.MaxCoefIndex = t.MaxCoefIndex();
  a.AlignmentReserve = t.AlignmentReserve();
  return a;
}

// Walks a stream picture by picture, in groups of GroupSize, with two transcoders side by
// side: one analyses as the cut does and re-quantises from the input, the other keeps the
// macroblocks (in at most Limit bytes per group) and replays them.
struct TWalk {
  int Replayed = 0;             // pictures replayed whole
  std::size_t FirstPicture = 0; // bytes the first picture took in the store
};
TWalk CompareWalks(const std::vector<std::uint8_t>& stream, std::size_t Limit, int GroupSize) {
  TMPEGESVideoFrameSeparatorEx separator;
  TMPEGVideoTranscoder reading, replaying;
  reading.SetMpeg1(true);
  replaying.SetMpeg1(true);
  reading.SetCutRecording(false);
  replaying.SetCutRecording(false);
  TParsedGroup group;
  int pictures = 0;
  TWalk walk;
  separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t* data, std::int32_t size) {
    const std::int32_t type = separator.FrameCodingType();
    if (type < 1 || type > 3) return S_OK;
    if (pictures % GroupSize == 0) group.Start(Limit);
    const int picture = group.BeginPicture();
    ++pictures;
    reading.Analyse(type, data, size);
    replaying.Analyse(type, data, size, &group);
    if (pictures == 1) walk.FirstPicture = group.Bytes();
    const TAnalysis a = Figures(reading, true);
    const TAnalysis b = Figures(replaying, false);
    EXPECT_EQ(a.Damaged, b.Damaged) << "picture " << pictures;
    if (a.Damaged || b.Damaged) return S_OK;
    EXPECT_EQ(a.BlockBits, b.BlockBits) << "picture " << pictures;
    EXPECT_EQ(a.CurveBits, b.CurveBits) << "picture " << pictures;
    EXPECT_EQ(a.MaxCoefIndex, b.MaxCoefIndex) << "picture " << pictures;
    EXPECT_EQ(a.AlignmentReserve, b.AlignmentReserve) << "picture " << pictures;

    // Rate control on, so that the steps follow the bits written slice by slice.
    TMPEGVideoTranscoder::TRequantSettings settings;
    settings.Scale = 1.8;
    settings.TargetBits = std::int64_t{size} * 8 / 2;
    settings.Alpha = 1.2;
    settings.RoundingBias = 0.1f;
    settings.MinStepRatio = 1.5;
    settings.Lambda = 0.2;
    std::vector<std::uint8_t> one(static_cast<std::size_t>(size) + 1024), two(one.size());
    auto sizeOne = static_cast<std::int32_t>(one.size()), sizeTwo = sizeOne;
    EXPECT_EQ(reading.Requantise(type, data, one.data(), size, sizeOne, settings), S_OK);
    EXPECT_EQ(replaying.Requantise(type, data, two.data(), size, sizeTwo, settings, &group, picture), S_OK);
    EXPECT_EQ(reading.Damaged(), replaying.Damaged());
    one.resize(static_cast<std::size_t>(sizeOne));
    two.resize(static_cast<std::size_t>(sizeTwo));
    EXPECT_TRUE(one == two) << "picture " << pictures << " differs";
    if (group.Whole(picture)) ++walk.Replayed;
    return S_OK;
  });
  TPaddedBuffer block(stream.size());
  block.Assign(stream);
  separator.AddData(block.Data(), static_cast<std::int32_t>(stream.size()));
  separator.Flush();
  EXPECT_GT(pictures, 0);
  return walk;
}

std::vector<std::string> Streams() {
  std::vector<std::string> paths;
  for (const std::string& name : test::OwnStreamNames()) paths.push_back(test::OwnStream(name));
  for (const char* name : {"idet_interlaced_bff.m2v", "gen2brain_test.m1v"})
    if (test::Exists(test::SharedStream(name))) paths.push_back(test::SharedStream(name));
  return paths;
}

TEST(RequantReplay, KeptMacroblocksGiveTheCutsFiguresAndTheSameOutput) {
  for (const std::string& path : Streams()) {
    SCOPED_TRACE(path);
    const std::vector<std::uint8_t> input = test::ReadFileBytes(path);
    ASSERT_FALSE(input.empty());
    EXPECT_GT(CompareWalks(input, std::size_t{64} << 20, 12).Replayed, 0);
  }
}

TEST(RequantReplay, AFullStoreLeavesTheRestOfTheGroupToBeReadAgain) {
  const std::vector<std::uint8_t> input = test::ReadFileBytes(test::OwnStream("i420_interlaced.m2v"));
  ASSERT_FALSE(input.empty());
  const TWalk all = CompareWalks(input, std::size_t{64} << 20, 4);
  // Room for about one and a half pictures of each group: the next is cut off part way and
  // read again, and so are the rest of its group.
  const TWalk part = CompareWalks(input, all.FirstPicture * 3 / 2, 4);
  EXPECT_GT(part.Replayed, 0);
  EXPECT_LT(part.Replayed, all.Replayed);
}

TEST(RequantReplay, KeepsMacroblocksReadInPlaceOrElsewhereAndForgetsThemAtAGroupsStart) {
  TParsedGroup group;
  group.Start(1 << 20);
  const int first = group.BeginPicture();
  group.BeginSlice(100);
  // The reader puts the coefficients of the coded blocks one after the other into the room the
  // store gives.
  TRequantMacroblock mb;
  mb.Coded = 0b101;
  std::uint8_t* pos = group.FreePos();
  std::int16_t* level = group.FreeLevel();
  pos[0] = 3, pos[1] = 7, pos[2] = 0;
  level[0] = 1, level[1] = -300, level[2] = 5;
  mb.Blocks[0] = {0, 0, 2, pos, level};
  mb.Blocks[2] = {0, 0, 1, pos + 2, level + 2};
  group.Append(mb);
  // A macroblock whose coefficients lie elsewhere is copied in.
  TRequantMacroblock elsewhere;
  elsewhere.Coded = 0b10;
  const std::uint8_t otherPos[] = {4, 9};
  const std::int16_t otherLevel[] = {-2, 40};
  elsewhere.Blocks[1] = {0, 0, 2, otherPos, otherLevel};
  group.Append(elsewhere);
  group.EndSlice(400);
  ASSERT_TRUE(group.Whole(first));
  ASSERT_EQ(group.EndSliceOf(first) - group.FirstSliceOf(first), 1u);
  EXPECT_EQ(group.Slice(group.FirstSliceOf(first)).End, 400);
  TRequantMacroblock back;
  group.Load(group.Slice(0).First, back);
  EXPECT_EQ(back.Coded, 0b101u);
  EXPECT_EQ(back.Blocks[0].Count, 2);
  EXPECT_EQ(back.Blocks[0].Pos[1], 7);
  EXPECT_EQ(back.Blocks[0].Level[1], -300);
  EXPECT_EQ(back.Blocks[2].Level[0], 5);
  group.Load(group.Slice(0).First + 1, back);
  ASSERT_EQ(back.Coded, 0b10u);
  EXPECT_EQ(back.Blocks[1].Pos[1], 9);
  EXPECT_EQ(back.Blocks[1].Level[1], 40);
  group.Start(1 << 20);
  EXPECT_FALSE(group.Whole(first));
  EXPECT_EQ(group.Bytes(), 0u);
}

} // namespace
} // namespace varlow
