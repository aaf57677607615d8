#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "TransrateRun.h"
#include "transrate/TransrateFile.h"

using namespace varlow;
using namespace varlow::test;
namespace fs = std::filesystem;

namespace {

// A fresh, empty folder per test.
class TransrateFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FDir = fs::path(::testing::TempDir()) / (std::string("transrate_file_") + info->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string Path(const std::string& name) const { return (FDir / name).string(); }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Names in the folder, hidden temporary files included.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FDir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path FDir;
};

TTransrateOptions At(std::int32_t bitrate, TTransrateMethod method = TTransrateMethod::Cut) {
  TTransrateOptions options;
  options.Bitrate = bitrate;
  options.Method = method;
  return options;
}

const std::vector<std::uint8_t> kOldContent = {'o', 'l', 'd'};

} // namespace

TEST_F(TransrateFileTest, ASuccessfulRunPutsACompleteDecodableFileInPlace) {
  const std::string input = OwnStream("i420_interlaced.m2v");
  const std::string out = Write("out.m2v", kOldContent);
  ::chmod(out.c_str(), 0640);
  std::vector<TTransrateProgress> reports;
  const TTransrateResult result = TransrateFile(input, out, At(1'500'000), [&](const TTransrateProgress& p) {
    reports.push_back(p);
    return true;
  });
  ASSERT_TRUE(result.Succeeded()) << result.Message;
  EXPECT_TRUE(result.Message.empty());
  const auto written = ReadFileBytes(out);
  EXPECT_EQ(static_cast<std::int64_t>(written.size()), result.OutputBytes);
  EXPECT_EQ(result.InputBytes, static_cast<std::int64_t>(fs::file_size(input)));
  EXPECT_GT(result.PicturesIn, 0);
  EXPECT_EQ(result.PicturesOut, result.PicturesIn);
  EXPECT_LT(result.OutputBytes, result.InputBytes);
  EXPECT_GT(result.Groups, 0);
  EXPECT_GE(result.Groups, result.GroupsOverBudget);
  // Playing time from the pictures written: the average follows from it.
  EXPECT_NEAR(result.AverageBitrate, static_cast<double>(result.OutputBytes) * 8 / result.Seconds, 1e-6);
  EXPECT_TRUE(FfmpegDecodesCleanly(out));
  // The replaced file kept its permissions, and no temporary file is left.
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.m2v"});
  // One report per block and a last one before the file is put in place; the share ends at 1.
  ASSERT_GE(reports.size(), 2u);
  EXPECT_DOUBLE_EQ(reports.back().Share(), 1.0);
  EXPECT_EQ(reports.back().OutputBytes, result.OutputBytes);
  EXPECT_EQ(reports.back().PicturesOut, result.PicturesOut);
  EXPECT_GT(reports.back().OutputBitrate, 0);
}

TEST_F(TransrateFileTest, ALinkedTargetIsReplacedWhereItPoints) {
  const std::string real = Write("real.m2v", kOldContent);
  const std::string link = Path("link.m2v");
  fs::create_symlink(real, link);
  const TTransrateResult result = TransrateFile(OwnStream("p420_plain.m2v"), link, At(50'000'000));
  ASSERT_TRUE(result.Succeeded()) << result.Message;
  EXPECT_TRUE(fs::is_symlink(link));
  // The stream meets the rate: a byte-exact copy.
  EXPECT_TRUE(ReadFileBytes(real) == ReadFileBytes(OwnStream("p420_plain.m2v")));
}

TEST_F(TransrateFileTest, CancelLeavesNoFileAndAnExistingTargetUntouched) {
  const std::string input = OwnStream("p420_tools.m2v");
  // Cancelled at the first report, and at the last one (after the whole input was read).
  for (const bool atEnd : {false, true}) {
    const std::string fresh = Path("fresh.m2v");
    const std::string existing = Write("existing.m2v", kOldContent);
    for (const std::string& out : {fresh, existing}) {
      int calls = 0;
      const TTransrateResult result = TransrateFile(input, out, At(1'500'000), [&](const TTransrateProgress& p) {
        ++calls;
        return atEnd ? p.Share() < 1.0 || calls < 2 : false;
      });
      EXPECT_EQ(result.Status, TTransrateStatus::Cancelled) << atEnd;
      EXPECT_FALSE(result.Succeeded());
    }
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_TRUE(ReadFileBytes(existing) == kOldContent);
    EXPECT_EQ(Entries(), std::vector<std::string>{"existing.m2v"});
  }
}

TEST_F(TransrateFileTest, InputsWithoutAStreamFailAndLeaveNothingBehind) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(3 * 1024 * 1024);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  std::vector<std::string> inputs = {Write("noise.bin", noise), Write("empty.m2v", {})};
  // A pack header with nothing that reads as a stream after it: a program stream without video.
  std::vector<std::uint8_t> pack = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
  pack.insert(pack.end(), noise.begin(), noise.begin() + 100'000);
  inputs.push_back(Write("pack.mpg", pack));
  // Only sequence end codes: no picture at all.
  if (Exists(SharedStream("negative/end-of-sequence.mpg"))) inputs.push_back(SharedStream("negative/end-of-sequence.mpg"));
  const std::string existing = Write("existing.m2v", kOldContent);
  for (const std::string& input : inputs) {
    for (const std::string& out : {Path("out.m2v"), existing}) {
      const TTransrateResult result = TransrateFile(input, out, At(1'500'000));
      EXPECT_EQ(result.Status, TTransrateStatus::Failed) << input;
      EXPECT_FALSE(result.Message.empty()) << input;
      EXPECT_EQ(result.PicturesOut, 0) << input;
    }
  }
  EXPECT_TRUE(ReadFileBytes(existing) == kOldContent);
  std::vector<std::string> expected = {"empty.m2v", "existing.m2v", "noise.bin", "pack.mpg"};
  EXPECT_EQ(Entries(), expected);
  // A program stream is no failure: it comes out as a program stream, here byte for byte (its
  // video already meets the rate), and says what else it carried.
  if (Exists(SharedStream("negative/gen2brain_test.mpg"))) {
    const auto result = TransrateFile(SharedStream("negative/gen2brain_test.mpg"), Path("out.mpg"), At(1'500'000));
    EXPECT_TRUE(result.Succeeded()) << result.Message;
    EXPECT_NE(result.Carried.find("other packets carried unchanged"), std::string::npos) << result.Carried;
    EXPECT_TRUE(ReadFileBytes(Path("out.mpg")) == ReadFileBytes(SharedStream("negative/gen2brain_test.mpg")));
  }
}

TEST_F(TransrateFileTest, UnwritableOrMissingPlacesFailWithAMessage) {
  const std::string input = OwnStream("p420_plain.m2v");
  for (const std::string& out :
       {Path("missing/out.m2v"), std::string("/proc/varlow_out.m2v"), FDir.string(), FDir.string() + "/", std::string()}) {
    const TTransrateResult result = TransrateFile(input, out, At(1'500'000));
    EXPECT_EQ(result.Status, TTransrateStatus::Failed) << out;
    EXPECT_FALSE(result.Message.empty()) << out;
  }
  EXPECT_FALSE(fs::exists(Path("missing")));
  const auto missing = TransrateFile(Path("nothing.m2v"), Path("out.m2v"), At(1'500'000));
  EXPECT_EQ(missing.Status, TTransrateStatus::Failed);
  if (::geteuid() != 0) {  // permissions do not bind the superuser
    const fs::path locked = FDir / "locked";
    fs::create_directory(locked);
    ::chmod(locked.c_str(), 0500);
    const auto result = TransrateFile(input, (locked / "out.m2v").string(), At(1'500'000));
    EXPECT_EQ(result.Status, TTransrateStatus::Failed);
    ::chmod(locked.c_str(), 0700);
    EXPECT_TRUE(fs::is_empty(locked));
  }
  EXPECT_EQ(Entries().size(), Exists(FDir / "locked") ? 1u : 0u);
}

TEST_F(TransrateFileTest, TheInputIsNeverItsOwnOutput) {
  const auto original = ReadFileBytes(OwnStream("p420_plain.m2v"));
  const std::string input = Write("in.m2v", original);
  fs::create_hard_link(input, Path("hard.m2v"));
  fs::create_symlink(input, Path("soft.m2v"));
  for (const std::string& out : {input, Path("hard.m2v"), Path("soft.m2v"), Path("./in.m2v")}) {
    const TTransrateResult result = TransrateFile(input, out, At(1'500'000));
    EXPECT_EQ(result.Status, TTransrateStatus::Refused) << out;
    EXPECT_FALSE(result.Message.empty());
  }
  EXPECT_TRUE(ReadFileBytes(input) == original);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"hard.m2v", "in.m2v", "soft.m2v"}));
}
