#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "TestStreams.h"
#include "hexedit/HexEditWriter.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// A scratch file of 64 bytes 0xA0..0xDF (or the bytes given), removed with the object.
class ScratchFile {
public:
  explicit ScratchFile(std::vector<std::uint8_t> bytes = Pattern())
      : path_(std::filesystem::temp_directory_path() /
              ("varlow-hexwrite-" + std::to_string(getpid()) + "-" + std::to_string(counter_++))),
        bytes_(std::move(bytes)) {
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes_.data()),
                                                  static_cast<std::streamsize>(bytes_.size()));
  }
  ~ScratchFile() { std::filesystem::remove(path_); }
  std::string Path() const { return path_.string(); }
  const std::vector<std::uint8_t>& Original() const { return bytes_; }
  std::vector<std::uint8_t> OnDisk() const { return ReadFileBytes(Path()); }

  static std::vector<std::uint8_t> Pattern() {
    std::vector<std::uint8_t> bytes(64);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    return bytes;
  }

private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
  std::vector<std::uint8_t> bytes_;
};

// The original bytes with each change put at its place.
std::vector<std::uint8_t> WithEdits(std::vector<std::uint8_t> bytes, std::int64_t offset,
                                    const std::vector<TChangedCell>& cells) {
  for (const TChangedCell& cell : cells) bytes.at(static_cast<std::size_t>(CellPosition(offset, cell.Col, cell.Row))) = cell.Value;
  return bytes;
}

// Limits the size a write may reach in any file of this process while it lives: a write that
// crosses the limit is cut short, one that starts at it fails (EFBIG, SIGXFSZ ignored).
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    ok_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  bool Ok() const { return ok_; }

private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
  bool ok_ = false;
};

} // namespace

TEST(HexEditWriter, WritesTheChangedBytesAndNothingElse) {
  ScratchFile file;
  auto stream = TFileStream::Open(file.Path(), TFileStream::Mode::ReadWrite);
  ASSERT_NE(stream, nullptr);
  // A range from offset 10: cells in its first and third rows.
  const std::vector<TChangedCell> cells = {{1, 1, 0x00}, {16, 1, 0x41}, {3, 3, 0xFF}};
  const TSaveResult result = WriteChangedCells(*stream, 10, cells);
  EXPECT_TRUE(result.Saved());
  EXPECT_EQ(result.Written, 3);
  EXPECT_EQ(result.Total, 3);
  EXPECT_EQ(SaveResultText(result), "");
  EXPECT_EQ(file.OnDisk(), WithEdits(file.Original(), 10, cells));
  EXPECT_EQ(file.OnDisk().size(), 64u);

  // Nothing to write: saved, the file untouched.
  EXPECT_TRUE(WriteChangedCells(*stream, 10, {}).Saved());
  EXPECT_EQ(file.OnDisk(), WithEdits(file.Original(), 10, cells));
}

TEST(HexEditWriter, ReadOnlyStreamWritesNothing) {
  ScratchFile file;
  auto stream = TFileStream::Open(file.Path(), TFileStream::Mode::ReadOnly);
  const TSaveResult result = WriteChangedCells(*stream, 0, std::vector<TChangedCell>{{1, 1, 0x00}});
  EXPECT_EQ(result.Status, TSaveStatus::ReadOnly);
  EXPECT_FALSE(result.WroteAnything());
  EXPECT_NE(SaveResultText(result).find("read-only"), std::string::npos);
  EXPECT_EQ(file.OnDisk(), file.Original());
}

TEST(HexEditWriter, FileThatShrankBelowAChangedByteIsNeitherWrittenNorGrown) {
  ScratchFile file;
  auto stream = TFileStream::Open(file.Path(), TFileStream::Mode::ReadWrite);
  std::filesystem::resize_file(file.Path(), 40);  // another program cut the file
  // Byte 39 still exists, byte 48 does not: nothing at all is written.
  const TSaveResult result = WriteChangedCells(*stream, 32, std::vector<TChangedCell>{{8, 1, 0x00}, {1, 2, 0x00}});
  EXPECT_EQ(result.Status, TSaveStatus::FileShrank);
  EXPECT_EQ(result.Written, 0);
  EXPECT_EQ(result.Position, 48);
  EXPECT_EQ(result.FileSize, 40);
  EXPECT_EQ(SaveResultText(result),
            "The file is shorter than when the window opened: it now ends at $00000028, before the changed byte at "
            "$00000030. Nothing was saved.");
  EXPECT_EQ(file.OnDisk(), std::vector<std::uint8_t>(file.Original().begin(), file.Original().begin() + 40));
}

TEST(HexEditWriter, FailingWriteStopsTheSaveAndSaysHowFarItGot) {
  ScratchFile file;
  auto stream = TFileStream::Open(file.Path(), TFileStream::Mode::ReadWrite);
  const std::vector<TChangedCell> cells = {{5, 1, 0x01}, {11, 1, 0x02}, {1, 2, 0x03}, {2, 1, 0x04}};
  TSaveResult result;
  {
    FileSizeLimit limit(12);  // positions 12 and up can no longer be written
    ASSERT_TRUE(limit.Ok());
    result = WriteChangedCells(*stream, 0, cells);
  }
  EXPECT_EQ(result.Status, TSaveStatus::WriteFailed);
  EXPECT_EQ(result.Written, 2);  // bytes 4 and 10, in list order
  EXPECT_EQ(result.Position, 16);
  EXPECT_FALSE(result.Error.empty());
  // The bytes before the failing one are in the file, the failing one and the rest are not.
  EXPECT_EQ(file.OnDisk(), WithEdits(file.Original(), 0, {cells[0], cells[1]}));
  const std::string text = SaveResultText(result);
  EXPECT_NE(text.find("$00000010"), std::string::npos) << text;
  EXPECT_NE(text.find("2 of 4 changed bytes were written"), std::string::npos) << text;
}
