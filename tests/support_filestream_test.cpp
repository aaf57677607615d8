#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/FileStream.h"

using namespace varlow;

namespace {

// A file that this process may read but not open for writing: mode 0444, and for root (whom
// the mode does not stop) the immutable attribute, where the file system has it.
class UnwritableFile {
public:
  UnwritableFile() : path_(std::filesystem::temp_directory_path() / ("varlow-ro-" + std::to_string(getpid()))) {
    std::ofstream(path_) << std::string("\x00\x00\x01\xB3 sequence", 13);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                            std::filesystem::perms::others_read);
    if (geteuid() == 0) immutable_ = std::system(("chattr +i '" + path_.string() + "' 2>/dev/null").c_str()) == 0;
  }
  ~UnwritableFile() {
    if (immutable_) [[maybe_unused]] int rc = std::system(("chattr -i '" + path_.string() + "'").c_str());
    std::filesystem::remove(path_);
  }
  bool Unwritable() const { return geteuid() != 0 || immutable_; }
  std::string Path() const { return path_.string(); }

private:
  std::filesystem::path path_;
  bool immutable_ = false;
};

} // namespace

TEST(FileStream, UnwritableFileOpensReadOnlyForBrowsing) {
  UnwritableFile file;
  if (!file.Unwritable()) GTEST_SKIP() << "cannot make a file unwritable for root here";
  EXPECT_EQ(TFileStream::Open(file.Path(), TFileStream::Mode::ReadWrite), nullptr);
  auto stream = TFileStream::Open(file.Path(), TFileStream::Mode::ReadWriteOrReadOnly);
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(stream->Writable());
  std::uint8_t head[4] = {};
  EXPECT_EQ(stream->ReadAt(0, head), 4);
  EXPECT_EQ(head[3], 0xB3);
  const std::uint8_t byte = 0;
  EXPECT_THROW(stream->WriteAt(0, {&byte, 1}), std::runtime_error);
}

TEST(FileStream, MissingFilesAndDirectoriesDoNotOpen) {
  EXPECT_EQ(TFileStream::Open("/nonexistent/varlow.m2v", TFileStream::Mode::ReadWriteOrReadOnly), nullptr);
  EXPECT_EQ(TFileStream::Open(std::filesystem::temp_directory_path().string(), TFileStream::Mode::ReadOnly), nullptr);
}

TEST(FileStream, BlockReadsClearTheMarginAfterThem) {
  const auto path = std::filesystem::temp_directory_path() / ("varlow-block-" + std::to_string(getpid()));
  std::ofstream(path) << std::string(32, '\xFF');
  auto stream = TFileStream::Open(path.string(), TFileStream::Mode::ReadOnly);
  ASSERT_NE(stream, nullptr);
  TPaddedBuffer buffer(64);
  EXPECT_EQ(ReadBlockAt(*stream, 0, buffer, 64), 32);  // a long read leaves 0xFF in bytes 0..31
  EXPECT_EQ(ReadBlockAt(*stream, 28, buffer, 64), 4);  // a short one must not show them after it
  for (std::size_t i = 4; i < 4 + kReaderPadding; ++i) EXPECT_EQ(buffer.Data()[i], 0) << i;
  EXPECT_EQ(ReadBlockAt(*stream, 40, buffer, 64), 0);  // past the end: nothing, margin cleared
  EXPECT_EQ(buffer.Data()[0], 0);
  EXPECT_THROW(ReadBlockAt(*stream, 0, buffer, 65), std::length_error);
  std::filesystem::remove(path);
}
