#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <stdexcept>

#include "hexedit/HexEditModel.h"
#include "hexedit/HexEditText.h"

using namespace varlow;

namespace {

std::vector<std::uint8_t> Counting(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

} // namespace

TEST(HexEditModel, OffsetsAreFilePositionsWithAtLeastEightDigits) {
  const THexEditModel model(0x1FFF0, 48, Counting(48));
  EXPECT_EQ(model.OffsetText(1), "0001FFF0");
  EXPECT_EQ(model.OffsetText(3), "00020010");
  EXPECT_EQ(model.Position(3, 2), 0x20002);

  const std::int64_t far = (std::int64_t{5} << 30) + 0x0C;  // past 4 GiB, not row-aligned
  const THexEditModel beyond(far, 20, Counting(20));
  EXPECT_EQ(beyond.OffsetText(1), "14000000C");
  EXPECT_EQ(beyond.OffsetText(2), "14000001C");
  EXPECT_EQ(beyond.Position(16, 1), far + 15);

  const std::int64_t top = std::numeric_limits<std::int64_t>::max() - 16;
  EXPECT_EQ(THexEditModel(top, 16, {}).OffsetText(1), "7FFFFFFFFFFFFFEF");
}

TEST(HexEditModel, RefusesRangesItCannotShow) {
  EXPECT_THROW(THexEditModel(-1, 4, {}), std::invalid_argument);
  EXPECT_THROW(THexEditModel(0, 0, {}), std::invalid_argument);
  EXPECT_THROW(THexEditModel(0, kMaxHexEditLength + 1, {}), std::invalid_argument);
  EXPECT_THROW(THexEditModel(std::numeric_limits<std::int64_t>::max() - 2, 4, {}), std::invalid_argument);
  EXPECT_NO_THROW(THexEditModel(0, kMaxHexEditLength, {}));
}

TEST(HexEditModel, BytesPastTheEndOfTheFileAreEmptyAndTakeNoEdit) {
  THexEditModel model(100, 40, Counting(20));  // the file ended 20 bytes into the range
  EXPECT_EQ(model.RowCount(), 3);
  EXPECT_EQ(model.BytesRead(), 20);
  EXPECT_TRUE(model.HasByte(4, 2));
  EXPECT_FALSE(model.HasByte(5, 2));
  EXPECT_EQ(model.RowText(2), "....");  // bytes 0x10..0x13, and nothing for the missing ones
  EXPECT_EQ(model.RowText(3), "");
  EXPECT_EQ(model.OffsetText(3), "00000084");  // rows past the end still show their offsets
  EXPECT_FALSE(model.AddChangedCell(5, 2, 0xFF));
  EXPECT_FALSE(model.AddChangedCell(1, 3, 0xFF));
  EXPECT_TRUE(model.ChangedCells().empty());
  std::uint8_t value = 0;
  EXPECT_FALSE(model.GetOriginalValue(5, 2, value));
}

TEST(HexEditModel, ChangeListHoldsOneRecordPerCellThatDiffers) {
  THexEditModel model(0, 32, std::vector<std::uint8_t>(32, 0x00));
  EXPECT_TRUE(model.AddChangedCell(1, 1, 0x00));  // same as the file: nothing recorded
  EXPECT_TRUE(model.ChangedCells().empty());

  model.AddChangedCell(3, 2, 0x40);
  model.AddChangedCell(1, 1, 0x41);
  model.AddChangedCell(3, 2, 0x41);  // overwritten in place, keeps its place
  model.AddChangedCell(3, 2, 0x42);
  EXPECT_EQ(model.ChangedCells(), (std::vector<TChangedCell>{{3, 2, 0x42}, {1, 1, 0x41}}));
  EXPECT_TRUE(model.IsChanged(3, 2));
  EXPECT_EQ(model.CellText(3, 2), "42");
  EXPECT_EQ(model.RowText(2).substr(0, 3), "..B");
  EXPECT_EQ(model.GetChangedCellIndex(1, 1), 1);

  // Back to the byte in the file: the record goes, the cell is no longer marked.
  model.AddChangedCell(3, 2, 0x00);
  EXPECT_EQ(model.ChangedCells(), (std::vector<TChangedCell>{{1, 1, 0x41}}));
  EXPECT_FALSE(model.IsChanged(3, 2));
  EXPECT_EQ(model.GetChangedCellIndex(3, 2), -1);
  std::uint8_t original = 0xFF;
  EXPECT_TRUE(model.GetOriginalValue(1, 1, original));
  EXPECT_EQ(original, 0x00);  // the bytes read stay as read
}

// Only two hexadecimal digits make a byte: nothing is made up from a mistyped key.
TEST(HexEditText, OnlyTwoHexDigitsStandForAByte) {
  EXPECT_EQ(ParseHexByte("41"), 0x41);
  EXPECT_EQ(ParseHexByte("a1"), 0xA1);
  EXPECT_EQ(ParseHexByte("fF"), 0xFF);
  EXPECT_EQ(ParseHexByte("00"), 0x00);
  for (const char* text : {"ZZ", "q", "G1", "5G", "4 ", " 7", "  ", "", "4", "123", "0x", "-1", "g0"})
    EXPECT_FALSE(ParseHexByte(text).has_value()) << text;
}

TEST(HexEditModel, CellTextThatIsNoByteChangesNothing) {
  THexEditModel model(0, 16, std::vector<std::uint8_t>(16, 0xA6));
  for (const char* text : {"ZZ", "q", "G1", "4 ", "", "A6A"}) {
    EXPECT_FALSE(model.SetCellText(1, 1, text)) << text;
    EXPECT_EQ(model.CurrentValue(1, 1), 0xA6) << text;
  }
  EXPECT_TRUE(model.ChangedCells().empty());
  EXPECT_TRUE(model.SetCellText(2, 1, "0c"));
  EXPECT_EQ(model.ChangedCells(), (std::vector<TChangedCell>{{2, 1, 0x0C}}));
  EXPECT_FALSE(model.SetCellText(2, 2, "11"));  // no byte there
}
