#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrowseTestFiles.h"
#include "TestStreams.h"
#include "browser/PackIndex.h"
#include "support/Log.h"

namespace varlow {
namespace {

using test::Code;
using test::operator+;
using test::Filler;
using test::Picture;
using test::TTempStreamFile;

// What the list should show for a whole file, from a plain scan for every 00 00 01 00/B3/B7/B8.
struct RefPack {
  std::int64_t offset;
  std::int64_t length;
  std::uint8_t code;
  int temporalReference, codingType;
};

std::vector<RefPack> ReferenceScan(const std::vector<std::uint8_t>& b) {
  std::vector<RefPack> packs;
  for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    const std::uint8_t c = b[i + 3];
    if (c != 0x00 && c != 0xB3 && c != 0xB7 && c != 0xB8) continue;
    if (!packs.empty()) packs.back().length = static_cast<std::int64_t>(i) - packs.back().offset;
    int tr = 0, type = 0;
    if (c == 0x00 && i + 6 <= b.size()) {
      tr = (b[i + 4] << 2) | (b[i + 5] >> 6);
      type = (b[i + 5] >> 3) & 7;
    }
    packs.push_back({static_cast<std::int64_t>(i), 0, c, tr, type});
  }
  if (!packs.empty()) packs.back().length = static_cast<std::int64_t>(b.size()) - packs.back().offset;
  return packs;
}

std::string Hex8(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "$%08llX", static_cast<unsigned long long>(v));
  return buf;
}

void ExpectRow(const TPackIndex& index, std::int32_t row, const RefPack& ref) {
  const TPackRec rec = index.Pack(row);
  ASSERT_EQ(rec.Offset, ref.offset) << "row " << row;
  EXPECT_EQ(rec.Length, ref.length);
  const TPackRow text = index.ListView1Data(row);
  EXPECT_EQ(text[0], Hex8(ref.offset));
  EXPECT_EQ(text[1], std::to_string(ref.length));
  const char* names[] = {"PICTURE_START_CODE", "SEQUENCE_HEADER_CODE", "SEQUENCE_END_CODE", "GROUP_START_CODE"};
  EXPECT_EQ(text[2], names[ref.code == 0 ? 0 : ref.code == 0xB3 ? 1 : ref.code == 0xB7 ? 2 : 3]);
  if (ref.code == 0) {
    const char* types[] = {"Unknown", "I", "P", "B", "Unknown", "Unknown", "Unknown", "Unknown"};
    EXPECT_EQ(text[3], types[ref.codingType]);
    EXPECT_EQ(text[4], std::to_string(ref.temporalReference));
  } else {
    EXPECT_EQ(text[3], "");
    EXPECT_EQ(text[4], "");
  }
}

// Pages down through the whole file, then back up, and steps through the first pages, checking
// every window against the reference scan.
void CheckWholeFile(const std::string& path, std::int32_t rows) {
  SCOPED_TRACE(path + " rows " + std::to_string(rows));
  const auto ref = ReferenceScan(test::ReadFileBytes(path));
  ASSERT_FALSE(ref.empty());
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly));
  index.SetRowsPerPage(rows);
  index.Home();

  std::size_t first = 0;  // reference index of row 0
  std::vector<std::size_t> pageStarts;
  for (;;) {
    ASSERT_EQ(index.Pack(0).Offset, ref[first].offset);
    const std::size_t expected = std::min<std::size_t>(static_cast<std::size_t>(rows), ref.size() - first);
    ASSERT_EQ(index.PackCount(), static_cast<std::int32_t>(expected));
    for (std::int32_t r = 0; r < index.PackCount(); ++r) ExpectRow(index, r, ref[first + static_cast<std::size_t>(r)]);
    EXPECT_EQ(index.ScrollPos(), static_cast<std::int32_t>(index.Pack(0).Offset / 100));
    pageStarts.push_back(first);
    if (!index.PageFull()) break;
    ASSERT_TRUE(index.PageDown());
    if (first + expected == ref.size()) {
      // Nothing after the page: the last pack becomes row 0.
      EXPECT_EQ(index.Pack(0).Offset, ref.back().offset);
      EXPECT_EQ(index.PackCount(), 1);
      break;
    }
    first += expected;
  }
  // Paging up from each page start lands on the page before (a full page back).
  index.End();
  const std::size_t lastFirst = ref.size() > static_cast<std::size_t>(rows) ? ref.size() - static_cast<std::size_t>(rows) : 0;
  EXPECT_EQ(index.Pack(0).Offset, ref[lastFirst].offset);
  for (std::size_t f = lastFirst; f > 0;) {
    index.PageUp();
    f = f > static_cast<std::size_t>(rows) ? f - static_cast<std::size_t>(rows) : 0;
    ASSERT_EQ(index.Pack(0).Offset, ref[f].offset);
  }
  // Step down and up through the first packs.
  index.Home();
  for (std::size_t s = 1; s < std::min<std::size_t>(ref.size() - static_cast<std::size_t>(std::min<std::size_t>(rows, ref.size())), 40); ++s) {
    ASSERT_TRUE(index.StepDown());
    ASSERT_EQ(index.Pack(0).Offset, ref[s].offset);
  }
  for (;;) {
    const std::int64_t before = index.Pack(0).Offset;
    index.StepUp();
    if (before == 0) break;
    const auto it = std::find_if(ref.begin(), ref.end(), [&](const RefPack& p) { return p.offset == before; });
    ASSERT_NE(it, ref.begin());
    ASSERT_EQ(index.Pack(0).Offset, (it - 1)->offset);
  }
  EXPECT_EQ(index.Pack(0).Offset, ref[0].offset);
}

TEST(PackIndexWholeFiles, AgreeWithAReferenceScan) {
  std::vector<std::string> files = {test::SampleStream()};
  for (const auto& n : test::OwnStreamNames()) files.push_back(test::OwnStream(n));
  for (const char* n : {"lowrisc_test.m2v", "greyramp.mpg", "gen2brain_test.m1v", "damaged/test.mpeg1video"})
    if (test::Exists(test::SharedStream(n))) files.push_back(test::SharedStream(n));
  for (const auto& f : files) {
    CheckWholeFile(f, 17);
    CheckWholeFile(f, 256);
  }
}

TEST(PackIndex, FirstStartCodeInsideTheFile) {
  TTempStreamFile file("lead", Filler(100, 0x00) + Code(0xB3) + Filler(20) + Code(0xB8) + Filler(4) + Picture(5, 2) +
                                   Filler(30));
  auto index = file.Index(10);
  ASSERT_EQ(index->PackCount(), 3);
  EXPECT_EQ(index->Pack(0).Offset, 100);
  EXPECT_EQ(index->Pack(0).Length, 24);
  const TPackRow row = index->ListView1Data(2);
  EXPECT_EQ(row[0], "$00000084");
  EXPECT_EQ(row[3], "P");
  EXPECT_EQ(row[4], "5");
  EXPECT_EQ(index->ListView1Data(3), TPackRow{});  // beyond the packs: empty
  EXPECT_EQ(index->ListView1Data(-1), TPackRow{});
  EXPECT_FALSE(index->PageFull());
}

TEST(PackIndex, BackToBackCodesAndAFileEndingInAPrefix) {
  TTempStreamFile file("b2b", Code(0xB7) + Code(0xB3) + Filler(8) + Code(0xB7) + std::vector<std::uint8_t>{0, 0, 1});
  auto index = file.Index(10);
  ASSERT_EQ(index->PackCount(), 3);
  EXPECT_EQ(index->Pack(0).Length, 4);
  EXPECT_EQ(index->Pack(1).Length, 12);
  EXPECT_EQ(index->Pack(2).Length, 7);  // the cut prefix stays in the last pack
  EXPECT_EQ(index->ListView1Data(0)[2], "SEQUENCE_END_CODE");
}

TEST(PackIndex, UnknownCodingTypesAndOtherStartCodesInsidePacks) {
  TTempStreamFile file("types", Code(0xB3) + Filler(8) + Code(0xB5) + Filler(6) + Picture(1023, 4) + Code(0x01) +
                                    Filler(10) + Picture(7, 0) + Code(0xB2) + Filler(3) + Code(0xAF) + Filler(3));
  auto index = file.Index(10);
  ASSERT_EQ(index->PackCount(), 3);
  EXPECT_EQ(index->Pack(0).Length, 22);
  EXPECT_EQ(index->ListView1Data(1)[3], "Unknown");
  EXPECT_EQ(index->ListView1Data(1)[4], "1023");
  EXPECT_EQ(index->ListView1Data(2)[3], "Unknown");
  EXPECT_EQ(index->ListView1Data(2)[4], "7");
}

TEST(PackIndex, IsPSLooksAtTheFirst2048BytesOnly) {
  auto accepts = [](const std::vector<std::uint8_t>& bytes) {
    TTempStreamFile file("isps", bytes);
    auto stream = TFileStream::Open(file.Path(), TFileStream::Mode::ReadOnly);
    return IsPS(*stream);
  };
  EXPECT_TRUE(accepts(Filler(2044) + Code(0xB3)));
  EXPECT_FALSE(accepts(Filler(2045) + Code(0xB3)));
  EXPECT_TRUE(accepts(Filler(10) + Code(0x00)));
  EXPECT_TRUE(accepts(Filler(10) + Code(0xB8)));
  EXPECT_FALSE(accepts(Code(0xB7) + Code(0xB7) + Code(0xB7)));  // sequence end codes do not count
  EXPECT_FALSE(accepts(Code(0xBA) + Code(0xE0)));
  EXPECT_FALSE(accepts({}));
  EXPECT_FALSE(accepts({0x00, 0x00, 0x01}));
  if (test::Exists(test::SharedStream("negative/gen2brain_test.mpg"))) {
    auto ps = TFileStream::Open(test::SharedStream("negative/gen2brain_test.mpg"), TFileStream::Mode::ReadOnly);
    EXPECT_FALSE(IsPS(*ps));  // first sequence header at byte 2,078
  }
}

std::vector<std::uint8_t> ManyPacks(int count) {
  std::vector<std::uint8_t> bytes = Code(0xB3) + Filler(8);
  for (int i = 0; i < count; ++i) bytes = bytes + Picture(i % 1024, 1 + i % 3) + Filler(static_cast<std::size_t>(i % 5));
  return bytes;
}

TEST(PackIndex, NeverMoreThan256RecordsWhateverTheRowsPerPage) {
  TTempStreamFile file("cap", ManyPacks(700));
  const auto ref = ReferenceScan(test::ReadFileBytes(file.Path()));
  auto index = file.Index(400);
  EXPECT_EQ(index->VisibleRows(), 400);
  EXPECT_EQ(index->PackCount(), 256);
  EXPECT_TRUE(index->PageFull());
  EXPECT_EQ(index->ListView1Data(300), TPackRow{});
  ASSERT_TRUE(index->PageDown());
  EXPECT_EQ(index->Pack(0).Offset, ref[256].offset);
  index->PageUp();
  EXPECT_EQ(index->Pack(0).Offset, 0);
  index->End();
  EXPECT_EQ(index->Pack(0).Offset, ref[ref.size() - 256].offset);
}

TEST(PackIndex, APageLargerThanTheScanReadIsCut) {
  // A 6 MiB pack: the refill reads 5 MiB, so the page ends with a cut pack.
  TTempStreamFile file("big", Code(0xB3) + Filler(8) + Picture(0, 1) + Filler(6 << 20) + Picture(1, 2) + Filler(10));
  auto index = file.Index(10);
  ASSERT_EQ(index->PackCount(), 2);
  EXPECT_EQ(index->Pack(1).Offset, 12);
  EXPECT_EQ(index->Pack(1).Length, kScanReadSize - 12);
  EXPECT_FALSE(index->PageFull());
  // The next picture is found by a jump past the big one.
  index->JumpToScrollPos(static_cast<std::int32_t>((12 + 9 + (6 << 20)) / 100));
  ASSERT_GE(index->PackCount(), 1);
  EXPECT_EQ(index->Pack(0).Offset, 12 + 9 + (6 << 20));
}

TEST(PackIndex, Searches) {
  const auto bytes = Code(0xB3) + Filler(8) + Code(0xB8) + Filler(4) + Picture(0, 1) + Filler(100) + Code(0xB7);
  TTempStreamFile file("search", bytes);
  auto index = file.Index(3);
  std::uint32_t code = 0xDEAD;

  std::int64_t p = 12;  // a start code right at the position counts as the first
  EXPECT_TRUE(index->SearchBackPackPositionFromPos(p, 1, code));
  EXPECT_EQ(p, 12);
  EXPECT_EQ(code, 0x1B8u);
  p = 13;
  EXPECT_TRUE(index->SearchPreviousPackPositionFromPos(p));
  EXPECT_EQ(p, 12);
  p = 13;
  EXPECT_TRUE(index->SearchNextPackPositionFromPos(p));
  EXPECT_EQ(p, 20);
  // Fewer matches than asked: the furthest one, with the code left as it was.
  p = 20;
  code = 0xDEAD;
  EXPECT_TRUE(index->SearchBackPackPositionFromPos(p, 10, code));
  EXPECT_EQ(p, 0);
  EXPECT_EQ(code, 0xDEADu);
  // Not found leaves the position unchanged.
  p = 130;
  EXPECT_FALSE(index->SearchNextPackPositionFromPos(p));
  EXPECT_EQ(p, 130);
  p = static_cast<std::int64_t>(bytes.size());
  EXPECT_FALSE(index->SearchPreviousPackPositionFromPos(p));
  EXPECT_FALSE(index->SearchBackPackPositionFromPos(p, 1, code));
  EXPECT_EQ(p, static_cast<std::int64_t>(bytes.size()));
  p = static_cast<std::int64_t>(bytes.size()) - 4;
  EXPECT_TRUE(index->SearchPreviousPackPositionFromPos(p));  // the end code at the last 4 bytes
  EXPECT_EQ(p, static_cast<std::int64_t>(bytes.size()) - 4);
}

TEST(PackIndex, MovesAtTheEdgesOfTheFile) {
  const auto bytes = Code(0xB3) + Filler(8) + Code(0xB8) + Filler(4) + Picture(0, 1) + Filler(300) + Picture(1, 3) +
                     Filler(300) + Code(0xB7);
  TTempStreamFile file("edges", bytes);
  auto index = file.Index(3);
  ASSERT_TRUE(index->PageFull());

  index->PageUp();  // from the first page: the search from 0 finds the first pack again
  EXPECT_EQ(index->Pack(0).Offset, 0);
  index->StepUp();
  EXPECT_EQ(index->Pack(0).Offset, 0);

  index->End();  // the last page ends with the sequence end code
  ASSERT_EQ(index->PackCount(), 3);
  EXPECT_EQ(index->ListView1Data(2)[2], "SEQUENCE_END_CODE");
  EXPECT_EQ(index->ListView1Data(2)[1], "4");
  EXPECT_TRUE(index->PageFull());
  ASSERT_TRUE(index->PageDown());  // nothing after: the last pack becomes row 0
  EXPECT_EQ(index->PackCount(), 1);
  EXPECT_EQ(index->Pack(0).Offset, static_cast<std::int64_t>(bytes.size()) - 4);
  EXPECT_FALSE(index->StepDown());  // page not full: nothing moves
  EXPECT_FALSE(index->PageDown());
  EXPECT_EQ(index->Pack(0).Offset, static_cast<std::int64_t>(bytes.size()) - 4);

  // A thumb drag past the last start code lands on the last one at or before it.
  index->JumpToScrollPos(index->ScrollMax());
  EXPECT_EQ(index->Pack(0).Offset, static_cast<std::int64_t>(bytes.size()) - 4);
  index->Home();
  EXPECT_EQ(index->Pack(0).Offset, 0);
  EXPECT_EQ(index->ScrollPos(), 0);
  EXPECT_EQ(index->ScrollMax(), static_cast<std::int32_t>(bytes.size() / 100 - 1));

  // A resize refills from the same start with the new number of rows.
  index->StepDown();
  const std::int64_t start = index->WindowStart();
  index->SetRowsPerPage(5);
  index->RefreshPosition(index->WindowStart());
  EXPECT_EQ(index->Pack(0).Offset, start);
  EXPECT_EQ(index->PackCount(), 4);
}

TEST(PackIndex, StepDownWithOneRowKeepsTheWindowWhenNothingFollows) {
  TTempStreamFile file("one", Code(0xB3) + Filler(8) + Code(0xB7));
  auto index = file.Index(1);
  ASSERT_TRUE(index->StepDown());
  EXPECT_EQ(index->Pack(0).Offset, 12);
  ASSERT_TRUE(index->StepDown());  // nothing after the last pack: the window stays
  EXPECT_EQ(index->Pack(0).Offset, 12);
  EXPECT_EQ(index->ScrollPos(), 0);
}

TEST(PackIndex, SmallEmptyAndClosedFiles) {
  TTempStreamFile tiny("tiny", Code(0xB3) + Filler(20));
  auto index = tiny.Index(10);
  EXPECT_EQ(index->ScrollMax(), 0);  // shorter than 100 bytes
  EXPECT_EQ(index->PackCount(), 1);

  TTempStreamFile empty("empty");
  auto none = empty.Index(10);
  EXPECT_EQ(none->PackCount(), 0);
  none->End();
  none->PageUp();
  none->StepUp();
  EXPECT_FALSE(none->StepDown());
  none->JumpToScrollPos(5);
  EXPECT_EQ(none->PackCount(), 0);

  TPackIndex closed;
  closed.SetRowsPerPage(10);
  closed.RefreshPosition(0);
  EXPECT_EQ(closed.PackCount(), 0);
  EXPECT_EQ(closed.ScrollMax(), 0);
  closed.End();
  closed.Home();
  EXPECT_EQ(closed.PackCount(), 0);

  auto zeroRows = tiny.Index(0);
  EXPECT_EQ(zeroRows->PackCount(), 0);
  EXPECT_FALSE(zeroRows->PageFull());
  EXPECT_FALSE(zeroRows->StepDown());
}

TEST(PackIndex, FailuresAreTrappedAndLoggedOnce) {
  TTempStreamFile file("trap", Code(0xB3) + Filler(20));
  auto index = file.Index(10);
  ASSERT_EQ(index->PackCount(), 1);
  ScopedLogCapture log;
  index->RefreshPosition(-5);  // a read at a negative position fails
  EXPECT_EQ(log.Count("wex: Error in TForm1.RefreshPosition call..."), 1);
  EXPECT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(index->PackCount(), 0);
  EXPECT_EQ(index->VisibleRows(), 10);
  std::int64_t p = -5;
  EXPECT_FALSE(index->SearchNextPackPositionFromPos(p));
  EXPECT_EQ(log.Count("wex: Error in TForm1.SearchNextPackPositionFromPos call..."), 1);
  EXPECT_EQ(p, -5);
}

TEST(PackIndex, ArbitraryBytesNeverBreakTheScan) {
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 20; ++round) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(next() % 5000));
    for (auto& b : bytes) {
      // Mostly zeros and ones, so that start codes of every kind turn up.
      const std::uint32_t r = next() >> 16;
      b = r % 4 == 0 ? 0x00 : r % 4 == 1 ? 0x01 : static_cast<std::uint8_t>(r >> 4);
    }
    TTempStreamFile file("random", bytes);
    const auto ref = ReferenceScan(bytes);
    auto index = file.Index(7);
    // Every window holds consecutive packs of the reference scan. (A picture code followed by
    // 00 01 xx overlaps the next code, which a page down from offset + 4 passes over, so pages are
    // not compared with fixed strides here.)
    auto checkWindow = [&] {
      for (std::int32_t r = 0; r < index->PackCount(); ++r) {
        const TPackRec rec = index->Pack(r);
        const auto it = std::find_if(ref.begin(), ref.end(), [&](const RefPack& p) { return p.offset == rec.Offset; });
        ASSERT_NE(it, ref.end());
        ExpectRow(*index, r, *it);
      }
    };
    index->Home();
    checkWindow();
    for (int moves = 0; moves < 2000 && index->PageDown(); ++moves) checkWindow();
    for (int k = 0; k <= index->ScrollMax(); k += 3) index->JumpToScrollPos(k);
    index->End();
    index->PageUp();
  }
}

} // namespace
} // namespace varlow
