#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "CliRun.h"
#include "TestStreams.h"
#include "browser/PackDetails.h"
#include "container/OpenSource.h"
#include "support/MemoryTree.h"
#include "syntax/CodedValueMeanings.h"

namespace varlow {
namespace {

constexpr TCodingStandard kMpeg1 = TCodingStandard::Mpeg1;
constexpr TCodingStandard kMpeg2 = TCodingStandard::Mpeg2;

std::string Meaning2(std::string_view element, std::int64_t value) { return CodedValueMeaning(element, value, kMpeg2); }

TEST(CodedValueMeanings, FrameRatesOfBothStandards) {
  EXPECT_EQ(Meaning2("frame_rate_code", 0), "forbidden");
  EXPECT_EQ(Meaning2("frame_rate_code", 1), "23.976 frames/s");
  EXPECT_EQ(Meaning2("frame_rate_code", 3), "25 frames/s");
  EXPECT_EQ(Meaning2("frame_rate_code", 4), "29.97 frames/s");
  EXPECT_EQ(Meaning2("frame_rate_code", 7), "59.94 frames/s");
  EXPECT_EQ(Meaning2("frame_rate_code", 8), "60 frames/s");
  EXPECT_EQ(Meaning2("frame_rate_code", 9), "reserved");
  EXPECT_EQ(Meaning2("frame_rate_code", 15), "reserved");
  // MPEG-1's picture_rate is the same table.
  EXPECT_EQ(CodedValueMeaning("frame_rate_code", 5, kMpeg1), "30 frames/s");
  EXPECT_EQ(CodedValueMeaning("picture_rate", 2, kMpeg1), "24 frames/s");
}

TEST(CodedValueMeanings, AspectRatioDiffersBetweenTheStandards) {
  EXPECT_EQ(Meaning2("aspect_ratio_information", 1), "square samples");
  EXPECT_EQ(Meaning2("aspect_ratio_information", 2), "4:3 display");
  EXPECT_EQ(Meaning2("aspect_ratio_information", 3), "16:9 display");
  EXPECT_EQ(Meaning2("aspect_ratio_information", 4), "2.21:1 display");
  EXPECT_EQ(Meaning2("aspect_ratio_information", 5), "reserved");
  EXPECT_EQ(Meaning2("aspect_ratio_information", 0), "forbidden");
  // The same four bits in MPEG-1 are pel_aspect_ratio: fourteen height/width ratios.
  EXPECT_EQ(CodedValueMeaning("aspect_ratio_information", 1, kMpeg1), "pel height/width 1.0000 (square pels)");
  EXPECT_EQ(CodedValueMeaning("aspect_ratio_information", 3, kMpeg1), "pel height/width 0.7031 (16:9, 625 lines)");
  EXPECT_EQ(CodedValueMeaning("aspect_ratio_information", 8, kMpeg1), "pel height/width 0.9157 (CCIR 601, 625 lines)");
  EXPECT_EQ(CodedValueMeaning("aspect_ratio_information", 12, kMpeg1), "pel height/width 1.0950 (CCIR 601, 525 lines)");
  EXPECT_EQ(CodedValueMeaning("aspect_ratio_information", 14, kMpeg1), "pel height/width 1.2015");
  EXPECT_EQ(CodedValueMeaning("aspect_ratio_information", 15, kMpeg1), "reserved");
  EXPECT_EQ(CodedValueMeaning("pel_aspect_ratio", 2, kMpeg2), "pel height/width 0.6735");
}

TEST(CodedValueMeanings, ProfileAndLevel) {
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x48), "Main profile @ Main level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x44), "Main profile @ High level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x46), "Main profile @ High 1440 level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x58), "Simple profile @ Main level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x3A), "SNR Scalable profile @ Low level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x26), "Spatially Scalable profile @ High 1440 level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x14), "High profile @ High level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x47), "Main profile @ reserved level 7");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x68), "reserved profile 6 @ Main level");
  // With the escape bit the byte as a whole names the profile and level.
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x85), "4:2:2 profile @ Main level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x82), "4:2:2 profile @ High level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x8E), "Multi-view profile @ Low level");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0x80), "escape: reserved");
  EXPECT_EQ(Meaning2("profile_and_level_indication", 0xC8), "escape: reserved");
}

TEST(CodedValueMeanings, PictureAndSequenceCodes) {
  EXPECT_EQ(Meaning2("chroma_format", 0), "reserved");
  EXPECT_EQ(Meaning2("chroma_format", 1), "4:2:0");
  EXPECT_EQ(Meaning2("chroma_format", 2), "4:2:2");
  EXPECT_EQ(Meaning2("chroma_format", 3), "4:4:4");
  EXPECT_EQ(Meaning2("picture_coding_type", 1), "I (intra-coded)");
  EXPECT_EQ(Meaning2("picture_coding_type", 3), "B (bidirectionally-predictive-coded)");
  EXPECT_EQ(Meaning2("picture_coding_type", 0), "forbidden");
  EXPECT_EQ(Meaning2("picture_coding_type", 5), "reserved");
  // D pictures are MPEG-1's; MPEG-2 keeps the value from being used.
  EXPECT_EQ(CodedValueMeaning("picture_coding_type", 4, kMpeg1), "D (DC intra-coded)");
  EXPECT_EQ(Meaning2("picture_coding_type", 4), "D (DC intra-coded): MPEG-1 only, not used in MPEG-2");
  EXPECT_EQ(Meaning2("picture_structure", 0), "reserved");
  EXPECT_EQ(Meaning2("picture_structure", 1), "top field");
  EXPECT_EQ(Meaning2("picture_structure", 2), "bottom field");
  EXPECT_EQ(Meaning2("picture_structure", 3), "frame picture");
  EXPECT_EQ(Meaning2("intra_dc_precision", 0), "8 bits");
  EXPECT_EQ(Meaning2("intra_dc_precision", 3), "11 bits");
  EXPECT_EQ(Meaning2("video_format", 1), "PAL");
  EXPECT_EQ(Meaning2("video_format", 5), "unspecified video format");
  EXPECT_EQ(Meaning2("video_format", 6), "reserved");
  EXPECT_EQ(Meaning2("colour_primaries", 1), "ITU-R BT.709");
  EXPECT_EQ(Meaning2("colour_primaries", 5), "ITU-R BT.470-2 System B, G");
  EXPECT_EQ(Meaning2("colour_primaries", 8), "reserved");
  EXPECT_EQ(Meaning2("transfer_characteristics", 8), "linear transfer characteristics");
  EXPECT_EQ(Meaning2("matrix_coefficients", 4), "FCC");
  EXPECT_EQ(Meaning2("matrix_coefficients", 6), "SMPTE 170M");
  EXPECT_EQ(Meaning2("matrix_coefficients", 0), "forbidden");
  EXPECT_EQ(Meaning2("extension_start_code_identifier", 1), "sequence extension");
  EXPECT_EQ(Meaning2("extension_start_code_identifier", 2), "sequence display extension");
  EXPECT_EQ(Meaning2("extension_start_code_identifier", 6), "reserved");
  EXPECT_EQ(Meaning2("extension_start_code_identifier", 8), "picture coding extension");
  EXPECT_EQ(Meaning2("extension_start_code_identifier", 15), "reserved");
  EXPECT_EQ(Meaning2("q_scale_type", 1), "non-linear quantiser scale");
  // Elements without a table of meanings, and names the table does not know.
  EXPECT_EQ(Meaning2("horizontal_size_value", 720), "");
  EXPECT_EQ(Meaning2("temporal_reference", 3), "");
  EXPECT_EQ(Meaning2("frame_rate", 3), "");
}

// The header tree of the pack at `offset` of `path`.
TMemoryTree HeaderTreeOf(const std::string& path, std::int64_t offset) {
  TPackIndex index;
  index.SetStream(OpenVideoSource(path, TFileStream::Mode::ReadOnly).Source);
  TMemoryTree tree;
  TPackDetails details;
  EXPECT_TRUE(UpdatePack(index, offset, tree, details)) << path;
  return tree;
}

std::string MeaningOf(const TMemoryTree& tree, std::string_view prefix) {
  const auto ids = tree.FindPrefix(prefix);
  return ids.empty() ? "<no node>" : tree.At(ids.front()).meaning;
}

TEST(HeaderTreeMeanings, TheStandardOfTheHeaderDecides) {
  // MPEG-2: a sequence extension follows the header.
  const TMemoryTree mpeg2 = HeaderTreeOf(test::SampleStream(), 0);
  EXPECT_EQ(MeaningOf(mpeg2, "frame_rate_code = 3 "), "25 frames/s");
  EXPECT_EQ(MeaningOf(mpeg2, "aspect_ratio_information = 1 "), "square samples");
  EXPECT_EQ(MeaningOf(mpeg2, "profile_and_level_indication = 72 "), "Main profile @ Main level");
  EXPECT_EQ(MeaningOf(mpeg2, "chroma_format = 1 "), "4:2:0");
  EXPECT_EQ(MeaningOf(mpeg2, "horizontal_size_value = "), "");
  // The node texts stay as they are: the meaning is beside them.
  EXPECT_EQ(mpeg2.ToText().find("frames/s"), std::string::npos);

  // MPEG-1: no extension, so the aspect code is a pel aspect ratio.
  const std::string mpeg1Path = test::OwnStream("mpeg1.m1v");
  const TMemoryTree mpeg1 = HeaderTreeOf(mpeg1Path, 0);
  EXPECT_EQ(MeaningOf(mpeg1, "aspect_ratio_information = 1 "), "pel height/width 1.0000 (square pels)");
  EXPECT_EQ(MeaningOf(mpeg1, "frame_rate_code = 3 "), "25 frames/s");
  const TMemoryTree picture1 = HeaderTreeOf(mpeg1Path, 0x14);
  EXPECT_EQ(MeaningOf(picture1, "picture_coding_type = 1 "), "I (intra-coded)");

  // An MPEG-2 picture: its header and its coding extension.
  const TMemoryTree picture2 = HeaderTreeOf(test::SampleStream(), 0x1E);
  EXPECT_EQ(MeaningOf(picture2, "picture_coding_type = 1 "), "I (intra-coded)");
  EXPECT_EQ(MeaningOf(picture2, "extension_start_code_identifier = 8 "), "picture coding extension");
  EXPECT_EQ(MeaningOf(picture2, "picture_structure = 3 "), "frame picture");
  EXPECT_EQ(MeaningOf(picture2, "intra_dc_precision = "), "8 bits");
}

TEST(HeaderTreeMeanings, JsonCarriesTheMeaning) {
  const test::CliRun json = test::Cli("headers '" + test::SampleStream() + "' --offset 0 --json");
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("{\"text\":\"frame_rate_code = 3 (4 bits)\",\"name\":\"frame_rate_code\",\"value\":3,"
                          "\"bitPos\":60,\"bitWidth\":4,\"meaning\":\"25 frames/s\"}"),
            std::string::npos)
      << json.out;
  // Nodes without a meaning have no "meaning" key, and the plain text shows none.
  EXPECT_NE(json.out.find("{\"text\":\"marker_bit = 1 (1 bit)\",\"name\":\"marker_bit\",\"value\":1,\"bitPos\":82,"
                          "\"bitWidth\":1}"),
            std::string::npos);
  const test::CliRun text = test::Cli("headers '" + test::SampleStream() + "' --offset 0");
  EXPECT_NE(text.out.find("    frame_rate_code = 3 (4 bits)\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("meaning"), std::string::npos);
}

}  // namespace
}  // namespace varlow
