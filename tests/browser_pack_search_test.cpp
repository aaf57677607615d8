// Go To's parsing and Find Next's searches: offsets, times and start codes as typed, the next I
// picture, start code and damaged slice over the project's streams against a plain byte walk.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TestStreams.h"
#include "browser/PackSearch.h"
#include "browser/SliceRequest.h"
#include "container/OpenSource.h"
#include "support/Log.h"

using namespace varlow;

namespace {

struct TCode {
  std::int64_t Offset;
  std::uint8_t Value;
  int PictureType;  // for a picture start code
};

// Every start code of a file, found byte by byte.
std::vector<TCode> AllStartCodes(const std::vector<std::uint8_t>& bytes) {
  std::vector<TCode> codes;
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
      const int type = i + 5 < bytes.size() ? (bytes[i + 5] >> 3) & 7 : 0;
      codes.push_back({static_cast<std::int64_t>(i), bytes[i + 3], type});
    }
  return codes;
}

// Runs a search to its end in small steps, as the window does between its progress updates.
TFindStep SearchFrom(const TByteSource& source, TFindTarget target, std::int64_t from, std::int64_t budget,
                     std::size_t blockSize = TPackSearch::kDefaultBlockSize) {
  TPackSearch search(source, target, blockSize);
  TFindStep step = search.Step(from, budget);
  while (!step.Found && !step.AtEnd) step = search.Step(step.Resume, budget, true);
  return step;
}

std::vector<std::string> Streams() {
  std::vector<std::string> paths = {test::SampleStream()};
  for (const std::string& name : test::OwnStreamNames()) paths.push_back(test::OwnStream(name));
  return paths;
}

}  // namespace

TEST(PackSearchParse, OffsetsInHexadecimalAndDecimal) {
  EXPECT_EQ(ParseOffset("0x1A2B"), 0x1A2B);
  EXPECT_EQ(ParseOffset("0X1a2b"), 0x1A2B);
  EXPECT_EQ(ParseOffset("$1A2B"), 0x1A2B);
  EXPECT_EQ(ParseOffset(" 6699 "), 6699);
  EXPECT_EQ(ParseOffset("0"), 0);
  EXPECT_EQ(ParseOffset("$7FFFFFFFFFFFFFFF"), INT64_MAX);
  for (std::string_view bad : {"", "$", "0x", "-5", "12x", "1A2B", "$1G", "99999999999999999999", "$8000000000000000"})
    EXPECT_FALSE(ParseOffset(bad)) << bad;
}

TEST(PackSearchParse, TimesAndStartCodes) {
  EXPECT_DOUBLE_EQ(*ParseTime("90"), 90);
  EXPECT_DOUBLE_EQ(*ParseTime("90.5s"), 90.5);
  EXPECT_DOUBLE_EQ(*ParseTime("1:30"), 90);
  EXPECT_DOUBLE_EQ(*ParseTime("1:02:03.5"), 3723.5);
  for (std::string_view bad : {"", "s", "1:75", "1:2:3:4", "a", "1.2.3", ":30"}) EXPECT_FALSE(ParseTime(bad)) << bad;

  EXPECT_EQ(ParseStartCode("B3"), 0xB3);
  EXPECT_EQ(ParseStartCode("0xb3"), 0xB3);
  EXPECT_EQ(ParseStartCode("$B8"), 0xB8);
  EXPECT_EQ(ParseStartCode("1B3"), 0xB3);
  EXPECT_EQ(ParseStartCode("000001B3"), 0xB3);
  EXPECT_EQ(ParseStartCode("00"), 0x00);
  for (std::string_view bad : {"", "2B3", "G1", "0x", "0000001B3"}) EXPECT_FALSE(ParseStartCode(bad)) << bad;
}

TEST(PackSearchParse, GoToTargetsByTheirForm) {
  auto target = ParseGoToTarget("#120");
  ASSERT_TRUE(target);
  EXPECT_EQ(target->What, TGoToTarget::Kind::Picture);
  EXPECT_EQ(target->Value, 120);
  EXPECT_EQ(ParseGoToTarget("p 7")->Value, 7);
  target = ParseGoToTarget("1:30");
  ASSERT_TRUE(target);
  EXPECT_EQ(target->What, TGoToTarget::Kind::Time);
  EXPECT_DOUBLE_EQ(target->Seconds, 90);
  EXPECT_EQ(ParseGoToTarget("12s")->What, TGoToTarget::Kind::Time);
  target = ParseGoToTarget("$1A2B");
  ASSERT_TRUE(target);
  EXPECT_EQ(target->What, TGoToTarget::Kind::Offset);
  EXPECT_EQ(target->Value, 0x1A2B);
  EXPECT_EQ(ParseGoToTarget("4096")->Value, 4096);
  EXPECT_FALSE(ParseGoToTarget("#"));
  EXPECT_FALSE(ParseGoToTarget("next"));
}

TEST(PackSearchPictures, TimesAndNumbersFromTheScan) {
  TOverviewData data;
  TSequenceInfo sequence;
  sequence.FrameRateCode = 3;  // 25 frames/s; MPEG-1 pictures stay one frame each
  data.Sequences.push_back(sequence);
  for (int i = 0; i < 3; ++i)
    data.Pictures.emplace_back(100 + 1000 * i, static_cast<std::uint16_t>(i), std::uint8_t{1});
  EXPECT_EQ(PictureOffset(data, 0), 100);
  EXPECT_EQ(PictureOffset(data, 2), 2100);
  EXPECT_FALSE(PictureOffset(data, 3));
  EXPECT_FALSE(PictureOffset(data, -1));
  EXPECT_EQ(PictureOffsetAtTime(data, 0), 100);
  EXPECT_EQ(PictureOffsetAtTime(data, 0.039), 100);
  EXPECT_EQ(PictureOffsetAtTime(data, 0.05), 1100);
  EXPECT_EQ(PictureOffsetAtTime(data, 60), 2100);  // past the end: the last picture
  EXPECT_FALSE(PictureOffsetAtTime(TOverviewData{}, 0));
}

TEST(PackSearchPacks, PackHoldingAnOffset) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(test::SampleStream(), TFileStream::Mode::ReadOnly));
  index.SetRowsPerPage(8);
  index.RefreshPosition(0);
  ASSERT_GE(index.PackCount(), 3);
  const TPackRec second = index.Pack(1);
  EXPECT_EQ(PackHolding(index, second.Offset), second.Offset);
  EXPECT_EQ(PackHolding(index, second.Offset + second.Length - 1), second.Offset);
  EXPECT_EQ(PackHolding(index, second.Offset + second.Length), index.Pack(2).Offset);
  EXPECT_EQ(PackHolding(index, 0), index.Pack(0).Offset);
}

TEST(PackSearchStreams, NextIPictureAndStartCodeMatchAByteWalk) {
  for (const std::string& path : Streams()) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(test::Exists(path));
    const std::vector<TCode> codes = AllStartCodes(test::ReadFileBytes(path));
    const auto source = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
    ASSERT_TRUE(source);
    // From every group start and from the file's start, with steps of a few bytes and of all.
    std::vector<std::int64_t> origins = {0};
    for (const TCode& c : codes)
      if (c.Value == 0xB8) origins.push_back(c.Offset);
    for (const std::int64_t from : origins) {
      auto expected = [&](auto&& match) -> std::int64_t {
        for (const TCode& c : codes)
          if (c.Offset > from && match(c)) return c.Offset;
        return -1;
      };
      const std::int64_t nextI = expected([](const TCode& c) { return c.Value == 0 && c.PictureType == 1; });
      // Whole blocks, and small ones whose ends cut start codes and picture headers.
      for (const std::size_t block : {TPackSearch::kDefaultBlockSize, std::size_t{64}, std::size_t{1001}}) {
        const TFindStep step = SearchFrom(*source, {TFindTarget::Kind::IPicture, 0}, from, 1, block);
        EXPECT_EQ(step.Found ? step.Offset : -1, nextI) << "from " << from << ", blocks of " << block;
      }
      for (const std::uint8_t value : {std::uint8_t{0xB3}, std::uint8_t{0x01}, std::uint8_t{0xB5}}) {
        const std::int64_t next = expected([value](const TCode& c) { return c.Value == value; });
        for (const std::size_t block : {TPackSearch::kDefaultBlockSize, std::size_t{77}}) {
          const TFindStep step = SearchFrom(*source, {TFindTarget::Kind::StartCode, value}, from, 1 << 20, block);
          EXPECT_EQ(step.Found ? step.Offset : -1, next) << "code " << int{value} << " from " << from;
        }
      }
    }
    // A code the stream never holds: the search ends at the end of the file.
    const TFindStep none = SearchFrom(*source, {TFindTarget::Kind::StartCode, 0xB9}, 0, 1 << 20);
    EXPECT_FALSE(none.Found);
    EXPECT_TRUE(none.AtEnd);
  }
}

TEST(PackSearchStreams, NextDamagedSliceInACorruptedCopy) {
  ScopedLogCapture quiet;
  const std::string path = test::SampleStream();
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
  const auto source = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  // A sound stream has no damaged slice.
  EXPECT_FALSE(SearchFrom(*source, {TFindTarget::Kind::DamagedSlice, 0}, 0, 1 << 20).Found);

  // Ones over the middle of the third slice of a picture half way through the file.
  const std::vector<TCode> codes = AllStartCodes(bytes);
  std::vector<std::int64_t> pictures;
  for (const TCode& c : codes)
    if (c.Value == 0) pictures.push_back(c.Offset);
  ASSERT_GT(pictures.size(), 4u);
  const std::int64_t picture = pictures[pictures.size() / 2];
  int slices = 0;
  std::int64_t slice = -1;
  for (const TCode& c : codes)
    if (c.Offset > picture && c.Value >= 1 && c.Value <= 0xAF && ++slices == 3) {
      slice = c.Offset;
      break;
    }
  ASSERT_GT(slice, 0);
  for (std::int64_t i = slice + 6; i < slice + 30; ++i) bytes[static_cast<std::size_t>(i)] = 0xFF;
  const std::filesystem::path damaged = std::filesystem::temp_directory_path() / "varlow_damaged_slice.m2v";
  std::ofstream(damaged, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(damaged.string(), TFileStream::Mode::ReadOnly));
  EXPECT_EQ(DamagedSlices(index, picture), std::vector<std::int32_t>{2});
  // From the start and from a picture after the first sequence header (found by looking back),
  // in whole blocks and in blocks smaller than a picture.
  for (const std::int64_t from : {std::int64_t{0}, pictures[1]})
    for (const std::size_t block : {TPackSearch::kDefaultBlockSize, std::size_t{4096}}) {
      const TFindStep step = SearchFrom(*index.Stream(), {TFindTarget::Kind::DamagedSlice, 0}, from, 1, block);
      ASSERT_TRUE(step.Found) << from << ", " << block;
      EXPECT_EQ(step.Offset, picture);
      EXPECT_EQ(step.Slice, 2);
    }
  // From the damaged picture on, nothing further.
  EXPECT_FALSE(SearchFrom(*index.Stream(), {TFindTarget::Kind::DamagedSlice, 0}, picture, 1 << 20).Found);
  index.SetStream(nullptr);
  std::filesystem::remove(damaged);
}

TEST(PackSearchStreams, IPicturesInsideContainersAtTheirFileOffsets) {
  // The video inside transport and program streams: the I pictures found one after the other are
  // those the pack index lists, named by their file offsets.
  for (const std::string_view kind : {".ts", ".mpg"}) {
    const std::string path = test::OwnStream(std::string("i420_interlaced") + std::string(kind));
    SCOPED_TRACE(path);
    ASSERT_TRUE(test::Exists(path));
    TPackIndex index;
    index.SetStream(OpenVideoSource(path, TFileStream::Mode::ReadOnly).Source);
    ASSERT_TRUE(index.Stream());
    index.SetRowsPerPage(kMaxPacks);
    index.RefreshPosition(0);
    std::vector<std::int64_t> intra;
    for (int i = 0; i < index.PackCount(); ++i)
      if (index.Pack(i).StartCode[3] == 0 && index.Pack(i).PictureHeader.picture_coding_type == 1)
        intra.push_back(index.Pack(i).Offset);
    ASSERT_GE(intra.size(), 2u);
    std::int64_t from = 0;
    for (const std::int64_t expected : intra) {
      const TFindStep step = SearchFrom(*index.Stream(), {TFindTarget::Kind::IPicture, 0}, from, 1, 4096);
      ASSERT_TRUE(step.Found);
      EXPECT_EQ(step.Offset, expected);
      from = step.Offset;
    }
  }
}
