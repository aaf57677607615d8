// The scan on broken input: files cut anywhere, junk between pictures, files that shrink or grow
// while they are read. It must end cleanly, agree with the byte-by-byte scan on what is there,
// and say what it skipped.
#include <gtest/gtest.h>

#include <random>

#include "BrowseTestFiles.h"
#include "overview_craft.h"
#include "overview/OverviewStatistics.h"

namespace varlow::test {
namespace {

bool HasIssue(const TOverviewData& data, const std::string& words) {
  for (const auto& issue : data.Report.Issues)
    if (issue.Text.find(words) != std::string::npos) return true;
  return false;
}

TEST(OverviewBadInput, CutAtEveryFewBytes) {
  const auto whole = ReadFileBytes(SharedStream("lowrisc_test.m2v"));
  ASSERT_FALSE(whole.empty());
  TTempStreamFile file("overview-cut");
  for (std::size_t length = 0; length <= whole.size(); length += 11) {
    const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    file.Resize(0);
    file.WriteAt(0, part);
    const TOverviewData data = ScanPath(file.Path(), 4096);
    const TRefScan ref = ReferenceScan(part);
    ASSERT_EQ(data.Report.State, TScanReport::End::Complete) << length;
    ASSERT_EQ(data.Pictures.size(), ref.Pictures.size()) << length;
    for (std::size_t i = 0; i < ref.Pictures.size(); ++i) {
      ASSERT_EQ(data.Pictures[i].Offset(), ref.Pictures[i].Offset) << length;
      ASSERT_EQ(data.Pictures[i].Size(), ref.Pictures[i].Size) << length;
    }
    ComputeStatistics(data);  // statistics of any partial scan are computed without fault
  }
}

TEST(OverviewBadInput, PictureHeaderCutByTheEndIsCountedAsDamaged) {
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(true).Picture(0, 1);
  auto bytes = craft.Bytes();
  bytes.resize(bytes.size() - 3);  // the picture header loses its last bytes
  TTempStreamFile file("overview-cut-header", bytes);
  const TOverviewData data = ScanPath(file.Path());
  ASSERT_EQ(data.Pictures.size(), 1u);
  EXPECT_TRUE(data.Pictures[0].Has(TPictureRecord::kDamaged));
  EXPECT_EQ(data.Report.DamagedUnits, 1);
  EXPECT_TRUE(HasIssue(data, "cut short"));
}

TEST(OverviewBadInput, RandomBytesBetweenPicturesAreSkippedAndReported) {
  // Junk after every picture, with start codes that do not belong in video (pack, PES, system
  // and reserved codes), stray slices after a sequence end, and junk in front of the stream.
  std::mt19937 random(7);
  TStreamCraft craft;
  craft.Raw(std::vector<std::uint8_t>(100, 0xAB));
  craft.SequenceHeader(352, 288, 3).SequenceExtension(true).Group(true);
  for (int k = 0; k < 20; ++k) {
    craft.Picture(k, k % 3 + 1).CodingExtension(3, false, false, true).Slice(50);
    std::vector<std::uint8_t> junk(200 + random() % 300);
    for (auto& b : junk) b = static_cast<std::uint8_t>(random() | 0x80);  // never 00 or 01
    junk[10] = 0, junk[11] = 0, junk[12] = 1, junk[13] = 0xBA;
    junk[40] = 0, junk[41] = 0, junk[42] = 1, junk[43] = static_cast<std::uint8_t>(0xB9 + k % 0x40);
    craft.Raw(junk);
  }
  craft.End().Slice(10).Slice(10);
  const auto bytes = craft.Bytes();
  TTempStreamFile file("overview-junk", bytes);
  const TOverviewData data = ScanPath(file.Path(), 4096);
  const TRefScan ref = ReferenceScan(bytes);
  ASSERT_EQ(data.Pictures.size(), 20u);
  for (std::size_t i = 0; i < 20; ++i) EXPECT_EQ(data.Pictures[i].Size(), ref.Pictures[i].Size);
  EXPECT_EQ(data.Report.SkippedBytes, 100);
  EXPECT_EQ(data.Report.FirstStartCode, 100);
  // Two foreign codes per picture and one run of stray slices.
  EXPECT_EQ(data.Report.DamagedUnits, 41);
  EXPECT_TRUE(HasIssue(data, "slices outside a picture"));
  EXPECT_TRUE(HasIssue(data, "100 bytes before the first start code"));
  EXPECT_EQ(ComputeStatistics(data).DamagedUnits, 41);
}

TEST(OverviewBadInput, FileThatShrinksWhileItIsRead) {
  const auto bytes = ReadFileBytes(SharedStream("greyramp.mpg"));
  TTempStreamFile file("overview-shrink", bytes);
  auto stream = TByteSource::OpenPlain(file.Path(), TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(stream);
  TOverviewData data;
  bool cut = false;
  TOverviewScanner(4096).Scan(*stream, data, nullptr, nullptr, [&](std::int64_t, std::int64_t) {
    if (!cut) file.Resize(100000);
    cut = true;
  });
  EXPECT_EQ(data.Report.State, TScanReport::End::Complete);
  EXPECT_EQ(data.Report.BytesScanned, 100000);
  EXPECT_EQ(data.Report.FileSizeAtStart, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(data.Report.FileSizeAtEnd, 100000);
  EXPECT_TRUE(HasIssue(data, "shrank"));
  const std::vector<std::uint8_t> kept(bytes.begin(), bytes.begin() + 100000);
  const TRefScan ref = ReferenceScan(kept);
  ASSERT_EQ(data.Pictures.size(), ref.Pictures.size());
  EXPECT_EQ(data.Pictures.back().Size(), ref.Pictures.back().Size);
}

TEST(OverviewBadInput, FileThatGrowsWhileItIsReadIsReadToItsFirstSize) {
  const auto bytes = ReadFileBytes(SharedStream("lowrisc_test.m2v"));
  TTempStreamFile file("overview-grow", bytes);
  auto stream = TByteSource::OpenPlain(file.Path(), TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(stream);
  TOverviewData data;
  bool grown = false;
  TOverviewScanner(4096).Scan(*stream, data, nullptr, nullptr, [&](std::int64_t, std::int64_t) {
    if (!grown) file.WriteAt(static_cast<std::int64_t>(bytes.size()), bytes);
    grown = true;
  });
  EXPECT_EQ(data.Report.BytesScanned, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(data.Pictures.size(), ReferenceScan(bytes).Pictures.size());
  EXPECT_TRUE(HasIssue(data, "grew"));
}

TEST(OverviewBadInput, ForbiddenValuesMarkThePictureDamaged) {
  TStreamCraft craft;
  craft.SequenceHeader(352, 288, 0).SequenceExtension(false).Group(false);  // frame_rate_code 0
  craft.Picture(0, 0).CodingExtension(3, true, false, false).Slice();       // coding type 0
  craft.Picture(1, 1).CodingExtension(0, true, false, false).Slice();       // picture_structure 0
  craft.Picture(2, 2).CodingExtension(3, true, false, false).Slice();
  TTempStreamFile file("overview-forbidden", craft.Bytes());
  const TOverviewData data = ScanPath(file.Path());
  ASSERT_EQ(data.Pictures.size(), 3u);
  EXPECT_TRUE(data.Pictures[0].Has(TPictureRecord::kDamaged));
  EXPECT_TRUE(data.Pictures[1].Has(TPictureRecord::kDamaged));
  EXPECT_FALSE(data.Pictures[2].Has(TPictureRecord::kDamaged));
  EXPECT_EQ(data.Report.DamagedUnits, 3);
  // No frame rate: no duration and no bit rates, but counts all the same.
  const TOverviewStatistics s = ComputeStatistics(data);
  EXPECT_EQ(s.Duration, 0);
  EXPECT_EQ(s.AverageBitRate, 0);
  EXPECT_EQ(s.Pictures, 3);
  EXPECT_EQ(s.Other.Count, 1);
}

} // namespace
} // namespace varlow::test
