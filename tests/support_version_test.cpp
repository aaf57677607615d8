// Version information read back from an executable's version block.
#include <gtest/gtest.h>

#include <filesystem>

#include "VersionTestFiles.h"
#include "support/VersionInfo.h"

using namespace varlow;
using namespace varlow::test;

namespace {

class VersionInfoTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() / ("varlow-version-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    dirs_.push_back(dir);
    return (dir / name).string();
  }
  std::string FileWith(const Bytes& bytes) {
    const std::string path = Path("file" + std::to_string(counter_++));
    WriteFile(path, bytes);
    return path;
  }
  void TearDown() override {
    for (const auto& d : dirs_) std::filesystem::remove_all(d);
  }

 private:
  std::vector<std::filesystem::path> dirs_;
  int counter_ = 0;
};

template <class E>
std::string MessageOf(const std::string& path) {
  try {
    TVersionInfo info(path);
  } catch (const E& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace

TEST_F(VersionInfoTest, TheBuiltProgramCarriesTheProjectVersion) {
  TVersionInfo info(VARLOW_CLI_PATH);
  EXPECT_EQ(info.Major(), VARLOW_VERSION_MAJOR);
  EXPECT_EQ(info.Minor(), VARLOW_VERSION_MINOR);
  EXPECT_EQ(info.Release(), VARLOW_VERSION_PATCH);
  EXPECT_EQ(info.Build(), VARLOW_VERSION_TWEAK);
  EXPECT_EQ(info.VersionText(),
            VersionLine(VARLOW_VERSION_MAJOR, VARLOW_VERSION_MINOR, VARLOW_VERSION_PATCH, VARLOW_VERSION_TWEAK));
}

TEST_F(VersionInfoTest, VersionLineLeavesOutAZeroRelease) {
  EXPECT_EQ(TVersionInfo(FileWith(ElfWithSection(".varlow.version", VersionBlockBytes(3, 4, 5, 6)))).VersionText(),
            "Version 3.4.5 (build 6)");
  EXPECT_EQ(TVersionInfo(FileWith(ElfWithSection(".varlow.version", VersionBlockBytes(2, 0, 0, 7)))).VersionText(),
            "Version 2.0 (build 7)");
  EXPECT_EQ(TVersionInfo(FileWith(ElfWithSection(".varlow.version", VersionBlockBytes(65535, 65535, 65535, 65535))))
                .VersionText(),
            "Version 65535.65535.65535 (build 65535)");
}

TEST_F(VersionInfoTest, FilesWithoutABlockHaveNoVersionInformation) {
  const std::string none = "No version information";
  EXPECT_EQ(MessageOf<ENoVersion>(ExecutablePath()), none);  // this test program has no block
  EXPECT_EQ(MessageOf<ENoVersion>(Path("missing")), none);
  EXPECT_EQ(MessageOf<ENoVersion>(FileWith({})), none);
  EXPECT_EQ(MessageOf<ENoVersion>(FileWith(Bytes(200, 'x'))), none);
  EXPECT_EQ(MessageOf<ENoVersion>(FileWith(ElfWithSection(".other", VersionBlockBytes(1, 2, 3, 4)))), none);
  EXPECT_EQ(MessageOf<ENoVersion>(FileWith(ElfWithSection(".varlow.version", {}))), none);
  Bytes badSignature = VersionBlockBytes(1, 2, 3, 4);
  badSignature[0] = 'X';
  EXPECT_EQ(MessageOf<ENoVersion>(FileWith(ElfWithSection(".varlow.version", badSignature))), none);
}

TEST_F(VersionInfoTest, MalformedBlocksRaiseVersionErrors) {
  EXPECT_EQ(MessageOf<EVersion>(FileWith(ElfWithSection(".varlow.version", VersionBlockBytes(1, 2, 3, 4, false)))),
            "Error geting fixed version info");
  EXPECT_EQ(MessageOf<EVersion>(FileWith(ElfWithSection(".varlow.version", VersionBlockWithShortFixedInfo(51)))),
            "Bad fixed version info size");
  EXPECT_EQ(
      MessageOf<EVersion>(FileWith(ElfWithSection(".varlow.version", VersionBlockBytes(1, 2, 3, 4, true, false)))),
      "Bad translation in version info");
}

// Every prefix of a good file and files with a damaged section table are refused cleanly.
TEST_F(VersionInfoTest, TruncatedAndDamagedFilesNeverReadOutOfBounds) {
  const Bytes good = ElfWithSection(".varlow.version", VersionBlockBytes(1, 2, 3, 4));
  for (std::size_t length = 0; length < good.size(); ++length) {
    const std::string path = FileWith(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
    try {
      TVersionInfo info(path);
      ADD_FAILURE() << "a file cut at " << length << " bytes was read";
    } catch (const ENoVersion&) {
    } catch (const EVersion&) {
    }
    std::filesystem::remove(path);
  }
  auto damaged = [&](std::size_t at, std::uint64_t value, int width) {
    Bytes bytes = good;
    std::memcpy(&bytes[at], &value, static_cast<std::size_t>(width));
    return MessageOf<ENoVersion>(FileWith(bytes));
  };
  const std::size_t table = good.size() - 3 * 64;
  EXPECT_EQ(damaged(0x28, ~std::uint64_t{0}, 8), "No version information");      // table offset
  EXPECT_EQ(damaged(0x3C, 0xFFFE, 2), "No version information");                 // section count
  EXPECT_EQ(damaged(0x3E, 40, 2), "No version information");                     // name table index
  EXPECT_EQ(damaged(table + 64 + 32, 1ull << 62, 8), "No version information");  // section size
  EXPECT_EQ(damaged(table + 64 + 24, 1ull << 63, 8), "No version information");  // section offset
  EXPECT_EQ(damaged(table + 64, 0xFFFFFFF0u, 4), "No version information");      // name offset
}
