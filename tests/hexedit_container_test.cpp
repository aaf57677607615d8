// The hex editor over the video inside a transport stream: edits land on their own file
// offsets, the packet headers between payloads stay as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TestStreams.h"
#include "browser/PackIndex.h"
#include "container/OpenSource.h"
#include "hexedit/HexEditModel.h"
#include "hexedit/HexEditWriter.h"
#include "support/Format.h"

using namespace varlow;
using namespace varlow::test;

namespace {

const char kTransport[] = "containers/bt601-525_480_interlaced_bff.ts";

// A private copy of a shared stream in a temporary folder, removed with the object.
class StreamCopy {
public:
  explicit StreamCopy(const std::string& source)
      : dir_(std::filesystem::temp_directory_path() / ("varlow-hexts-" + std::to_string(getpid()) + "-" +
                                                       std::to_string(counter_++))) {
    std::filesystem::create_directories(dir_);
    path_ = dir_ / std::filesystem::path(source).filename();
    std::filesystem::copy_file(source, path_);
  }
  ~StreamCopy() { std::filesystem::remove_all(dir_); }
  std::string Path() const { return path_.string(); }

private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

// A unit of the video as the pack list shows it: where it begins in the video read and its length.
struct Unit {
  std::size_t Index = 0;
  std::size_t Length = 0;
};

// The first unit of `code` in the video bytes; with `straddling`, the first that crosses
// from one payload run into the next.
Unit FindUnit(const std::vector<std::uint8_t>& video, const TSourcePlaces& places, std::uint8_t code,
              bool straddling) {
  for (std::size_t i = 0; i + 4 <= video.size(); ++i) {
    if (video[i] != 0 || video[i + 1] != 0 || video[i + 2] != 1 || video[i + 3] != code) continue;
    const std::size_t next =
        i + static_cast<std::size_t>(GetPackLength(video.data() + i, static_cast<std::int32_t>(video.size() - i)));
    if (next >= video.size()) break;  // a unit cut by the end of the read
    bool crosses = false;
    for (const TSourcePlaces::TRun& run : places.Runs()) crosses = crosses || (run.Index > i && run.Index < next);
    if (!straddling || crosses) return {i, next - i};
  }
  return {};
}

// Cell of byte `index` of a model's range.
std::pair<std::int32_t, std::int32_t> CellOf(std::size_t index) {
  return {static_cast<std::int32_t>(index % kHexBytesPerRow) + 1, static_cast<std::int32_t>(index / kHexBytesPerRow) + 1};
}

// The offsets where two equally long files differ.
std::vector<std::int64_t> Differences(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  std::vector<std::int64_t> at;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) at.push_back(static_cast<std::int64_t>(i));
  return at;
}

class HexEditContainer : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Exists(SharedStream(kTransport))) GTEST_SKIP() << "no " << kTransport;
    copy_ = std::make_unique<StreamCopy>(SharedStream(kTransport));
    original_ = ReadFileBytes(copy_->Path());
    opened_ = OpenVideoSource(copy_->Path(), TFileStream::Mode::ReadWrite);
    ASSERT_NE(opened_.Source, nullptr) << opened_.Refusal;
    ASSERT_TRUE(opened_.Source->IsContainer());
    video_.resize(256 * 1024);
    video_.resize(static_cast<std::size_t>(opened_.Source->ReadAt(0, video_, &places_)));
  }
  TByteSource& Source() { return *opened_.Source; }

  std::unique_ptr<StreamCopy> copy_;
  std::vector<std::uint8_t> original_;
  TOpenedSource opened_;
  std::vector<std::uint8_t> video_;
  TSourcePlaces places_;
};

} // namespace

TEST_F(HexEditContainer, AspectRatioEditChangesExactlyItsOwnFileByte) {
  const Unit header = FindUnit(video_, places_, 0xB3, false);
  ASSERT_GT(header.Length, 8u);
  const std::int64_t offset = places_.OffsetOf(header.Index);
  THexEditModel model = THexEditModel::Load(Source(), offset, static_cast<std::int64_t>(header.Length));
  ASSERT_TRUE(model.Scattered());
  ASSERT_EQ(model.BytesRead(), static_cast<std::int64_t>(header.Length));
  EXPECT_EQ(model.CellText(4, 1), "B3");

  // Byte 7: aspect_ratio_information in its high four bits, frame_rate_code in the low four.
  const auto [col, row] = CellOf(7);
  const std::uint8_t before = model.CurrentValue(col, row);
  const std::uint8_t after = static_cast<std::uint8_t>((before & 0x0F) | ((before & 0xF0) == 0x30 ? 0x20 : 0x30));
  ASSERT_TRUE(model.AddChangedCell(col, row, after));
  const std::int64_t where = places_.OffsetOf(header.Index + 7);
  EXPECT_EQ(model.Position(col, row), where);

  const TSaveResult result = WriteChangedCells(Source().File(), model);
  ASSERT_TRUE(result.Saved()) << SaveResultText(result);
  EXPECT_EQ(result.Written, 1);
  const std::vector<std::uint8_t> now = ReadFileBytes(copy_->Path());
  ASSERT_EQ(now.size(), original_.size());
  EXPECT_EQ(Differences(original_, now), std::vector<std::int64_t>{where});
  EXPECT_EQ(now[static_cast<std::size_t>(where)], after);
}

TEST_F(HexEditContainer, UnitAcrossTwoPacketsTakesEditsOnBothSidesOfTheBoundary) {
  const Unit unit = FindUnit(video_, places_, 0x00, true);
  ASSERT_GT(unit.Length, 0u) << "no picture crosses a packet";
  const std::int64_t offset = places_.OffsetOf(unit.Index);
  THexEditModel model = THexEditModel::Load(Source(), offset, static_cast<std::int64_t>(unit.Length));
  ASSERT_EQ(model.BytesRead(), static_cast<std::int64_t>(unit.Length));

  // The last byte of the unit's first payload run and the first byte of the next one.
  std::size_t boundary = 0;
  for (const TSourcePlaces::TRun& run : places_.Runs())
    if (boundary == 0 && run.Index > unit.Index) boundary = run.Index - unit.Index;
  ASSERT_GT(boundary, 0u);
  const std::int64_t lastBefore = places_.OffsetOf(unit.Index + boundary - 1);
  const std::int64_t firstAfter = places_.OffsetOf(unit.Index + boundary);
  ASSERT_GT(firstAfter - lastBefore, 1) << "a packet header lies between the two";

  for (const std::size_t index : {boundary - 1, boundary}) {
    const auto [col, row] = CellOf(index);
    ASSERT_TRUE(model.AddChangedCell(col, row, static_cast<std::uint8_t>(model.CurrentValue(col, row) ^ 0xFF)));
  }
  // A row that straddles the boundary is named by its first byte's file offset.
  EXPECT_EQ(model.OffsetText(CellOf(boundary).second),
            HexUpper(static_cast<std::uint64_t>(places_.OffsetOf(unit.Index + boundary / 16 * 16)), 8));

  const TSaveResult result = WriteChangedCells(Source().File(), model);
  ASSERT_TRUE(result.Saved()) << SaveResultText(result);
  const std::vector<std::uint8_t> now = ReadFileBytes(copy_->Path());
  EXPECT_EQ(Differences(original_, now), (std::vector<std::int64_t>{lastBefore, firstAfter}));

  // Read back through the container: the video carries both edits and nothing else changed.
  std::vector<std::uint8_t> reread(unit.Length);
  ASSERT_EQ(Source().ReadAt(offset, reread), static_cast<std::int64_t>(unit.Length));
  std::vector<std::uint8_t> expected(video_.begin() + static_cast<std::ptrdiff_t>(unit.Index),
                                     video_.begin() + static_cast<std::ptrdiff_t>(unit.Index + unit.Length));
  expected[boundary - 1] ^= 0xFF;
  expected[boundary] ^= 0xFF;
  EXPECT_EQ(reread, expected);
}

TEST_F(HexEditContainer, FileRewrittenSinceTheEditorReadItIsNotWritten) {
  const Unit header = FindUnit(video_, places_, 0xB3, false);
  ASSERT_GT(header.Length, 8u);
  THexEditModel model = THexEditModel::Load(Source(), places_.OffsetOf(header.Index), static_cast<std::int64_t>(header.Length));
  const auto [col, row] = CellOf(5);
  ASSERT_TRUE(model.AddChangedCell(col, row, static_cast<std::uint8_t>(model.CurrentValue(col, row) + 1)));

  // Another program changes the byte under the edit: the places may no longer name video.
  const std::int64_t where = model.Position(col, row);
  const std::uint8_t foreign = static_cast<std::uint8_t>(model.CurrentValue(col, row) + 7);
  Source().File().WriteAt(where, {&foreign, 1});
  std::vector<std::uint8_t> changed = ReadFileBytes(copy_->Path());

  const TSaveResult result = WriteChangedCells(Source().File(), model);
  EXPECT_EQ(result.Status, TSaveStatus::FileChanged);
  EXPECT_EQ(result.Written, 0);
  EXPECT_EQ(result.Position, where);
  EXPECT_NE(SaveResultText(result).find("Nothing was saved"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(copy_->Path()), changed);
}

TEST_F(HexEditContainer, ReadOnlySourceAndPlainFileKeepTheirOldPaths) {
  // A read-only container: refused before anything is read or written.
  auto readOnly = OpenVideoSource(copy_->Path(), TFileStream::Mode::ReadOnly);
  ASSERT_NE(readOnly.Source, nullptr);
  THexEditModel model = THexEditModel::Load(*readOnly.Source, places_.OffsetOf(0), 16);
  ASSERT_TRUE(model.AddChangedCell(1, 1, static_cast<std::uint8_t>(model.CurrentValue(1, 1) ^ 1)));
  EXPECT_EQ(WriteChangedCells(readOnly.Source->File(), model).Status, TSaveStatus::ReadOnly);
  EXPECT_EQ(ReadFileBytes(copy_->Path()), original_);

  // Through a plain source the model is the contiguous one: the transport packets are bytes.
  auto plain = TByteSource::OpenPlain(copy_->Path(), TFileStream::Mode::ReadOnly);
  const THexEditModel raw = THexEditModel::Load(*plain, 0, 32);
  EXPECT_FALSE(raw.Scattered());
  EXPECT_EQ(raw.CellText(1, 1), "47");  // the first packet's sync byte
  EXPECT_EQ(raw.Position(1, 2), 16);
}
