// varlow-cli check and its core: crafted headers breaking one rule each, reported at the
// element's offset and bit; the buffer's underflows at their pictures; the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "CliRun.h"
#include "check/HeaderRules.h"
#include "check/StreamCheck.h"
#include "overview_craft.h"

using namespace varlow;
using namespace varlow::test;

namespace {

std::string WriteStream(const std::vector<std::uint8_t>& bytes) {
  const std::string path =
      ::testing::TempDir() + "check_stream_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".m2v";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

TCheckReport Check(const std::string& path) {
  auto source = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  return source ? CheckStream(*source) : TCheckReport{};
}

std::int64_t PictureOffset(const std::vector<std::uint8_t>& b, int n) {
  for (std::size_t i = 0; i + 4 <= b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0 && n-- == 0) return static_cast<std::int64_t>(i);
  return -1;
}

}  // namespace

TEST(CheckStream, ForbiddenValuesAtTheirElementsBits) {
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 0).SequenceExtension(true).Group(true);
  craft.Picture(0, 1).CodingExtension(3, true, false, true).Slice(100);
  craft.Picture(1, 0).CodingExtension(0, true, false, true).Slice(100);
  const auto bytes = craft.Bytes();
  const TCheckReport report = Check(WriteStream(bytes));
  ASSERT_EQ(report.Violations.size(), 3u) << CheckReportText(report);
  // sequence_header_code(32) horizontal_size_value(12) vertical_size_value(12)
  // aspect_ratio_information(4), then frame_rate_code.
  EXPECT_EQ(report.Violations[0].Offset, 0);
  EXPECT_EQ(report.Violations[0].Bit, 60);
  EXPECT_EQ(report.Violations[0].Element, "frame_rate_code");
  EXPECT_EQ(report.Violations[0].Rule, "frame_rate_code 0 is forbidden");
  const std::int64_t second = PictureOffset(bytes, 1);
  // picture_start_code(32) temporal_reference(10), then picture_coding_type.
  EXPECT_EQ(report.Violations[1].Offset, second);
  EXPECT_EQ(report.Violations[1].Bit, 42);
  EXPECT_EQ(report.Violations[1].Element, "picture_coding_type");
  // The coding extension follows the picture header's 8 bytes (a type-0 picture has no vector
  // codes): its start code(32), identifier(4), f_codes(16), intra_dc_precision(2).
  EXPECT_EQ(report.Violations[2].Offset, second);
  EXPECT_EQ(report.Violations[2].Bit, 8 * 8 + 54);
  EXPECT_EQ(report.Violations[2].Element, "picture_structure");
  EXPECT_EQ(report.Count, 3);
}

// An element with indices is found and named as the standard writes it, at its own bits, among
// the same-named elements beside it.
TEST(CheckStream, IndexedElementAtItsBits) {
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(true);
  craft.Picture(0, 1).CodingExtension(3, true, false, true).Slice(100);
  auto bytes = craft.Bytes();
  const std::int64_t picture = PictureOffset(bytes, 0);
  std::size_t extension = static_cast<std::size_t>(picture);
  while (!(bytes[extension] == 0 && bytes[extension + 1] == 0 && bytes[extension + 2] == 1 &&
           bytes[extension + 3] == 0xB5))
    ++extension;
  // identifier(4) f_code[0][0](4) | f_code[0][1](4) f_code[1][0](4): f_code[1][0] becomes 0.
  bytes[extension + 5] &= 0xF0;
  const TCheckReport report = Check(WriteStream(bytes));
  ASSERT_EQ(report.Violations.size(), 1u) << CheckReportText(report);
  EXPECT_EQ(report.Violations[0].Offset, picture);
  EXPECT_EQ(report.Violations[0].Bit,
            static_cast<std::int64_t>(extension - static_cast<std::size_t>(picture)) * 8 + 44);
  EXPECT_EQ(report.Violations[0].Element, "f_code[1][0]");
  EXPECT_EQ(report.Violations[0].Rule, "f_code 0 is forbidden");
}

TEST(CheckStream, MarkerBitAndReservedValues) {
  // A sequence header written field by field with its marker bit cleared and a reserved
  // aspect_ratio_information.
  TTestBitWriter w;
  w.StartCode(0x1B3).Put(352, 12).Put(288, 12).Put(9, 4).Put(3, 4).Put(2500, 18).Put(0, 1).Put(20, 10);
  w.Put(0, 1).Put(0, 1).Put(0, 1);
  w.StartCode(0x1B5).Put(1, 4).Put(0x48, 8).Put(1, 1).Put(0, 2).Put(0, 2).Put(0, 2).Put(0, 12).Put(1, 1);
  w.Put(0, 8).Put(0, 1).Put(0, 2).Put(0, 5);
  const TCheckReport report = Check(WriteStream(w.Bytes()));
  std::vector<std::tuple<std::int64_t, std::string>> found;
  for (const TViolation& v : report.Violations) found.emplace_back(v.Bit, v.Element);
  // The extension begins at byte 12: its chroma_format (reserved 0) at 12 * 8 + 45.
  EXPECT_EQ(found, (std::vector<std::tuple<std::int64_t, std::string>>{
                       {56, "aspect_ratio_information"}, {82, "marker_bit"}, {12 * 8 + 45, "chroma_format"}}))
      << CheckReportText(report);
}

TEST(CheckStream, RulesOfSingleValues) {
  EXPECT_EQ(BrokenHeaderRule("sequence_header", "frame_rate_code", 9, true), "frame_rate_code 9 to 15 are reserved");
  EXPECT_EQ(BrokenHeaderRule("sequence_header", "frame_rate_code", 8, true), "");
  EXPECT_EQ(BrokenHeaderRule("sequence_header", "aspect_ratio_information", 5, false), "");  // MPEG-1's pel ratios
  EXPECT_EQ(BrokenHeaderRule("picture_header", "picture_coding_type", 4, false), "");        // MPEG-1's D pictures
  EXPECT_NE(BrokenHeaderRule("picture_header", "picture_coding_type", 4, true), "");
  EXPECT_NE(BrokenHeaderRule("picture_header", "forward_f_code", 3, true), "");
  EXPECT_EQ(BrokenHeaderRule("picture_header", "forward_f_code", 3, false), "");
  EXPECT_NE(BrokenHeaderRule("picture_coding_extension", "f_code[1][0]", 12, true), "");
  EXPECT_EQ(BrokenHeaderRule("picture_coding_extension", "f_code[1][0]", 15, true), "");
}

TEST(CheckStream, BufferUnderflowAtItsPictureAndTheExitStatus) {
  // 400,000 bit/s, constant rate; the third picture's delay is far too short for its bits.
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3, 1000, 20).SequenceExtension(true).Group(true);
  const int delays[] = {9000, 9000, 500, 9000};
  for (int k = 0; k < 4; ++k)
    craft.Picture(k, k == 0 ? 1 : 2, static_cast<std::uint32_t>(delays[k]))
        .CodingExtension(3, true, false, true)
        .Slice(4096);
  craft.End();
  const auto bytes = craft.Bytes();
  const std::string path = WriteStream(bytes);
  const TCheckReport report = Check(path);
  // P pictures of MPEG-2 carry forward_f_code 1 here instead of 7: three of those as well.
  std::int64_t underflows = 0;
  for (const TViolation& v : report.Violations) {
    if (v.Element != "picture") continue;
    ++underflows;
    EXPECT_EQ(v.Offset, PictureOffset(bytes, 2));
    EXPECT_EQ(v.Value, 2);
    EXPECT_NE(v.Rule.find("VBV underflow"), std::string::npos);
  }
  EXPECT_EQ(underflows, 1);

  const CliRun text = Cli("check " + path);
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find("picture = 2: VBV underflow"), std::string::npos) << text.out;
  const CliRun json = Cli("check --json " + path);
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find("\"element\": \"picture\", \"value\": 2, \"rule\": \"VBV underflow"), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"count\": " + std::to_string(report.Count)), std::string::npos);
}

TEST(CheckStream, CleanStreamsPassAndNoStreamCrashesIt) {
  for (const char* name : {"lowrisc_test.m2v", "cinecutie_test.m2v", "greyramp.mpg", "idet_soft_telecine.m2v",
                           "idet_interlaced_bff.m2v"}) {
    const std::string path = SharedStream(name);
    if (!Exists(path)) continue;
    const CliRun run = Cli("check '" + path + "'");
    EXPECT_EQ(run.status, 0) << name << "\n" << run.out;
    EXPECT_NE(run.out.find("no violations found"), std::string::npos) << name;
  }
  for (const std::string& path : AllStreams()) {
    SCOPED_TRACE(path);
    const TCheckReport report = Check(path);
    EXPECT_EQ(report.Count >= static_cast<std::int64_t>(report.Violations.size()), true);
  }
}

TEST(CheckStream, TemporalReferenceRepeatsAndRunsPastItsGroup) {
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true);
  // Group 0: I 0, B 1, B 1 (a repeat). Group 1: I 0, B 5 (past a group of two frames); field
  // pairs share theirs. Group 2, the last, is let off its range: it may be cut short.
  const std::vector<std::vector<std::pair<int, int>>> groups = {
      {{0, 3}, {1, 3}, {1, 3}}, {{0, 3}, {5, 3}}, {{0, 1}, {0, 2}, {1, 1}, {1, 2}}, {{7, 3}}};
  for (const auto& group : groups) {
    craft.Group(true);
    for (const auto& [reference, structure] : group)
      craft.Picture(reference, 1).CodingExtension(structure, true, false, structure == 3).Slice(50);
  }
  const auto bytes = craft.Bytes();
  const TCheckReport report = Check(WriteStream(bytes));
  std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> found;
  for (const TViolation& v : report.Violations)
    if (v.Element == "temporal_reference") found.emplace_back(v.Offset, v.Bit, v.Rule);
  using TFound = std::vector<std::tuple<std::int64_t, std::int64_t, std::string>>;
  EXPECT_EQ(found,
            (TFound{{PictureOffset(bytes, 2), 32, "temporal_reference 1 repeats within its group"},
                    {PictureOffset(bytes, 4), 32, "temporal_reference 5 outside 0 to 1 of a group of 2 frames"}}))
      << CheckReportText(report);
}

// The limits of the profile and level a sequence extension signals: each figure above them at
// its element (the luminance sample rate at frame_rate_code); figures at the limits pass.
TEST(CheckStream, ProfileAndLevelLimits) {
  TStreamCraft over;
  // Main profile @ Main level: 1920x1080 at 50 frames/s, 20 Mbit/s, a buffer of 120 x 16 kbit.
  over.SequenceHeader(1920, 1080, 6, 50000, 120).SequenceExtension(false, 1, 0x48).Group(true);
  over.Picture(0, 1).CodingExtension(3, true, false, false).Slice(100);
  const TCheckReport report = Check(WriteStream(over.Bytes()));
  ASSERT_EQ(report.Violations.size(), 5u) << CheckReportText(report);
  const std::vector<std::pair<std::string, std::int64_t>> expected = {{"horizontal_size_value", 32},
                                                                      {"vertical_size_value", 44},
                                                                      {"frame_rate_code", 60},
                                                                      {"bit_rate_value", 64},
                                                                      {"vbv_buffer_size_value", 83}};
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(report.Violations[k].Element, expected[k].first);
    EXPECT_EQ(report.Violations[k].Bit, expected[k].second);
  }
  EXPECT_EQ(report.Violations[0].Rule, "horizontal_size 1920 is above the 720 Main profile @ Main level allows");
  EXPECT_EQ(report.Violations[3].Value, 20'000'000);
  EXPECT_EQ(report.Violations[4].Value, 120 * 16384);

  // Within the sizes but not the sample rate: 1440x1152 at 50 frames/s at High 1440 level.
  TStreamCraft rate;
  rate.SequenceHeader(1440, 1152, 6, 50000, 400).SequenceExtension(true, 1, 0x46).Group(true);
  rate.Picture(0, 1).CodingExtension(3, true, false, true).Slice(100);
  const TCheckReport rateReport = Check(WriteStream(rate.Bytes()));
  ASSERT_EQ(rateReport.Violations.size(), 1u) << CheckReportText(rateReport);
  EXPECT_EQ(rateReport.Violations[0].Element, "frame_rate_code");
  EXPECT_EQ(rateReport.Violations[0].Value, 1440 * 1152 * 50);

  // At the limits: Main level's 720x576 at 30 frames/s... of 25 here, 15 Mbit/s, 1,835,008 bits;
  // High level's 1920x1088 at 30 frames/s, its sample rate exactly.
  TStreamCraft atMain, atHigh;
  atMain.SequenceHeader(720, 576, 3, 37500, 112).SequenceExtension(false, 1, 0x48).Group(true);
  atMain.Picture(0, 1).CodingExtension(3, true, false, false).Slice(100);
  atHigh.SequenceHeader(1920, 1088, 5, 200000, 597).SequenceExtension(false, 1, 0x44).Group(true);
  atHigh.Picture(0, 1).CodingExtension(3, true, false, false).Slice(100);
  EXPECT_EQ(Check(WriteStream(atMain.Bytes())).Count, 0) << CheckReportText(Check(WriteStream(atMain.Bytes())));
  EXPECT_EQ(Check(WriteStream(atHigh.Bytes())).Count, 0) << CheckReportText(Check(WriteStream(atHigh.Bytes())));
}

// f_codes a picture does not use must be 15 (backward ones in I and P pictures, forward ones in
// an I picture without concealment vectors); those in use stay within the level's range;
// Simple profile has no B pictures.
TEST(CheckStream, FCodesByPictureTypeAndLevel) {
  TStreamCraft craft;
  craft.SequenceHeader(720, 576, 3).SequenceExtension(false, 1, 0x48).Group(true);
  craft.Picture(0, 1).CodingExtension(3, true, false, false, 0xFF1F).Slice(100);  // f_code[1][0] = 1
  craft.Picture(1, 2).CodingExtension(3, true, false, false, 0x9FFF).Slice(100);  // f_code[0][0] = 9
  craft.Picture(2, 2).CodingExtension(3, true, false, false, 0x55F3).Slice(100);  // f_code[1][1] = 3
  craft.Picture(3, 3).CodingExtension(3, true, false, false, 0x5556).Slice(100);  // f_code[1][1] = 6
  const auto bytes = craft.Bytes();
  const TCheckReport all = Check(WriteStream(bytes));
  // (The crafted P and B headers' forward_f_code and backward_f_code of 1 break a rule of their own.)
  TCheckReport report;
  for (const TViolation& v : all.Violations)
    if (v.Element.starts_with("f_code[")) report.Violations.push_back(v);
  ASSERT_EQ(report.Violations.size(), 4u) << CheckReportText(all);
  // The picture coding extension follows a picture header of 8 bytes (I) or 9 (P, B): its start
  // code (32) and identifier (4), then the f_codes, 4 bits each.
  EXPECT_EQ(report.Violations[0].Offset, PictureOffset(bytes, 0));
  EXPECT_EQ(report.Violations[0].Element, "f_code[1][0]");
  EXPECT_EQ(report.Violations[0].Bit, 8 * 8 + 36 + 8);
  EXPECT_EQ(report.Violations[0].Rule, "an I picture has no backward vectors: f_code[1][0] must be 15");
  EXPECT_EQ(report.Violations[1].Element, "f_code[0][0]");
  EXPECT_EQ(report.Violations[1].Rule,
            "f_code 9 is above the 8 Main profile @ Main level allows for horizontal vectors");
  EXPECT_EQ(report.Violations[2].Element, "f_code[1][1]");
  EXPECT_EQ(report.Violations[2].Bit, 9 * 8 + 36 + 12);
  EXPECT_EQ(report.Violations[3].Element, "f_code[1][1]");
  EXPECT_EQ(report.Violations[3].Rule, "f_code 6 is above the 5 Main profile @ Main level allows for vertical vectors");

  TStreamCraft simple;
  simple.SequenceHeader(352, 288, 3).SequenceExtension(true, 1, 0x58).Group(true);
  simple.Picture(0, 1).CodingExtension(3, true, false, true).Slice(100);
  simple.Picture(1, 3).CodingExtension(3, true, false, true, 0x1111).Slice(100);
  const TCheckReport simpleReport = Check(WriteStream(simple.Bytes()));
  const auto b = std::find_if(simpleReport.Violations.begin(), simpleReport.Violations.end(),
                              [](const TViolation& v) { return v.Element == "picture_coding_type"; });
  ASSERT_NE(b, simpleReport.Violations.end()) << CheckReportText(simpleReport);
  EXPECT_EQ(b->Offset, PictureOffset(simple.Bytes(), 1));
  EXPECT_EQ(b->Bit, 42);
  EXPECT_EQ(b->Rule, "Simple profile @ Main level has no B pictures");
}

// The stream's first group: open, with leading B pictures and its link not marked broken, it is
// reported at broken_link; closed, or with broken_link set, or without leading B pictures, not.
TEST(CheckStream, LeadingBPicturesOfAnOpenFirstGroup) {
  const auto stream = [](bool closed, bool broken, bool leading) {
    TStreamCraft craft;
    craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(closed, broken);
    craft.Picture(leading ? 2 : 0, 1).CodingExtension(3, true, false, true).Slice(100);
    if (leading) {
      craft.Picture(0, 3).CodingExtension(3, true, false, true, 0x1111).Slice(100);
      craft.Picture(1, 3).CodingExtension(3, true, false, true, 0x1111).Slice(100);
    }
    craft.Picture(leading ? 3 : 1, 2).CodingExtension(3, true, false, true, 0x11FF).Slice(100);
    return craft.Bytes();
  };
  const auto leadingOf = [](const TCheckReport& report) {
    return std::count_if(report.Violations.begin(), report.Violations.end(),
                         [](const TViolation& v) { return v.Element == "broken_link"; });
  };
  const auto open = stream(false, false, true);
  const TCheckReport report = Check(WriteStream(open));
  ASSERT_EQ(leadingOf(report), 1) << CheckReportText(report);
  const auto v = std::find_if(report.Violations.begin(), report.Violations.end(),
                              [](const TViolation& x) { return x.Element == "broken_link"; });
  // The group header follows the sequence header (12 bytes) and its extension (10 bytes); its
  // start code (32), time_code (25) and closed_gop (1), then broken_link.
  EXPECT_EQ(v->Offset, 22);
  EXPECT_EQ(v->Bit, 58);
  EXPECT_NE(v->Rule.find("its 2 leading B pictures"), std::string::npos) << v->Rule;
  EXPECT_EQ(leadingOf(Check(WriteStream(stream(true, false, true)))), 0);
  EXPECT_EQ(leadingOf(Check(WriteStream(stream(false, true, true)))), 0);
  EXPECT_EQ(leadingOf(Check(WriteStream(stream(false, false, false)))), 0);
}
