// The hex dump's window over a pack, the slice spans of the slice list, and what is shown for
// an offset where no pack starts.
#include <gtest/gtest.h>

#include "BrowseTestFiles.h"
#include "TestStreams.h"
#include "browser/DumpWindow.h"
#include "browser/PackDetails.h"
#include "browser/SliceRequest.h"
#include "support/MemoryTree.h"

namespace varlow {
namespace {

using test::Code;
using test::Filler;
using test::operator+;
using test::TTempStreamFile;

TEST(DumpWindow, DefaultViewAndWindowsBeyondIt) {
  std::vector<std::uint8_t> pack(5000);
  for (std::size_t i = 0; i < pack.size(); ++i) pack[i] = static_cast<std::uint8_t>(i);
  const std::int64_t fileOffset = 0x1000;
  // The first 1,600 bytes and "..." after them, as the dump always began.
  const auto first = DumpWindowLines(pack.data(), 5000, fileOffset, 0);
  ASSERT_EQ(first.size(), 101u);
  EXPECT_EQ(first[0].substr(0, 8), "00001000");
  EXPECT_EQ(first.back(), "...");
  // A window further in: "..." on both sides, lines numbered with file offsets.
  const auto middle = DumpWindowLines(pack.data(), 5000, fileOffset, 2000);
  ASSERT_EQ(middle.size(), 102u);
  EXPECT_EQ(middle[0], "...");
  EXPECT_EQ(middle[1].substr(0, 8), "000017D0");  // 0x1000 + 2000
  EXPECT_EQ(middle.back(), "...");
  // The last window ends with the pack: no "..." after it, a short last line.
  const auto last = DumpWindowLines(pack.data(), 5000, fileOffset, 3408);
  EXPECT_EQ(last[0], "...");
  EXPECT_NE(last.back(), "...");
  EXPECT_EQ(last.back().substr(0, 8), "00002380");  // 0x1000 + 4992
}

TEST(DumpWindow, WhereTheWindowGoesForASelection) {
  // Inside the first 1,600 bytes, or in a short pack: the default view.
  EXPECT_EQ(DumpWindowFor(0, 3, 5000, 0), 0);
  EXPECT_EQ(DumpWindowFor(1500, 1599, 5000, 2400), 0);
  EXPECT_EQ(DumpWindowFor(1000, 1000, 1600, 0), 0);
  // Beyond it: a line-aligned window with four lines of context above the first byte.
  EXPECT_EQ(DumpWindowFor(1600, 1603, 5000, 0), 1600 - 64);
  EXPECT_EQ(DumpWindowFor(3000, 3000, 5000, 0), 2992 - 64);
  // A window that already shows the bytes stays.
  EXPECT_EQ(DumpWindowFor(3000, 3010, 5000, 2400), 2400);
  // Near the end of the pack the window still holds 1,600 bytes.
  EXPECT_EQ(DumpWindowFor(4990, 4999, 5000, 0), 3408);
  // A range longer than a window: its start is shown.
  const std::int32_t start = DumpWindowFor(2000, 4999, 5000, 0);
  EXPECT_LE(start, 2000);
  EXPECT_GT(start + kHexDumpLimit, 2000);
  EXPECT_EQ(DumpLineOfByte(start, start), 1);  // after the "..." line
  EXPECT_EQ(DumpLineOfByte(35, 0), 2);
}

TEST(PackDetails, SliceSpansInThePack) {
  // Picture header, two slices (the second followed by user data), a third, then the end.
  const auto bytes = Code(0x00) + Filler(6) + Code(0x01) + Filler(10) + Code(0x02) + Filler(3) + Code(0xB2) +
                     Filler(5) + Code(0x03) + Filler(2) + Code(0xB7);
  TTempStreamFile file("spans", bytes);
  auto index = file.Index(4);
  TMemoryTree tree;
  TPackDetails details;
  ASSERT_TRUE(UpdatePack(*index, 0, tree, details));
  ASSERT_EQ(details.SliceSpans.size(), 3u);
  EXPECT_EQ(details.SliceSpans[0].Code, 0x101u);
  EXPECT_EQ(details.SliceSpans[0].Offset, 10);
  EXPECT_EQ(details.SliceSpans[0].Size, 14);  // up to the next slice
  EXPECT_EQ(details.SliceSpans[1].Offset, 24);
  EXPECT_EQ(details.SliceSpans[1].Size, 7);   // up to the user data start code
  EXPECT_EQ(details.SliceSpans[2].Offset, 40);
  EXPECT_EQ(details.SliceSpans[2].Size, 6);   // up to the end of the pack
  EXPECT_EQ(details.Bytes.size(), static_cast<std::size_t>(details.Pack.Length));
}

// An offset where no indexed start code begins: nothing is explained, whatever the bytes are.
TEST(PackDetails, NoTreeWhereNoPackStarts) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(test::SampleStream(), TFileStream::Mode::ReadOnly));
  const std::int64_t size = index.FileSize();
  TMemoryTree pictureTree;
  TPackDetails picture;
  ASSERT_TRUE(UpdatePack(index, 0x1E, pictureTree, picture));  // the sample's I picture
  ASSERT_FALSE(picture.SliceSpans.empty());
  const std::int64_t slice = 0x1E + picture.SliceSpans[0].Offset;
  // One byte into the sequence header (00 01 B3 ...), inside a picture, a slice start code,
  // and the file's last two bytes.
  for (std::int64_t offset : {std::int64_t{1}, std::int64_t{100}, slice, size - 2}) {
    TMemoryTree tree;
    TPackDetails details;
    EXPECT_FALSE(UpdatePack(index, offset, tree, details)) << offset;
    EXPECT_EQ(details.Status, TPackStatus::NoPackStarts) << offset;
    EXPECT_EQ(tree.Size(), 0u) << offset;
    EXPECT_TRUE(details.HexLines.empty());
    EXPECT_TRUE(details.Slices.empty());

    TMemoryTree sliceTree;
    EXPECT_EQ(UpdataSliceDetails(index, offset, 0, sliceTree, nullptr), TSliceRequestResult::NoPackStarts) << offset;
    EXPECT_EQ(sliceTree.Size(), 0u);
  }
  TMemoryTree tree;
  TPackDetails details;
  EXPECT_FALSE(UpdatePack(index, size, tree, details));
  EXPECT_EQ(details.Status, TPackStatus::NothingRead);
  EXPECT_TRUE(UpdatePack(index, 0x1E, tree, details));
  EXPECT_EQ(details.Status, TPackStatus::Shown);
  TMemoryTree sliceTree;
  EXPECT_EQ(UpdataSliceDetails(index, 0x1E, 0, sliceTree, nullptr), TSliceRequestResult::Explained);
  EXPECT_FALSE(sliceTree.FindAll("Slice 0").empty());
}

}  // namespace
}  // namespace varlow
