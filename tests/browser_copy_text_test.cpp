#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "browser/CopyText.h"
#include "browser/DumpWindow.h"

namespace varlow {
namespace {

TEST(CopyText, NodeValues) {
  EXPECT_EQ(NodeValueText("frame_rate_code = 3 (4 bits)"), "3");
  EXPECT_EQ(NodeValueText("marker_bit = 1 (1 bit)"), "1");
  EXPECT_EQ(NodeValueText("sequence_header_code = $000001B3 (32 bits)"), "$000001B3");
  EXPECT_EQ(NodeValueText("frame_rate_extension_n = 0 (2 bit)"), "0");
  // A value with its own parentheses keeps them; only the width goes.
  EXPECT_EQ(NodeValueText("time_code = 4096 (00:00:00:00) (25 bits)"), "4096 (00:00:00:00)");
  EXPECT_EQ(NodeValueText("extra_information_picture = $12, $AB,  (8 bits)"), "$12, $AB,");
  // Several elements on one node: all of them.
  EXPECT_EQ(NodeValueText("Run = 0, Level = -2 (5 bits)"), "Run = 0, Level = -2");
  EXPECT_EQ(NodeValueText("Escape: Run = 2, Level = -7 (24 bits)"), "Escape: Run = 2, Level = -7");
  // Nodes that show no value.
  EXPECT_EQ(NodeValueText("MacroBlock 3"), "");
  EXPECT_EQ(NodeValueText("End Of Block (2 bits)"), "");
  EXPECT_EQ(NodeValueText("extra_bit_picture - 2 x (1 bit)"), "");
  EXPECT_EQ(NodeValueText(""), "");
}

TEST(CopyText, SubtreesBytesAndRows) {
  const std::vector<TIndentedLine> lines = {{0, "Sequence"}, {1, "sequence_header"}, {2, "marker_bit = 1 (1 bit)"}};
  EXPECT_EQ(IndentedText(lines), "Sequence\n  sequence_header\n    marker_bit = 1 (1 bit)\n");
  EXPECT_EQ(IndentedText({}), "");

  const std::vector<std::uint8_t> bytes = {0xA6, 0x01, 0x00, 0x41, 0x7A, 0x7F, 0xFF, 0x20};
  EXPECT_EQ(HexBytesText(bytes), "A6 01 00 41 7A 7F FF 20");
  EXPECT_EQ(HexBytesText({}), "");
  // Only printable ASCII stays: control bytes, DEL and bytes over 0x7F become dots.
  EXPECT_EQ(PrintableBytesText(bytes), "...Az.. ");

  const std::vector<std::vector<std::string>> rows = {{"$00000000", "22", "SEQUENCE_HEADER_CODE", "", ""},
                                                      {"$0000001E", "16835", "PICTURE_START_CODE", "I", "0"}};
  EXPECT_EQ(TabSeparatedRows(rows),
            "$00000000\t22\tSEQUENCE_HEADER_CODE\t\t\n$0000001E\t16835\tPICTURE_START_CODE\tI\t0\n");
}

class DumpSelection : public ::testing::Test {
 protected:
  DumpSelection() : pack(3000) { std::iota(pack.begin(), pack.end(), std::uint8_t{0}); }
  std::vector<std::string> Lines(std::int32_t windowStart) const {
    return DumpWindowLines(pack.data(), static_cast<std::int32_t>(pack.size()), 0x1000, windowStart);
  }
  std::vector<std::uint8_t> pack;
};

// Columns of a line "00001000   00 01 02 ... 0F  <text>": pairs from 11, characters from 60.
constexpr std::int32_t kPairs = 11;
constexpr std::int32_t kText = 60;

TEST_F(DumpSelection, HexPairsAndCharacters) {
  const auto lines = Lines(0);
  using Range = std::pair<std::int32_t, std::int32_t>;
  // Pair 2 to pair 4 of the first line, as a tree node's bytes are selected (end after the
  // last pair's second digit).
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {0, kPairs + 6}, {0, kPairs + 12 + 2}), Range(2, 4));
  // Half a pair counts.
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {1, kPairs + 1}, {1, kPairs + 2}), Range(16, 16));
  // From the middle of line 0's pairs to line 2's third pair: line 0's characters, which
  // stand for bytes before the start, do not count.
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {0, kPairs + 15}, {2, kPairs + 8}), Range(5, 34));
  // Started in the characters: the characters select, and the pairs of the lines below do not
  // count for more.
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {0, kText + 3}, {1, kText + 2}), Range(3, 17));
  // A whole line from its offset on.
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {3, 0}, {4, 0}), Range(48, 63));
  // Only the offset, or nothing at all.
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {3, 0}, {3, 8}), std::nullopt);
  EXPECT_EQ(DumpSelectionBytes(lines, 0, {3, 5}, {3, 5}), std::nullopt);
}

TEST_F(DumpSelection, WindowsAwayFromThePackStartAndTheLastLine) {
  // A window from byte 1,200 has "..." above and below it.
  const auto lines = Lines(1200);
  ASSERT_EQ(lines.front(), "...");
  using Range = std::pair<std::int32_t, std::int32_t>;
  EXPECT_EQ(DumpSelectionBytes(lines, 1200, {0, 0}, {1, kPairs + 2}), Range(1200, 1200));
  EXPECT_EQ(DumpSelectionBytes(lines, 1200, {0, 0}, {0, 3}), std::nullopt);
  // The whole dump: its first byte to the last it shows, whatever the end column says.
  const auto last = static_cast<std::int32_t>(lines.size()) - 1;
  EXPECT_EQ(DumpSelectionBytes(lines, 1200, {0, 0}, {last + 5, 999}), Range(1200, 2799));
  // The pack's last line holds 3000 % 16 = 8 bytes: selecting past them stops at the last.
  const auto tail = Lines(1600);
  const auto tailLast = static_cast<std::int32_t>(tail.size()) - 1;
  ASSERT_NE(tail.back(), "...");
  EXPECT_EQ(DumpSelectionBytes(tail, 1600, {tailLast, kPairs + 18}, {tailLast, 200}), Range(2998, 2999));
}

}  // namespace
}  // namespace varlow
