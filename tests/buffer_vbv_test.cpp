// The buffer model on lists of pictures made here, whose occupancies follow by hand, and on
// crafted streams through the overview scan, the statistics and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

#include "CliRun.h"
#include "buffer/VbvCurve.h"
#include "overview/OverviewReport.h"
#include "overview/OverviewStatistics.h"
#include "overview_craft.h"
#include "syntax/PictureCodingTypes.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// 900,000 bit/s: ten bits per tick of the 90 kHz clock, so occupancies are easy sums.
constexpr std::int64_t kRate = 900000;

TVbvPicture Pic(std::int64_t bits, std::uint16_t delay = 0xFFFF, int type = kBidirectionalPicture,
                std::int64_t buffer = 16384 * 100) {
  TVbvPicture p;
  p.UnitBits = bits;
  p.StartCodeEndBits = 32;
  p.VbvDelay = delay;
  p.CodingType = static_cast<std::uint8_t>(type);
  p.BitRate = kRate;
  p.BufferBits = buffer;
  p.FrameRate = 25;
  return p;
}

// A picture of an interlaced MPEG-2 sequence, on show as PictureFramePeriods says.
TVbvPicture Timed(int type, int structure, bool repeat, bool topFirst = false, bool progressiveSequence = false) {
  TVbvPicture p = Pic(1000, 0xFFFF, type);
  p.FieldPicture = structure != kFramePicture;
  p.FramePeriods = PictureFramePeriods(true, p.FieldPicture, repeat, topFirst, progressiveSequence);
  return p;
}

// Seconds between successive decoding times, in 25ths of a second (frame periods).
std::vector<double> Steps(const std::vector<TVbvPicture>& pictures) {
  std::vector<TVbvPoint> points;
  RunVbv(TVbvMode::Variable, pictures, &points);
  std::vector<double> steps;
  for (std::size_t i = 1; i < points.size(); ++i)
    steps.push_back(std::round((points[i].Time - points[i - 1].Time) * 25 * 1000) / 1000);
  return steps;
}

std::string WriteStream(const std::vector<std::uint8_t>& bytes) {
  const std::string path =
      ::testing::TempDir() + "buffer_vbv_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".m2v";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace

TEST(BufferVbv, ConstantRateUnderflowAndOverflowAtTheirPictures) {
  // Each picture leaves vbv_delay ticks after the end of its start code: 32 + 10 * delay bits
  // of the stream from its unit's start have arrived by then.
  const std::vector<TVbvPicture> pictures = {Pic(100000, 18000, kIntraPicture, 163840), Pic(40000, 9000),
                                             Pic(50000, 2000), Pic(10000, 1200)};
  std::vector<TVbvPoint> points;
  const TVbvSummary s = RunVbv(TVbvMode::Constant, pictures, &points);
  ASSERT_TRUE(s.Modelled);
  EXPECT_EQ(points[0].Before, 180032);  // over the 163,840-bit buffer
  EXPECT_EQ(points[0].After, 80032);
  EXPECT_EQ(points[1].Before, 90032);
  EXPECT_EQ(points[2].Before, 20032);  // 50,000 bits due, 20,032 there
  EXPECT_EQ(points[2].After, -29968);
  // The last picture's delay reaches past the stream's end: it finds the rest of the stream.
  EXPECT_EQ(points[3].Before, 10000);
  EXPECT_EQ(points[3].After, 0);
  EXPECT_DOUBLE_EQ(points[0].Time, 32.0 / kRate + 0.2);
  EXPECT_DOUBLE_EQ(points[2].Time, (140000.0 + 32) / kRate + 2000 / 90000.0);

  EXPECT_EQ(s.Underflows, 1);
  EXPECT_EQ(s.Overflows, 1);
  ASSERT_EQ(s.Events.size(), 2u);
  EXPECT_EQ(s.Events[0].What, TVbvEvent::Kind::Overflow);
  EXPECT_EQ(s.Events[0].Picture, 0u);
  EXPECT_EQ(s.Events[1].What, TVbvEvent::Kind::Underflow);
  EXPECT_EQ(s.Events[1].Picture, 2u);
  EXPECT_EQ(s.Events[1].Bits, 20032);
  EXPECT_EQ(s.LowestBits, -29968);
  EXPECT_EQ(s.LowestPicture, 2);
  EXPECT_EQ(s.BufferBits, 163840);
  EXPECT_EQ(s.Rate, kRate);
}

TEST(BufferVbv, VariableRateStopsFillingAtAFullBuffer) {
  // 40,000 bits arrive per frame period, more than the 32,768-bit buffer takes back: it stays
  // full before every picture, and a full buffer is no overflow.
  std::vector<TVbvPicture> pictures(10, Pic(30000, 0xFFFF, kBidirectionalPicture, 32768));
  for (auto& p : pictures) p.BitRate = 1000000;
  std::vector<TVbvPoint> points;
  const TVbvSummary s = RunVbv(TVbvMode::Variable, pictures, &points);
  ASSERT_TRUE(s.Modelled);
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    EXPECT_EQ(points[i].Before, 32768) << i;
    EXPECT_EQ(points[i].After, 2768) << i;
  }
  // The last picture finds only what is left of the stream.
  EXPECT_EQ(points.back().Before, 30000);
  EXPECT_EQ(points.back().After, 0);
  EXPECT_DOUBLE_EQ(points[0].Time, 32768.0 / 1000000);
  EXPECT_NEAR(points[1].Time - points[0].Time, 0.04, 1e-12);
  EXPECT_EQ(s.Overflows, 0);
  EXPECT_EQ(s.Underflows, 0);
  EXPECT_EQ(s.HighestBits, 32768);
  // The buffer drained by the stream's end is not the lowest: the lowest is where it was lowest
  // while bits still came.
  EXPECT_EQ(s.LowestBits, 2768);
  EXPECT_EQ(s.LowestPicture, 0);

  // A picture larger than the whole buffer underflows it whatever the rate.
  pictures[4].UnitBits = 40000;
  const TVbvSummary big = RunVbv(TVbvMode::Variable, pictures);
  EXPECT_EQ(big.Underflows, 1);
  ASSERT_EQ(big.Events.size(), 1u);
  EXPECT_EQ(big.Events[0].Picture, 4u);
}

TEST(BufferVbv, DecodingTimesFollowRepeatedFieldsFieldPicturesAndTheAnchorOnShow) {
  const int I = kIntraPicture, P = kPredictedPicture, B = kBidirectionalPicture, F = kFramePicture;
  // While an I or P picture decodes, the I or P picture before it is on show; a B picture is on
  // show as it decodes. The first I picture has none before it and counts its own time.
  EXPECT_EQ(Steps({Timed(I, F, true), Timed(P, F, false), Timed(B, F, true), Timed(B, F, false), Timed(P, F, false),
                   Timed(B, F, false)}),
            (std::vector<double>{1.5, 1.5, 1.5, 1, 1}));
  // A progressive sequence repeats whole frames: two or three periods.
  EXPECT_EQ(Steps({Timed(B, F, true, true, true), Timed(B, F, true, false, true), Timed(B, F, false, false, true)}),
            (std::vector<double>{3, 2}));
  // Field pictures: half a period each; an I field pair after a P frame with a repeated field
  // shares that frame's 1.5 periods between its fields.
  EXPECT_EQ(Steps({Timed(I, kTopField, false), Timed(I, kBottomField, false), Timed(P, kTopField, false),
                   Timed(P, kBottomField, false), Timed(B, kTopField, false), Timed(B, kBottomField, false),
                   Timed(P, F, true), Timed(I, kTopField, false), Timed(I, kBottomField, false), Timed(B, F, false)}),
            (std::vector<double>{0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 1, 1, 0.5}));
  // A low-delay sequence shows every picture as it decodes.
  std::vector<TVbvPicture> low = {Timed(I, F, true), Timed(P, F, false), Timed(P, F, true), Timed(P, F, false)};
  for (auto& p : low) p.LowDelay = true;
  EXPECT_EQ(Steps(low), (std::vector<double>{1.5, 1, 1.5}));
}

TEST(BufferVbv, NonsenseParametersGiveTheModeAndNoFigures) {
  for (const auto& [rate, buffer, frameRate] : {std::tuple{0.0, 16384.0, 25.0}, std::tuple{1e6, 0.0, 25.0},
                                                std::tuple{1e6, 16384.0, 0.0}, std::tuple{-5.0, -5.0, -1.0}}) {
    std::vector<TVbvPicture> pictures(3, Pic(1000));
    pictures[1].BitRate = static_cast<std::int64_t>(rate);
    pictures[1].BufferBits = static_cast<std::int64_t>(buffer);
    pictures[1].FrameRate = frameRate;
    const TVbvSummary s = RunVbv(TVbvMode::Variable, pictures);
    EXPECT_FALSE(s.Modelled) << rate << " " << buffer << " " << frameRate;
    EXPECT_EQ(s.Mode, TVbvMode::Variable);
    EXPECT_EQ(s.Pictures, 3);
  }
  // At a constant rate the frame rate matters only to pictures without a delay.
  std::vector<TVbvPicture> noFrameRate(3, Pic(1000, 500));
  for (auto& p : noFrameRate) p.FrameRate = 0;
  EXPECT_TRUE(RunVbv(TVbvMode::Constant, noFrameRate).Modelled);
  EXPECT_FALSE(RunVbv(TVbvMode::Constant, {}).Modelled);

  // Random values: never a crash, never a figure that is not a number.
  std::mt19937 random(20);
  for (int run = 0; run < 200; ++run) {
    std::vector<TVbvPicture> pictures(20);
    for (auto& p : pictures) {
      p.UnitBits = static_cast<std::int64_t>(random() % 5) - 1 + static_cast<std::int64_t>(random());
      p.StartCodeEndBits = static_cast<std::int64_t>(random() % 100000);
      p.VbvDelay = static_cast<std::uint16_t>(random() % 3 == 0 ? 0xFFFF : random());
      p.CodingType = static_cast<std::uint8_t>(random() % 8);
      p.FieldPicture = random() % 2;
      p.FramePeriods = (random() % 7) * 0.5;
      p.BitRate = static_cast<std::int64_t>(random() % 4 == 0 ? 0 : random());
      p.BufferBits = static_cast<std::int64_t>(random() % 4 == 0 ? 0 : random());
      p.FrameRate = (random() % 4) * 12.5;
      p.LowDelay = random() % 2;
    }
    std::vector<TVbvPoint> points;
    const TVbvSummary s = RunVbv(random() % 2 ? TVbvMode::Constant : TVbvMode::Variable, pictures, &points);
    for (const auto& point : points) ASSERT_TRUE(std::isfinite(point.Time));
    EXPECT_LE(s.Underflows + s.Overflows, 40);
  }
}

TEST(BufferVbv, CraftedStreamChangesItsBufferSizeMidway) {
  // 1 Mbit/s at 25 frames/s, a 65,536-bit buffer, then a sequence header that makes it 16,384.
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3, 2500, 4).SequenceExtension(true).Group(true);
  for (int k = 0; k < 6; ++k) craft.Picture(k, k == 0 ? 1 : 2).CodingExtension(3, true, false, true).Slice(1000);
  craft.SequenceHeader(352, 288, 3, 2500, 1).SequenceExtension(true).Group(true);
  for (int k = 0; k < 12; ++k) craft.Picture(k, k == 0 ? 1 : 2).CodingExtension(3, true, false, true).Slice(1000);
  craft.End();
  const TOverviewData data = ScanPath(WriteStream(craft.Bytes()));
  const TVbvCurve curve = ComputeVbvCurve(data);
  ASSERT_EQ(curve.Points.size(), 18u);
  ASSERT_TRUE(curve.Summary.Modelled);
  EXPECT_EQ(curve.Summary.Mode, TVbvMode::Variable);
  using TSizes = std::vector<std::pair<std::uint32_t, std::int64_t>>;
  EXPECT_EQ(curve.BufferSizes, (TSizes{{0, 65536}, {6, 16384}}));
  EXPECT_EQ(curve.BufferBitsAt(5), 65536);
  EXPECT_EQ(curve.BufferBitsAt(6), 16384);
  // Full before every picture of the first sequence (40,000 bits arrive per period, about 8,100
  // leave); the smaller buffer then holds more than it may until the pictures have drained it.
  for (std::size_t i = 1; i < 6; ++i) EXPECT_EQ(curve.Points[i].Before, 65536) << i;
  EXPECT_EQ(curve.Points[6].Before, curve.Points[5].After);
  ASSERT_FALSE(curve.Summary.Events.empty());
  EXPECT_EQ(curve.Summary.Events.front().What, TVbvEvent::Kind::Overflow);
  EXPECT_EQ(curve.Summary.Events.front().Picture, 6u);
  std::size_t lastOverflow = 0;
  for (const TVbvEvent& e : curve.Summary.Events) lastOverflow = e.Picture;
  EXPECT_EQ(curve.Summary.Overflows, static_cast<std::int64_t>(curve.Summary.Events.size()));
  // (The last two find only the rest of the stream.)
  for (std::size_t i = lastOverflow + 1; i + 2 < 18; ++i) EXPECT_EQ(curve.Points[i].Before, 16384) << i;
  // Each unit holds the headers in front of its picture: the units add up to the stream.
  std::int64_t bits = 0;
  for (const TVbvPoint& p : curve.Points) bits += p.Before - p.After;
  EXPECT_EQ(bits, 8 * static_cast<std::int64_t>(craft.Bytes().size()));
}

TEST(BufferVbv, CraftedConstantRateStreamThroughStatsJsonAndText) {
  // 400,000 bit/s (1000 units of 400): four bits per tick. Each picture is about 4,100 bytes;
  // the third gives a delay far too short for it.
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3, 1000, 20).SequenceExtension(true).Group(true);
  const int delays[] = {9000, 9000, 500, 9000};
  for (int k = 0; k < 4; ++k)
    craft.Picture(k, k == 0 ? 1 : 2, static_cast<std::uint32_t>(delays[k]))
        .CodingExtension(3, true, false, true)
        .Slice(4096);
  craft.End();
  const std::string path = WriteStream(craft.Bytes());
  const TOverviewStatistics s = ComputeStatistics(ScanPath(path));
  EXPECT_EQ(s.Vbv.Mode, TVbvMode::Constant);
  EXPECT_EQ(s.Vbv.Underflows, 1);
  EXPECT_EQ(s.Vbv.LowestPicture, 2);
  const CliRun json = Cli("stats --json " + path);
  EXPECT_EQ(json.status, 0);
  const std::string expected =
      "\"vbv\": {\n    \"mode\": \"constant\",\n    \"buffer_bits\": 327680,\n    \"rate\": 400000,\n"
      "    \"lowest_bits\": " +
      std::to_string(s.Vbv.LowestBits) +
      ",\n    \"lowest_picture\": 2,\n    \"underflows\": 1,\n    \"overflows\": 0\n  }";
  EXPECT_NE(json.out.find(expected), std::string::npos) << json.out;
  const CliRun text = Cli("stats " + path);
  EXPECT_NE(text.out.find("constant rate (vbv_delay), buffer 327680 bits at 400000 bit/s"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("VBV underflows:"), std::string::npos);
  EXPECT_NE(text.out.find("1 at pictures 2\n"), std::string::npos) << text.out;
}

TEST(BufferVbv, StreamsWithoutRateOrBufferReportTheModeAlone) {
  // No rate (bit_rate_value 0), no buffer (0), and MPEG-1's variable-rate marker.
  for (const auto& [rate, vbv, mpeg1] :
       {std::tuple{0u, 20u, false}, std::tuple{1000u, 0u, false}, std::tuple{0x3FFFFu, 20u, true}}) {
    TStreamCraft craft;
    craft.SequenceHeader(352, 288, 3, rate, vbv);
    if (!mpeg1) craft.SequenceExtension(true);
    craft.Group(true);
    for (int k = 0; k < 3; ++k) {
      craft.Picture(k, k == 0 ? 1 : 2);
      if (!mpeg1) craft.CodingExtension(3, true, false, true);
      craft.Slice(100);
    }
    const TOverviewStatistics s = ComputeStatistics(ScanPath(WriteStream(craft.Bytes())));
    EXPECT_FALSE(s.Vbv.Modelled);
    const std::string json = StatisticsToJson(s, {});
    EXPECT_NE(json.find("\"mode\": \"variable\""), std::string::npos);
    EXPECT_NE(json.find("\"lowest_bits\": null,\n    \"lowest_picture\": null,\n    \"underflows\": null,\n    "
                        "\"overflows\": null"),
              std::string::npos)
        << json;
    EXPECT_NE(StatisticsToText(s, {}).find("variable rate, not modelled"), std::string::npos);
  }
}
