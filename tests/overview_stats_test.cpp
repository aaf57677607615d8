// Durations, bit rates, groups and stream parameters computed from the scan's records.
#include <gtest/gtest.h>

#include <algorithm>

#include "BrowseTestFiles.h"
#include "overview_craft.h"
#include "overview/OverviewReport.h"
#include "overview/OverviewStatistics.h"
#include "overview/PictureTiming.h"

namespace varlow::test {
namespace {

TOverviewStatistics StatsOf(const std::vector<std::uint8_t>& bytes, TOverviewData* keep = nullptr) {
  TTempStreamFile file("overview-stats", bytes);
  TOverviewData data = ScanPath(file.Path());
  TOverviewStatistics s = ComputeStatistics(data);
  if (keep) *keep = std::move(data);
  return s;
}

TEST(OverviewStatistics, SoftTelecineShowsTenSeconds) {
  // 240 coded pictures, 120 with repeat_first_field: 600 fields, 300 frames at 30000/1001.
  const TOverviewStatistics s = ComputeStatistics(ScanPath(SharedStream("idet_soft_telecine.m2v")));
  EXPECT_EQ(s.Pictures, 240);
  EXPECT_DOUBLE_EQ(s.Frames, 300.0);
  EXPECT_NEAR(s.Duration, 300.0 * 1001.0 / 30000.0, 1e-9);
  EXPECT_NEAR(s.FrameRate, 30000.0 / 1001.0, 1e-12);
  EXPECT_EQ(s.RepeatFirstField, 120);
  EXPECT_EQ(s.Scan, "interlaced");
  EXPECT_EQ(s.Width, 720u);
  EXPECT_EQ(s.Height, 480u);
  EXPECT_EQ(s.ChromaFormat, "4:2:0");
}

TEST(OverviewStatistics, FieldPicturesPairIntoFramesAndRepeatsFollowTheSequenceKind) {
  // Interlaced, 25 frames/s: 10 pairs of field pictures are 10 frames; an interlaced frame
  // picture with repeat_first_field shows three fields.
  TStreamCraft interlaced;
  interlaced.SequenceHeader(720, 576, 3).SequenceExtension(false).Group(true);
  for (int k = 0; k < 10; ++k) {
    interlaced.Picture(k, k == 0 ? 1 : 2).CodingExtension(1, true, false, false).Slice();
    interlaced.Picture(k, 2).CodingExtension(2, true, false, false).Slice();
  }
  interlaced.Picture(10, 2).CodingExtension(3, true, true, true).Slice();
  TOverviewStatistics s = StatsOf(interlaced.Bytes());
  EXPECT_EQ(s.FieldPictures, 20);
  EXPECT_DOUBLE_EQ(s.Frames, 11.5);
  EXPECT_NEAR(s.Duration, 11.5 / 25.0, 1e-12);

  // Progressive sequence at 24000/1001 with frame_rate_extension 1/0 (doubled rate): repeat
  // shows a frame twice, repeat with top_field_first three times.
  TStreamCraft progressive;
  progressive.SequenceHeader(352, 288, 1).SequenceExtension(true, 1, 0x48, 1, 0).Group(true);
  progressive.Picture(0, 1).CodingExtension(3, false, false, true).Slice();
  progressive.Picture(1, 2).CodingExtension(3, false, true, true).Slice();
  progressive.Picture(2, 2).CodingExtension(3, true, true, true).Slice();
  s = StatsOf(progressive.Bytes());
  EXPECT_DOUBLE_EQ(s.Frames, 6.0);
  EXPECT_NEAR(s.FrameRate, 48000.0 / 1001.0, 1e-9);
  EXPECT_NEAR(s.Duration, 6.0 * 1001.0 / 48000.0, 1e-12);
  EXPECT_EQ(s.Scan, "progressive");

  // MPEG-1: one frame per picture whatever else.
  const TOverviewStatistics mpeg1 = ComputeStatistics(ScanPath(SharedStream("gen2brain_test.m1v")));
  EXPECT_DOUBLE_EQ(mpeg1.Frames, static_cast<double>(mpeg1.Pictures));
  EXPECT_EQ(mpeg1.ProfileLevel, "MPEG-1");
}

TEST(OverviewStatistics, EachPictureIsTimedByTheSequenceInForce) {
  // 25 frames/s, then 50, then 25 again; the same header repeated between keeps one entry.
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(true);
  craft.Picture(0, 1).CodingExtension(3, false, false, true).Slice();
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(true);
  craft.Picture(0, 1).CodingExtension(3, false, false, true).Slice();
  craft.SequenceHeader(352, 288, 6).SequenceExtension(true).Group(true);
  craft.Picture(0, 1).CodingExtension(3, false, false, true).Slice();
  craft.Picture(1, 2).CodingExtension(3, false, false, true).Slice();
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(true);
  craft.Picture(0, 1).CodingExtension(3, false, false, true).Slice();
  TOverviewData data;
  const TOverviewStatistics s = StatsOf(craft.Bytes(), &data);
  ASSERT_EQ(data.Sequences.size(), 3u);
  EXPECT_EQ(data.Report.SequenceHeaders, 4);
  EXPECT_EQ(s.ParameterChanges, 2);
  EXPECT_NEAR(s.Duration, 3 / 25.0 + 2 / 50.0, 1e-12);
  EXPECT_EQ(data.SequenceOf(1)->FrameRateCode, 3u);
  EXPECT_EQ(data.SequenceOf(3)->FrameRateCode, 6u);
  EXPECT_EQ(data.SequenceOf(4)->FrameRateCode, 3u);
  EXPECT_EQ(s.FrameRate, 25.0);  // the first sequence's
}

TEST(OverviewStatistics, GroupsAndPictureExtremes) {
  // Groups of 3, 5, 3, 2 pictures; the second open with broken_link.
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3, 5000, 20).SequenceExtension(true);
  const int lengths[] = {3, 5, 3, 2};
  int tr = 0;
  std::size_t sliceBytes = 10;
  for (int g = 0; g < 4; ++g) {
    craft.Group(g != 1, g == 1);
    for (int k = 0; k < lengths[g]; ++k) {
      craft.Picture(tr++, k == 0 ? 1 : (k % 2 ? 3 : 2)).CodingExtension(3, false, false, true).Slice(sliceBytes);
      sliceBytes += 10;
    }
  }
  TOverviewData data;
  const TOverviewStatistics s = StatsOf(craft.Bytes(), &data);
  EXPECT_EQ(s.Groups, 4);
  EXPECT_EQ(s.ClosedGroups, 3);
  EXPECT_EQ(s.OpenGroups, 1);
  EXPECT_EQ(s.BrokenLinks, 1);
  EXPECT_EQ(s.GroupLengthMin, 2);
  EXPECT_EQ(s.GroupLengthMax, 5);
  EXPECT_EQ(s.GroupLengthMostCommon, 3);
  EXPECT_EQ(s.I.Count, 4);
  EXPECT_EQ(s.I.Count + s.P.Count + s.B.Count, 13);
  // Slices grow with every picture: the first I is the smallest, the last I the largest.
  EXPECT_EQ(s.I.MinOffset, data.Pictures[0].Offset());
  EXPECT_EQ(s.I.MaxOffset, data.Pictures[11].Offset());
  EXPECT_EQ(s.I.MaxBytes, data.Pictures[11].Size());
  EXPECT_EQ(s.DeclaredBitRate, 5000 * 400);
  EXPECT_EQ(s.VbvBufferBits, 20 * 16384);
  EXPECT_EQ(s.ProfileLevel, "MP@ML");
}

TEST(OverviewStatistics, Mpeg1VariableRateMarkerDeclaresNoRate) {
  // MPEG-1's bit_rate 0x3FFFF says the rate varies: no declared rate, shown as variable.
  TStreamCraft mpeg1;
  mpeg1.SequenceHeader(352, 288, 3, 0x3FFFF).Group(true);
  for (int k = 0; k < 3; ++k) mpeg1.Picture(k, k == 0 ? 1 : 2).Slice();
  const TOverviewStatistics s = StatsOf(mpeg1.Bytes());
  EXPECT_FALSE(s.Mpeg2);
  EXPECT_TRUE(s.VariableBitRate);
  EXPECT_EQ(s.DeclaredBitRate, 0);
  const auto rows = StatisticsRows(s);
  const auto declared = std::find_if(rows.begin(), rows.end(), [](const auto& row) { return row.first == "Declared bit rate"; });
  ASSERT_NE(declared, rows.end());
  EXPECT_EQ(declared->second, "variable (bit_rate_value 0x3FFFF)");
  const std::string json = StatisticsToJson(s, TScanReport());
  EXPECT_NE(json.find("\"declared_bitrate\": 0"), std::string::npos);
  EXPECT_NE(json.find("\"variable_bitrate\": true"), std::string::npos);

  // In MPEG-2 the same 18 bits are the low part of a rate like any other.
  TStreamCraft mpeg2;
  mpeg2.SequenceHeader(720, 576, 3, 0x3FFFF).SequenceExtension(false).Group(true);
  for (int k = 0; k < 3; ++k) mpeg2.Picture(k, k == 0 ? 1 : 2).CodingExtension(3, true, false, false).Slice();
  const TOverviewStatistics s2 = StatsOf(mpeg2.Bytes());
  EXPECT_TRUE(s2.Mpeg2);
  EXPECT_FALSE(s2.VariableBitRate);
  EXPECT_EQ(s2.DeclaredBitRate, std::int64_t{0x3FFFF} * 400);
}

TEST(OverviewStatistics, BitRatesAgreeWithABruteForceCount) {
  for (const char* name : {"cinecutie_test.m2v", "idet_soft_telecine.m2v", "greyramp.mpg"}) {
    const TOverviewData data = ScanPath(SharedStream(name));
    const TOverviewStatistics s = ComputeStatistics(data);
    const std::size_t n = data.Pictures.size();
    std::vector<double> start(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) start[i + 1] = start[i] + PictureSeconds(data, i);
    ASSERT_NEAR(start[n], s.Duration, 1e-9) << name;
    // The most bits of pictures that start within any one second that begins with a picture.
    auto unitBytes = [&](std::size_t j) {
      const std::int64_t end = j + 1 < n ? data.Pictures[j + 1].Offset() : data.Report.BytesScanned;
      const std::int64_t begin = j == 0 ? data.Report.FirstStartCode : data.Pictures[j].Offset();
      return static_cast<double>(end - begin);
    };
    double peak = 0;
    for (std::size_t i = 0; i < n; ++i) {
      double bits = 0;
      for (std::size_t j = i; j < n && start[j] < start[i] + 1.0 - 1e-6; ++j) bits += 8.0 * unitBytes(j);
      peak = std::max(peak, bits);
    }
    EXPECT_NEAR(s.PeakBitRateSecond, peak, 1.0) << name;
    const auto rates = SlidingSecondBitRates(data);
    EXPECT_NEAR(*std::max_element(rates.begin(), rates.end()), peak, peak * 1e-6) << name;
    // Average: every byte from the first start code over the duration.
    EXPECT_NEAR(s.AverageBitRate, 8.0 * static_cast<double>(data.Report.BytesScanned) / s.Duration, 1.0) << name;
    EXPECT_GE(s.PeakBitRateGroup, s.AverageBitRate * 0.5) << name;
    EXPECT_GE(s.PeakBitRateSecond, s.AverageBitRate * 0.9) << name;
  }
}

TEST(OverviewStatistics, ProfileLevelAndChromaNames) {
  TSequenceInfo q;
  q.Mpeg2 = true;
  const std::pair<std::uint32_t, const char*> names[] = {{0x48, "MP@ML"},   {0x44, "MP@HL"},   {0x85, "422P@ML"},
                                                         {0x82, "422P@HL"}, {0x58, "SP@ML"},   {0x1A, "HP@LL"},
                                                         {0x46, "MP@H14"},  {0x47, "reserved (0x47)"}};
  for (const auto& [value, text] : names) {
    q.ProfileAndLevel = value;
    EXPECT_EQ(ProfileLevelName(q), text);
  }
  EXPECT_EQ(ChromaFormatName(2), "4:2:2");
  EXPECT_EQ(ChromaFormatName(0), "reserved");
  // The project's 4:2:2 stream says so.
  const std::string path = OwnStream("i422_interlaced.m2v");
  if (Exists(path)) {
    const TOverviewStatistics s = ComputeStatistics(ScanPath(path));
    EXPECT_EQ(s.ChromaFormat, "4:2:2");
    EXPECT_EQ(s.ProfileLevel.substr(0, 5), "422P@");
  }
}

} // namespace
} // namespace varlow::test
