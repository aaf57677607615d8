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
  EXPECT_NE(json.out.find("{\"text\":\"vbv_delay = 65535 (16 bits)\",\"bitPos\":45,\"bitWidth\":16}"),
            std::string::npos)
      << json.out;
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
