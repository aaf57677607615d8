#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "TransrateRun.h"

using namespace varlow::test;

namespace {

int RunCli(const std::string& arguments) {
  const int status = std::system((std::string(VARLOW_CLI_PATH) + " transrate " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(TransrateCommand, WritesEveryPictureAndSucceeds) {
  const std::string out = ::testing::TempDir() + "cli_transrate.m2v";
  EXPECT_EQ(RunCli(OwnStream("p420_tools.m2v") + " " + out + " --bitrate 1500000"), 0);
  const auto input = ReadFileBytes(OwnStream("p420_tools.m2v"));
  const auto output = ReadFileBytes(out);
  EXPECT_GT(output.size(), 0u);
  EXPECT_LT(output.size(), input.size());
  // The default rate is 5,000,000 bit/s, which this 3 Mbit/s stream meets: a byte-exact copy.
  EXPECT_EQ(RunCli(OwnStream("p420_tools.m2v") + " " + out), 0);
  EXPECT_TRUE(ReadFileBytes(out) == input);
}

TEST(TransrateCommand, RefusesRatesOutsideItsRangeAndTheInputAsOutput) {
  const std::string out = ::testing::TempDir() + "cli_refused.m2v";
  std::filesystem::remove(out);
  EXPECT_EQ(RunCli(OwnStream("p420_plain.m2v") + " " + out + " --bitrate 99999"), 2);
  EXPECT_EQ(RunCli(OwnStream("p420_plain.m2v") + " " + out + " --bitrate 50000001"), 2);
  EXPECT_EQ(RunCli(OwnStream("p420_plain.m2v") + " " + out + " --bitrate fast"), 2);
  EXPECT_FALSE(std::filesystem::exists(out));

  // The same file under another name (a hard link) is refused and left untouched.
  const std::string copy = ::testing::TempDir() + "cli_self.m2v";
  const std::string link = ::testing::TempDir() + "cli_self_link.m2v";
  std::filesystem::remove(copy);
  std::filesystem::remove(link);
  std::filesystem::copy_file(OwnStream("p420_plain.m2v"), copy);
  std::filesystem::create_hard_link(copy, link);
  EXPECT_EQ(RunCli(copy + " " + link + " --bitrate 1500000"), 2);
  EXPECT_TRUE(ReadFileBytes(copy) == ReadFileBytes(OwnStream("p420_plain.m2v")));
}

TEST(TransrateCommand, FailsWhenNothingCanBeWritten) {
  const std::string out = ::testing::TempDir() + "cli_nothing.m2v";
  const std::string negative = SharedStream("negative/end-of-sequence.mpg");
  if (!Exists(negative)) GTEST_SKIP();
  EXPECT_EQ(RunCli(negative + " " + out), 1);
  EXPECT_EQ(RunCli("/nonexistent/input.m2v " + out), 1);
}

namespace {

// Whether a folder holds anything besides the named files (a temporary file left behind).
bool OnlyTheseIn(const std::string& folder, std::vector<std::string> names) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) found.push_back(entry.path().filename());
  std::sort(found.begin(), found.end());
  std::sort(names.begin(), names.end());
  return found == names;
}

std::string FreshFolder(const std::string& name) {
  const std::string folder = ::testing::TempDir() + name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

} // namespace

TEST(TransrateCommand, TakesAMethodAndRefusesAnUnknownOne) {
  const std::string folder = FreshFolder("cli_method");
  const std::string out = folder + "/out.m2v";
  for (const char* method : {"requant", "cut"}) {
    EXPECT_EQ(RunCli(OwnStream("p420_tools.m2v") + " " + out + " --bitrate 1500000 --method " + method), 0) << method;
    EXPECT_LT(ReadFileBytes(out).size(), ReadFileBytes(OwnStream("p420_tools.m2v")).size());
    EXPECT_TRUE(FfmpegDecodesCleanly(out)) << method;
  }
  std::filesystem::remove(out);
  EXPECT_EQ(RunCli(OwnStream("p420_tools.m2v") + " " + out + " --method fast"), 2);
  EXPECT_EQ(RunCli(OwnStream("p420_tools.m2v") + " " + out + " --method"), 2);
  EXPECT_TRUE(OnlyTheseIn(folder, {}));
}

TEST(TransrateCommand, AFailedRunLeavesNoFileAndKeepsAnExistingOne) {
  const std::string folder = FreshFolder("cli_failed");
  const std::string existing = folder + "/existing.m2v";
  const std::string noise = folder + "/noise.bin";
  {
    std::ofstream bytes(noise, std::ios::binary);
    for (std::uint32_t i = 0; i < 500'000; ++i) bytes.put(static_cast<char>((i * 7919u + i / 13) & 0xFF));
  }
  std::vector<std::string> inputs = {noise};
  if (Exists(SharedStream("negative/end-of-sequence.mpg"))) inputs.push_back(SharedStream("negative/end-of-sequence.mpg"));
  for (const std::string& input : inputs) {
    WriteText(existing, "keep me");
    EXPECT_EQ(RunCli(input + " " + existing), 1) << input;
    EXPECT_EQ(RunCli(input + " " + folder + "/fresh.m2v"), 1) << input;
    EXPECT_TRUE(ReadFileBytes(existing) == std::vector<std::uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    EXPECT_TRUE(OnlyTheseIn(folder, {"existing.m2v", "noise.bin"})) << input;
  }
  // A folder that does not exist: nothing can be written.
  EXPECT_EQ(RunCli(OwnStream("p420_plain.m2v") + " " + folder + "/missing/out.m2v"), 1);
  // A successful run replaces the existing file.
  EXPECT_EQ(RunCli(OwnStream("p420_plain.m2v") + " " + existing), 0);
  EXPECT_TRUE(ReadFileBytes(existing) == ReadFileBytes(OwnStream("p420_plain.m2v")));
  EXPECT_TRUE(OnlyTheseIn(folder, {"existing.m2v", "noise.bin"}));
}

TEST(TransrateCommand, AnInterruptedRunLeavesNoFile) {
  const std::string source = SharedStream("cinecutie_test.m2v");
  if (!Exists(source)) GTEST_SKIP();
  const std::string folder = FreshFolder("cli_interrupted");
  const std::string big = ::testing::TempDir() + "cli_interrupted_input.m2v";
  {
    const auto bytes = ReadFileBytes(source);
    std::ofstream out(big, std::ios::binary);
    for (int i = 0; i < 60; ++i) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  WriteText(folder + "/out.m2v", "keep me");
  const std::string script = std::string(VARLOW_CLI_PATH) + " transrate " + big + " " + folder +
                             "/out.m2v --bitrate 1500000 2>/dev/null & pid=$!; sleep 0.2; kill -INT $pid; wait $pid";
  const int status = std::system(("sh -c '" + script + "'").c_str());
  std::filesystem::remove(big);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code == 0) GTEST_SKIP() << "the run ended before the interrupt";
  EXPECT_EQ(code, 130);
  EXPECT_TRUE(ReadFileBytes(folder + "/out.m2v") == std::vector<std::uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_TRUE(OnlyTheseIn(folder, {"out.m2v"}));
}
