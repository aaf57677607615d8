#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestStreams.h"

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
  EXPECT_EQ(RunCli(OwnStream("p420_plain.m2v") + " " + out + " --bitrate 1499999"), 2);
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
