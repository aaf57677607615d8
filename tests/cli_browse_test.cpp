#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BrowseTestFiles.h"
#include "CliRun.h"
#include "TestStreams.h"

namespace varlow {
namespace {

using test::Cli;
using test::CliRun;

using test::operator+;

const std::string kSample = "'" + test::SampleStream() + "'";

TEST(CliPacks, RowsAsTheListShowsThem) {
  const CliRun r = Cli("packs " + kSample + " --rows 4");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "Offset\tLen\tStart Code\tCoding Type\tFrame #\n"
            "$00000000\t22\tSEQUENCE_HEADER_CODE\t\t\n"
            "$00000016\t8\tGROUP_START_CODE\t\t\n"
            "$0000001E\t16835\tPICTURE_START_CODE\tI\t0\n"
            "$000041E1\t19499\tPICTURE_START_CODE\tP\t3\n");
  // --from scans forward from any offset; hex offsets are accepted.
  const CliRun from = Cli("packs " + kSample + " --from 0x41E0 --rows 1");
  EXPECT_NE(from.out.find("$000041E1\t19499\tPICTURE_START_CODE\tP\t3\n"), std::string::npos) << from.out;
  const CliRun dollar = Cli("packs " + kSample + " --from '$41E1' --rows 1 --json");
  EXPECT_NE(dollar.out.find("\"offset\":16865,"), std::string::npos) << dollar.out;
}

TEST(CliPacks, Json) {
  const CliRun r = Cli("packs " + kSample + " --rows 3 --json");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "[{\"offset\":0,\"length\":22,\"startCode\":\"SEQUENCE_HEADER_CODE\",\"codingType\":\"\",\"frame\":null,"
            "\"row\":[\"$00000000\",\"22\",\"SEQUENCE_HEADER_CODE\",\"\",\"\"]},\n"
            "{\"offset\":22,\"length\":8,\"startCode\":\"GROUP_START_CODE\",\"codingType\":\"\",\"frame\":null,"
            "\"row\":[\"$00000016\",\"8\",\"GROUP_START_CODE\",\"\",\"\"]},\n"
            "{\"offset\":30,\"length\":16835,\"startCode\":\"PICTURE_START_CODE\",\"codingType\":\"I\",\"frame\":0,"
            "\"row\":[\"$0000001E\",\"16835\",\"PICTURE_START_CODE\",\"I\",\"0\"]}]\n");
  // More rows than the index window holds are capped at 256.
  const CliRun many = Cli("packs " + kSample + " --rows 1000 --json");
  std::size_t rows = 0;
  for (std::size_t p = 0; (p = many.out.find("\"offset\":", p)) != std::string::npos; ++p) ++rows;
  EXPECT_LE(rows, 256u);
  EXPECT_GT(rows, 50u);
}

TEST(CliHeaders, TreeOfAPack) {
  const CliRun r = Cli("headers " + kSample + " --offset 22");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "Group Of Pictures\n"
            "  group_of_pictures_header\n"
            "    group_start_code = $000001B8 (32 bits)\n"
            "    time_code = 4096 (00:00:00:00) (25 bits)\n"
            "    closed_gop = 1 (1 bit)\n"
            "    broken_link = 0 (1 bit)\n");
  const CliRun json = Cli("headers " + kSample + " --offset 0x1E --json");
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("{\"text\":\"vbv_delay = 65535 (16 bits)\",\"name\":\"vbv_delay\",\"value\":65535,"
                          "\"bitPos\":45,\"bitWidth\":16}"),
            std::string::npos)
      << json.out;
}

// JSON nodes carry each element's standard name and value beside the text: numbers as numbers,
// indices apart, the standard's name where the label reads otherwise.
TEST(CliHeaders, JsonNamesAndValuesOfElements) {
  const CliRun picture = Cli("headers " + kSample + " --offset 0x1E --json");
  ASSERT_EQ(picture.status, 0);
  for (const char* node :
       {"{\"text\":\"picture_coding_type = 1 (3 bits)\",\"name\":\"picture_coding_type\",\"value\":1,\"bitPos\":42,",
        "{\"text\":\"f_code[1][0] = 15 (4 bits)\",\"name\":\"f_code\",\"index\":[1,0],\"value\":15,\"bitPos\":108,",
        "{\"text\":\"frame_pred_frame_dtc = 0 (1 bit)\",\"name\":\"frame_pred_frame_dct\",\"value\":0,\"bitPos\":121,",
        "{\"text\":\"picture_start_code = $00000100 (32 bits)\",\"name\":\"picture_start_code\",\"value\":256,",
        "{\"text\":\"picture_coding_extension\",\"name\":\"picture_coding_extension\",\"bitPos\":"})
    EXPECT_NE(picture.out.find(node), std::string::npos) << node;
  const CliRun group = Cli("headers " + kSample + " --offset 22 --json");
  EXPECT_NE(
      group.out.find("{\"text\":\"time_code = 4096 (00:00:00:00) (25 bits)\",\"name\":\"time_code\",\"value\":4096,"),
      std::string::npos)
      << group.out;
  const CliRun slice = Cli("slice " + kSample + " --offset 0x41E1 --slice 0 --json");
  EXPECT_NE(
      slice.out.find("{\"text\":\"motion_code[0][0][0] = -2 (4 bits)\",\"name\":\"motion_code\",\"index\":[0,0,0],"
                     "\"value\":-2,\"bitPos\":14013,\"bitWidth\":4}"),
      std::string::npos);
  // The text form is unchanged by the data behind it.
  EXPECT_EQ(Cli("slice " + kSample + " --offset 0x41E1 --slice 0").out.find("\"name\""), std::string::npos);
}

TEST(CliBrowse, NoPackStartsAtTheOffset) {
  // Inside the sequence header, inside the I picture, and the file's last two bytes: no tree
  // of made-up header values, no slice tree, but a message and status 1.
  const std::string lastTwo = std::to_string(std::filesystem::file_size(test::SampleStream()) - 2);
  for (const std::string& offset : {std::string("1"), std::string("0x64"), lastTwo}) {
    for (const char* command : {"headers ", "slice "}) {
      const std::string extra = std::string(command) == "slice " ? " --slice 0" : "";
      const CliRun r = Cli(std::string(command) + kSample + " --offset " + offset + extra);
      EXPECT_EQ(r.status, 1) << command << offset;
      EXPECT_NE(r.out.find("no pack starts at offset"), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find(" = "), std::string::npos) << r.out;
    }
  }
  const CliRun packs = Cli("slice " + kSample + " --offset 0x1E --slice 0");
  EXPECT_EQ(packs.status, 0) << packs.out;
  EXPECT_NE(packs.out.find("slice_start_code = $00000101 (32 bits)"), std::string::npos);
  EXPECT_EQ(packs.out.find("!! "), std::string::npos);  // a sound slice has no damage node
}

TEST(CliSlice, DamagedSliceShowsWhereTheDamageBegins) {
  // The sample with zeros where the first macroblock of its first slice should start.
  auto bytes = test::ReadFileBytes(test::SampleStream());
  std::size_t slice = 0x1E;
  while (!(bytes[slice] == 0 && bytes[slice + 1] == 0 && bytes[slice + 2] == 1 && bytes[slice + 3] == 1)) ++slice;
  bytes[slice + 4] = 0x08;  // quantiser_scale_code 1, extra_bit_slice 0, then zeros
  bytes[slice + 5] = 0x00;
  bytes[slice + 6] = 0x40;
  test::TTempStreamFile damaged("damaged", bytes);
  const std::string bit = std::to_string((slice - 0x1E) * 8 + 38);
  const CliRun text = Cli("slice '" + damaged.Path() + "' --offset 0x1E --slice 0");
  EXPECT_EQ(text.status, 0) << text.out;
  EXPECT_NE(text.out.find("    !! Invalid code at bit " + bit + ": expected macroblock_address_increment"),
            std::string::npos)
      << text.out;
  const CliRun json = Cli("slice '" + damaged.Path() + "' --offset 0x1E --slice 0 --json");
  EXPECT_NE(json.out.find("\"bitPos\":" + bit + ",\"bitWidth\":0,\"damage\":true"), std::string::npos) << json.out;
}

TEST(CliBrowse, RefusalsAndBadArguments) {
  const CliRun missing = Cli("packs /nonexistent/file.m2v");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.out.find("cannot open"), std::string::npos);

  test::TTempStreamFile ends("ends", test::Code(0xB7) + test::Code(0xB7));
  const CliRun refused = Cli("headers '" + ends.Path() + "' --offset 0");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.out.find("Not valid MPEG-2 video elementary stream"), std::string::npos);

  test::TTempStreamFile empty("empty");
  EXPECT_NE(Cli("packs '" + empty.Path() + "'").status, 0);

  EXPECT_NE(Cli("headers " + kSample + " --offset banana").status, 0);
  EXPECT_NE(Cli("headers " + kSample + " --offset 99999999").status, 0);  // past the end
  EXPECT_NE(Cli("packs " + kSample + " --rows 0").status, 0);
  EXPECT_NE(Cli("packs").status, 0);
}

} // namespace
} // namespace varlow
