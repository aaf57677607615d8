// The whole-file scan against an independent byte-by-byte scan, on every stream at hand and with
// block sizes that put start codes and headers across every kind of block end.
#include <gtest/gtest.h>

#include "BrowseTestFiles.h"
#include "overview_craft.h"
#include "overview/OverviewScanner.h"
#include "overview/StartCodeFinder.h"

#include <random>

namespace varlow::test {
namespace {

void ExpectMatchesReference(const TOverviewData& data, const TRefScan& ref, const std::string& what) {
  ASSERT_EQ(data.Pictures.size(), ref.Pictures.size()) << what;
  EXPECT_EQ(static_cast<std::int64_t>(data.Groups.size()), ref.Groups) << what;
  for (std::size_t i = 0; i < ref.Pictures.size(); ++i) {
    const TPictureRecord& p = data.Pictures[i];
    const TRefPicture& r = ref.Pictures[i];
    ASSERT_EQ(p.Offset(), r.Offset) << what << " picture " << i;
    ASSERT_EQ(p.Size(), r.Size) << what << " picture " << i;
    ASSERT_EQ(p.CodingType(), r.CodingType) << what << " picture " << i;
    ASSERT_EQ(p.TemporalReference(), r.TemporalReference) << what << " picture " << i;
    const std::uint32_t group = data.GroupOf(i);
    ASSERT_EQ(group == kNoIndex ? -1 : std::int64_t{group}, r.Group) << what << " picture " << i;
  }
  for (std::size_t g = 0; g < data.Groups.size(); ++g) {
    const std::uint32_t first = data.Groups[g].FirstPicture;
    if (first < data.Pictures.size()) {
      EXPECT_EQ(data.GroupOf(first), g) << what;
    }
  }
}

TEST(OverviewScan, EveryStreamAgreesWithAByteByByteScan) {
  const auto paths = AllStreams();
  ASSERT_GE(paths.size(), 10u);
  for (const std::string& path : paths) {
    const auto bytes = ReadFileBytes(path);
    const TRefScan ref = ReferenceScan(bytes);
    // The default block, a small one and an odd one, so that codes straddle block ends.
    for (std::size_t block : {TOverviewScanner::kDefaultBlockSize, std::size_t{4096}, std::size_t{4099 + 1024}}) {
      const TOverviewData data = ScanPath(path, block);
      ExpectMatchesReference(data, ref, path + " block " + std::to_string(block));
      EXPECT_EQ(data.Report.State, TScanReport::End::Complete) << path;
      EXPECT_EQ(data.Report.BytesScanned, static_cast<std::int64_t>(bytes.size())) << path;
    }
  }
}

TEST(OverviewScan, HeadersOfTheThirdPartyStreamsAreRead) {
  // Soft telecine: frame pictures, half of them with repeat_first_field.
  const TOverviewData telecine = ScanPath(SharedStream("idet_soft_telecine.m2v"));
  ASSERT_EQ(telecine.Pictures.size(), 240u);
  int repeats = 0;
  for (const auto& p : telecine.Pictures) {
    EXPECT_EQ(p.PictureStructure(), kFramePicture);
    EXPECT_TRUE(p.Has(TPictureRecord::kProgressiveFrame));
    EXPECT_FALSE(p.Has(TPictureRecord::kProgressiveSequence));
    repeats += p.Has(TPictureRecord::kRepeatFirstField);
  }
  EXPECT_EQ(repeats, 120);
  ASSERT_FALSE(telecine.Sequences.empty());
  EXPECT_EQ(telecine.Sequences[0].Width, 720u);
  EXPECT_EQ(telecine.Sequences[0].Height, 480u);
  const auto bytes = ReadFileBytes(SharedStream("idet_soft_telecine.m2v"));
  std::int64_t headers = 0;
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
    headers += bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB3;
  EXPECT_EQ(telecine.Report.SequenceHeaders, headers);
  EXPECT_EQ(telecine.Sequences.size(), 1u);  // repeated headers with the same values are kept once
  EXPECT_EQ(telecine.Report.DamagedUnits, 0);

  // test_2.mpg: 55 groups, only the first closed; clean, nothing skipped.
  const TOverviewData test2 = ScanPath(SharedStream("test_2.mpg"));
  ASSERT_EQ(test2.Groups.size(), 55u);
  EXPECT_EQ(test2.Groups[0].ClosedGop, 1u);
  for (std::size_t g = 1; g < test2.Groups.size(); ++g) EXPECT_EQ(test2.Groups[g].ClosedGop, 0u);
  EXPECT_EQ(test2.Report.DamagedUnits, 0);
  EXPECT_EQ(test2.Report.SkippedBytes, 0);

  // MPEG-1: no extensions, so every picture is a frame with no coding extension.
  const TOverviewData mpeg1 = ScanPath(SharedStream("gen2brain_test.m1v"));
  ASSERT_FALSE(mpeg1.Sequences.empty());
  EXPECT_FALSE(mpeg1.Sequences[0].Mpeg2);
  for (const auto& p : mpeg1.Pictures) EXPECT_FALSE(p.Has(TPictureRecord::kHasCodingExtension));
}

TEST(OverviewScan, ProgramStreamIsScannedAndItsForeignCodesCounted) {
  // A program stream: pack and PES start codes are not video; they are counted and passed over,
  // and the pictures inside the PES packets are still found where the reference finds them.
  const std::string path = SharedStream("negative/gen2brain_test.mpg");
  const TOverviewData data = ScanPath(path);
  ExpectMatchesReference(data, ReferenceScan(ReadFileBytes(path)), path);
  EXPECT_GT(data.Report.DamagedUnits, 0);
  EXPECT_EQ(data.Report.SkippedBytes, 0);  // it begins with a pack start code
  ASSERT_FALSE(data.Report.Issues.empty());
  EXPECT_NE(data.Report.Issues[0].Text.find("does not belong"), std::string::npos);
}

TEST(OverviewScan, PictureLongerThanTheBlockAndHeadersAcrossBlockEnds) {
  // A 300 kB picture with a 4 kB block: only its start and the next pack's start matter.
  TStreamCraft craft;
  craft.SequenceHeader(720, 576, 3).SequenceExtension(false).Group(true);
  craft.Picture(0, 1).CodingExtension(3, true, false, false);
  for (int s = 0; s < 1000; ++s) craft.Slice(300);
  craft.Picture(1, 2).CodingExtension(3, true, true, false).Slice().End();
  const auto bytes = craft.Bytes();
  TTempStreamFile file("overview-long", bytes);
  const TRefScan ref = ReferenceScan(bytes);
  // Block sizes around 4 kB put the block ends at many places in and around the headers.
  for (std::size_t block = 4096; block < 4096 + 40; ++block) {
    const TOverviewData data = ScanPath(file.Path(), block);
    ExpectMatchesReference(data, ref, "block " + std::to_string(block));
    ASSERT_EQ(data.Pictures.size(), 2u);
    EXPECT_GT(data.Pictures[0].Size(), 300000);
    EXPECT_TRUE(data.Pictures[1].Has(TPictureRecord::kRepeatFirstField)) << block;
    EXPECT_TRUE(data.Pictures[1].Has(TPictureRecord::kHasCodingExtension)) << block;
    EXPECT_EQ(data.Report.SequenceEndCodes, 1);
  }
}

TEST(OverviewScan, EmptyAndStartCodeFreeFiles) {
  TTempStreamFile empty("overview-empty");
  TOverviewData data = ScanPath(empty.Path());
  EXPECT_EQ(data.Report.State, TScanReport::End::Complete);
  EXPECT_TRUE(data.Pictures.empty());

  TTempStreamFile noise("overview-noise", std::vector<std::uint8_t>(10000, 0x00));
  data = ScanPath(noise.Path(), 4096);
  EXPECT_TRUE(data.Pictures.empty());
  EXPECT_EQ(data.Report.SkippedBytes, 10000);
  EXPECT_EQ(data.Report.FirstStartCode, -1);
}

TEST(OverviewScan, CancelStopsAtABlockAndKeepsWhatWasFound) {
  const std::string path = SharedStream("cinecutie_test.m2v");
  auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(stream);
  std::atomic<bool> cancel{false};
  TOverviewData data;
  int calls = 0;
  TOverviewScanner(65536).Scan(*stream, data, nullptr, &cancel, [&](std::int64_t done, std::int64_t total) {
    EXPECT_LE(done, total);
    if (++calls == 3) cancel = true;
  });
  EXPECT_EQ(data.Report.State, TScanReport::End::Cancelled);
  EXPECT_EQ(calls, 3);
  EXPECT_LT(data.Report.BytesScanned, stream->Size());
  const TRefScan ref = ReferenceScan(ReadFileBytes(path));
  ASSERT_GT(data.Pictures.size(), 0u);
  ASSERT_LT(data.Pictures.size(), ref.Pictures.size());
  for (std::size_t i = 0; i + 1 < data.Pictures.size(); ++i) EXPECT_EQ(data.Pictures[i].Size(), ref.Pictures[i].Size);
}

TEST(OverviewScan, PublishesUnderTheLockAsItGoes) {
  const std::string path = SharedStream("idet_interlaced_bff.m2v");
  auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(stream);
  std::mutex lock;
  TOverviewData data;
  std::vector<std::size_t> seen;
  TOverviewScanner(256 * 1024).Scan(*stream, data, &lock, nullptr, [&](std::int64_t, std::int64_t) {
    std::lock_guard guard(lock);
    seen.push_back(data.Pictures.size());
  });
  ASSERT_GE(seen.size(), 10u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GT(seen[seen.size() / 2], 0u);  // pictures appear before the scan ends
  EXPECT_EQ(data.Pictures.size(), 300u);
}

} // namespace
} // namespace varlow::test

namespace varlow::test {
namespace {

TEST(OverviewStartCodes, FastSearchFindsWhatAByteWalkFinds) {
  // Start codes planted at every position around the 62-byte steps of the fast loop, in noise
  // full of single zeros and 01 bytes, and zero runs of every length before a 01.
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> bytes(300 + random() % 400);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 3 : random());
    const std::size_t at = random() % (bytes.size() - 8);
    for (std::size_t k = 0; k < random() % 6; ++k) bytes[at + k] = 0;
    bytes[at + random() % 6] = 1;
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) expected.push_back(static_cast<std::uint32_t>(i));
    std::vector<std::uint32_t> found;
    FindAllStartCodes(bytes.data(), bytes.size(), found);
    ASSERT_EQ(found, expected) << "round " << round;
    std::vector<std::uint32_t> stepped;
    for (std::size_t q = FindAnyStartCode(bytes.data(), 0, bytes.size()); q < bytes.size();
         q = FindAnyStartCode(bytes.data(), q + 1, bytes.size()))
      stepped.push_back(static_cast<std::uint32_t>(q));
    ASSERT_EQ(stepped, expected) << "round " << round;
  }
}

TEST(OverviewStartCodes, SliceRunsAreCutToTheirFirstSlice) {
  // Runs of slices every few dozen bytes (what coded pictures look like), broken by other codes,
  // in noise; the fast search must list what a byte walk with the same rule lists.
  std::mt19937 random(23);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> bytes(200 + random() % 1500);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 3 : random());
    for (std::size_t at = random() % 40; at + 4 <= bytes.size(); at += 4 + random() % 90) {
      const std::uint8_t kinds[] = {0x01, 0x2F, 0xAF, 0x00, 0xB0, 0xB5, 0xB2, 0xFF};
      const std::uint8_t code = random() % 4 != 0 ? static_cast<std::uint8_t>(1 + random() % 0xAF)
                                                  : kinds[random() % std::size(kinds)];
      bytes[at] = 0;
      bytes[at + 1] = 0;
      bytes[at + 2] = 1;
      bytes[at + 3] = code;
    }
    std::vector<std::uint32_t> expected;
    bool inRun = false;
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
      if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
      const bool slice = bytes[i + 3] >= 0x01 && bytes[i + 3] <= 0xAF;
      if (!slice || !inRun) expected.push_back(static_cast<std::uint32_t>(i));
      inRun = slice;
    }
    std::vector<std::uint32_t> found;
    FindStartCodesButSliceRuns(bytes.data(), bytes.size(), found);
    ASSERT_EQ(found, expected) << "round " << round;
  }
}

} // namespace
} // namespace varlow::test
