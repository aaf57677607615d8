// Files over 4 GiB: a sparse file with stream bytes near the start, past the 4 GiB mark and at
// the end. Every position, search and row text must work on 64-bit offsets.
#include <gtest/gtest.h>

#include "BrowseTestFiles.h"
#include "TestStreams.h"
#include "browser/PackDetails.h"
#include "support/MemoryTree.h"

namespace varlow {
namespace {

using test::operator+;

constexpr std::int64_t kMiddle = 0x123456789LL;   // 9 hex digits, past 4 GiB
constexpr std::int64_t kFar = 0x1000000010LL;      // 10 hex digits, 64 GiB
constexpr std::int64_t kFileSize = kFar + 4096;

std::vector<std::uint8_t> SampleHead(std::size_t n) {
  auto bytes = test::ReadFileBytes(test::SampleStream());
  bytes.resize(n);
  return bytes;
}

class BigFile : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    file_ = new test::TTempStreamFile("sparse");
    file_->WriteAt(0, SampleHead(100000));
    file_->WriteAt(kMiddle, SampleHead(100000));
    file_->Resize(kFileSize);
    // The file ends with a sequence header, a group and a sequence end code.
    file_->WriteAt(kFileSize - 24, test::Code(0xB3) + test::Filler(8) + test::Code(0xB8) + test::Filler(4) +
                                       test::Code(0xB7));
  }
  static void TearDownTestSuite() {
    delete file_;
    file_ = nullptr;
  }
  static test::TTempStreamFile* file_;
};

test::TTempStreamFile* BigFile::file_ = nullptr;

TEST_F(BigFile, JumpsSearchesAndRowTexts) {
  auto index = file_->Index(5);
  ASSERT_EQ(index->PackCount(), 5);
  EXPECT_EQ(index->ScrollMax(), static_cast<std::int32_t>(kFileSize / 100 - 1));

  index->JumpToScrollPos(static_cast<std::int32_t>(kMiddle / 100));
  ASSERT_EQ(index->PackCount(), 5);
  EXPECT_EQ(index->Pack(0).Offset, kMiddle);
  EXPECT_EQ(index->ListView1Data(0)[0], "$123456789");
  EXPECT_EQ(index->ListView1Data(2)[0], "$1234567A7");  // 22 + 8 bytes further
  EXPECT_EQ(index->ListView1Data(2)[3], "I");
  EXPECT_EQ(index->ScrollPos(), static_cast<std::int32_t>(kMiddle / 100));

  ASSERT_TRUE(index->StepDown());
  EXPECT_EQ(index->Pack(0).Offset, kMiddle + 22);
  index->StepUp();
  EXPECT_EQ(index->Pack(0).Offset, kMiddle);
  ASSERT_TRUE(index->PageDown());
  const std::int64_t fifth = index->Pack(0).Offset;
  EXPECT_GT(fifth, kMiddle + 30);
  index->PageUp();
  EXPECT_EQ(index->Pack(0).Offset, kMiddle);
  // The step up from the first pack there finds nothing within 2 MiB (a hole): the window is
  // refilled from the origin and scans forward to the same pack.
  index->StepUp();
  EXPECT_EQ(index->Pack(0).Offset, kMiddle);

  index->End();
  ASSERT_EQ(index->PackCount(), 3);
  EXPECT_EQ(index->ListView1Data(0)[0], "$1000000FF8");
  EXPECT_EQ(index->ListView1Data(2)[2], "SEQUENCE_END_CODE");
  EXPECT_EQ(index->ScrollPos(), static_cast<std::int32_t>((kFileSize - 24) / 100));
  index->Home();
  EXPECT_EQ(index->Pack(0).Offset, 0);

  // A jump into a hole finds nothing either way and shows an empty window.
  index->JumpToScrollPos(static_cast<std::int32_t>(kMiddle / 100 + 1000000));
  EXPECT_EQ(index->PackCount(), 0);
  // A jump just past the middle stream finds its last pack before the position.
  index->JumpToScrollPos(static_cast<std::int32_t>((kMiddle + 100000) / 100) + 2);
  ASSERT_GE(index->PackCount(), 1);
  EXPECT_GT(index->Pack(0).Offset, kMiddle);
  EXPECT_LT(index->Pack(0).Offset, kMiddle + 100000);
}

TEST_F(BigFile, HexDumpAndHeadersPast4GiB) {
  auto index = file_->Index(5);
  TMemoryTree tree;
  TPackDetails details;
  ASSERT_TRUE(UpdatePack(*index, kMiddle, tree, details));
  EXPECT_EQ(details.Pack.Offset, kMiddle);
  EXPECT_EQ(details.Pack.Length, 22);
  ASSERT_EQ(details.HexLines.size(), 2u);
  // 9-digit offsets fill a full line's hex part to exactly 60 characters.
  EXPECT_EQ(details.HexLines[0].substr(0, 12), "123456789   ");
  EXPECT_EQ(details.HexLines[0].size(), 76u);
  EXPECT_EQ(details.HexLines[1].substr(0, 9), "123456799");
  EXPECT_EQ(details.HexLines[1].find_first_not_of(' ', 12 + 6 * 3), 60u);
  EXPECT_FALSE(tree.FindPrefix("horizontal_size_value = 352").empty());

  tree.Clear();
  ASSERT_TRUE(UpdatePack(*index, kFileSize - 24, tree, details));
  // 10 digits on a short line: the text column stays at 60.
  EXPECT_EQ(details.HexLines[0].substr(0, 13), "1000000FF8   ");
  EXPECT_EQ(details.HexLines[0].size(), 60u + 12);
  EXPECT_FALSE(tree.FindAll("sequence_header").empty());

  tree.Clear();
  EXPECT_FALSE(UpdatePack(*index, kFileSize, tree, details));  // nothing to read
  EXPECT_TRUE(details.HexLines.empty());
  EXPECT_EQ(tree.Size(), 0u);
}

} // namespace
} // namespace varlow
