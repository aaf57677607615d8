// varlow-cli's own options: help and version on standard output with status 0, bad command lines
// with status 2, and the debug channel on standard error only with --verbose.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "TestStreams.h"
#include "support/VersionInfo.h"

namespace {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

CliResult RunCli(const std::string& arguments) {
  // One file per run: ctest runs the tests of this binary side by side in separate processes.
  static int runs = 0;
  const std::string errPath = ::testing::TempDir() + "varlow_cli_options_stderr_" + std::to_string(::getpid()) + "_" +
                              std::to_string(runs++) + ".txt";
  CliResult r;
  FILE* pipe = ::popen((std::string(VARLOW_CLI_PATH) + " " + arguments + " 2>'" + errPath + "'").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  r.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::filesystem::remove(errPath);
  return r;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ShellOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

}  // namespace

TEST(CliOptions, HelpGoesToStandardOutputWithStatusZero) {
  for (const char* how : {"--help", "-h", "packs --help", "--verbose --help"}) {
    const CliResult r = RunCli(how);
    EXPECT_EQ(r.status, 0) << how;
    EXPECT_TRUE(r.err.empty()) << how << ": " << r.err;
    for (const char* line :
         {"varlow-cli packs FILE [--from OFFSET] [--rows N] [--json]",
          "varlow-cli headers FILE --offset OFFSET [--json]",
          "varlow-cli slice FILE --offset OFFSET --slice K|all [--json]",
          "varlow-cli transrate IN OUT [--bitrate N | --size SIZE | --ratio F] [--method requant|cut]", "varlow-cli stats FILE [--json]",
          "varlow-cli pictures FILE [--csv]", "--verbose", "--version"})
      EXPECT_TRUE(Has(r.out, line)) << how << " lacks " << line;
  }
}

TEST(CliOptions, VersionPrintsTheProjectVersionLine) {
  const CliResult r = RunCli("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "varlow-cli " +
                       varlow::VersionLine(VARLOW_VERSION_MAJOR, VARLOW_VERSION_MINOR, VARLOW_VERSION_PATCH,
                                           VARLOW_VERSION_TWEAK) +
                       "\n");
  EXPECT_TRUE(r.err.empty());
}

TEST(CliOptions, BadCommandLinesExitWithTwoAndUsageOnStandardError) {
  for (const char* how : {"", "frobnicate", "--frobnicate", "-x", "--verbose"}) {
    const CliResult r = RunCli(how);
    EXPECT_EQ(r.status, 2) << "'" << how << "'";
    EXPECT_TRUE(r.out.empty()) << how;
    EXPECT_TRUE(Has(r.err, "usage:")) << how;
  }
  EXPECT_TRUE(Has(RunCli("frobnicate").err, "unknown command 'frobnicate'"));
  EXPECT_TRUE(Has(RunCli("--frobnicate").err, "unknown option '--frobnicate'"));
}

TEST(CliOptions, AMisspeltOrIncompleteOptionIsRefusedNotIgnored) {
  const std::string input = "'" + varlow::test::OwnStream("p420_plain.m2v") + "'";
  const std::string out = ::testing::TempDir() + "cli_options_refused_" + std::to_string(::getpid()) + ".m2v";
  for (const std::string& how : {"packs " + input + " --jsn", "stats " + input + " --csv", "pictures " + input + " --json",
                                "headers " + input + " --offset 0 --jason", "packs " + input + " --rows",
                                "transrate " + input + " '" + out + "' --bitrat 2000000"}) {
    const CliResult r = RunCli(how);
    EXPECT_EQ(r.status, 2) << how;
    EXPECT_TRUE(r.out.empty()) << how;
    EXPECT_TRUE(Has(r.err, "usage:")) << how;
  }
  EXPECT_TRUE(Has(RunCli("packs " + input + " --jsn").err, "unknown option '--jsn' for packs"));
  EXPECT_TRUE(Has(RunCli("packs " + input + " --rows").err, "option '--rows' needs a value"));
  EXPECT_FALSE(std::filesystem::exists(out));
  // Known options in any order still work.
  EXPECT_EQ(RunCli("packs " + input + " --json --rows 3 --from 0").status, 0);
  EXPECT_EQ(RunCli("pictures --csv " + input).status, 0);
}

TEST(CliOptions, DebugLinesOnlyWithVerboseErrorsAlways) {
  const std::string input = varlow::test::OwnStream("p420_plain.m2v");
  const std::string out = ::testing::TempDir() + "cli_options_out_" + std::to_string(::getpid()) + ".m2v";
  const CliResult quiet = RunCli("transrate '" + input + "' '" + out + "' --bitrate 1500000");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_FALSE(Has(quiet.err, "FPS: ")) << quiet.err;
  const CliResult verbose = RunCli("--verbose transrate '" + input + "' '" + out + "' --bitrate 1500000");
  EXPECT_EQ(verbose.status, 0);
  EXPECT_TRUE(Has(verbose.err, "varlow-cli: FPS: ")) << verbose.err;
  const CliResult verboseLast = RunCli("transrate '" + input + "' '" + out + "' --bitrate 1500000 --verbose");
  EXPECT_EQ(verboseLast.status, 0);
  EXPECT_TRUE(Has(verboseLast.err, "varlow-cli: FPS: "));
  std::filesystem::remove(out);

  // A real error still reaches standard error without --verbose.
  const CliResult missing = RunCli("packs '" + ::testing::TempDir() + "no-such-file.m2v'");
  EXPECT_NE(missing.status, 0);
  EXPECT_FALSE(missing.err.empty());
}

// `picture` runs in varlow-cli-picture beside varlow-cli, so that the other commands start
// without loading the decoder and Qt: varlow-cli itself needs neither, and says so when the
// picture program is missing instead of failing without a word.
TEST(CliOptions, PictureRunsInItsOwnProgramWhichMustBeThere) {
  const std::string dynamic = ShellOutput("readelf -d '" + std::string(VARLOW_CLI_PATH) + "'");
  ASSERT_TRUE(Has(dynamic, "NEEDED")) << dynamic;
  EXPECT_FALSE(Has(dynamic, "libavcodec")) << dynamic;
  EXPECT_FALSE(Has(dynamic, "libQt6")) << dynamic;

  const std::filesystem::path alone =
      std::filesystem::path(::testing::TempDir()) / ("varlow_cli_alone_" + std::to_string(::getpid()));
  std::filesystem::create_directories(alone);
  const std::filesystem::path copy = alone / "varlow-cli";
  std::filesystem::copy_file(VARLOW_CLI_PATH, copy, std::filesystem::copy_options::overwrite_existing);
  const std::string input = varlow::test::OwnStream("p420_plain.m2v");
  const std::string png = (alone / "out.png").string();
  const std::string err = (alone / "err.txt").string();
  const int status = std::system(("'" + copy.string() + "' picture '" + input + "' --offset 0 --png '" + png +
                                  "' 2>'" + err + "'").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  std::ifstream in(err);
  const std::string message((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(Has(message, "varlow-cli-picture")) << message;
  EXPECT_FALSE(std::filesystem::exists(png));
  std::filesystem::remove_all(alone);
}
