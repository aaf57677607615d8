#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varlow {

// The texts the window's Copy commands put on the clipboard, made from what the views show.

// The value of a node "name = value (N bits)": what follows " = ", without the width in
// parentheses at the end ("4096 (00:00:00:00)" of a time_code line, "$000001B3" of a start
// code). A node that sets several elements at once ("Run = 0, Level = 2 (3 bits)") gives all of
// them without the width. Empty for a node that shows no value ("MacroBlock 3").
std::string NodeValueText(std::string_view nodeText);

// One line of a subtree as it is copied: its depth below the subtree's top node and its text.
struct TIndentedLine {
  int Depth = 0;
  std::string Text;
};

// The lines one under another, each indented by two spaces per depth, each ending in a newline
// (the form of varlow-cli's trees).
std::string IndentedText(std::span<const TIndentedLine> lines);

// Bytes as upper-case hex pairs with a space between: "A6 01 FF".
std::string HexBytesText(std::span<const std::uint8_t> bytes);

// Bytes as text: printable ASCII as it is, every other byte as ".".
std::string PrintableBytesText(std::span<const std::uint8_t> bytes);

// Rows of cells, the cells separated by tabs and each row ending in a newline: what a
// spreadsheet takes from the clipboard as rows and columns.
std::string TabSeparatedRows(std::span<const std::vector<std::string>> rows);

// A place in the hex dump's text: line (in the lines DumpWindowLines gives) and column.
struct TDumpPlace {
  std::int32_t Line = 0;
  std::int32_t Column = 0;
};

// The pack bytes first..last that a selection of the dump's text from `from` up to `to` (not
// included) touches, in the hex pairs or in the characters beside them, for a window starting
// `windowStart` bytes into the pack. Nothing when the selection touches no byte (only offsets,
// spaces or the "..." lines).
std::optional<std::pair<std::int32_t, std::int32_t>> DumpSelectionBytes(std::span<const std::string> lines,
                                                                        std::int32_t windowStart, TDumpPlace from,
                                                                        TDumpPlace to);

}  // namespace varlow
