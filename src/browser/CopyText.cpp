#include "browser/CopyText.h"

#include <algorithm>
#include <cctype>

#include "browser/DumpWindow.h"
#include "support/Format.h"

namespace varlow {

namespace {

constexpr std::size_t kDumpTextColumn = 60;  // where a dump line's characters begin at the least

// The width at the end of a node text: " (N bits)", " (N bit)" or " x (1 bit)"; 0 when none.
std::size_t WidthSuffixLength(std::string_view text) {
  if (text.empty() || text.back() != ')') return 0;
  const std::size_t open = text.rfind(" (");
  if (open == std::string_view::npos) return 0;
  std::string_view inside = text.substr(open + 2, text.size() - open - 3);
  std::size_t digits = 0;
  while (digits < inside.size() && std::isdigit(static_cast<unsigned char>(inside[digits]))) ++digits;
  if (digits == 0) return 0;
  inside.remove_prefix(digits);
  if (inside != " bit" && inside != " bits") return 0;
  std::size_t length = text.size() - open;
  if (text.substr(0, open).ends_with(" x")) length += 2;  // "extra_bit_picture - 2 x (1 bit)"
  return length;
}

// The layout of one dump line: where its hex pairs and its characters begin and how many bytes
// it shows (0 for a "..." line).
struct TDumpLine {
  std::size_t Pairs = 0;
  std::size_t Text = 0;
  std::int32_t Count = 0;
};

TDumpLine DumpLineLayout(std::string_view line) {
  TDumpLine layout;
  const std::size_t gap = line.find("   ");
  if (gap == std::string_view::npos) return layout;
  layout.Pairs = gap + 3;
  auto isHex = [&](std::size_t at) { return at < line.size() && std::isxdigit(static_cast<unsigned char>(line[at])); };
  while (layout.Count < kDumpBytesPerLine) {
    const std::size_t at = layout.Pairs + 3 * static_cast<std::size_t>(layout.Count);
    if (!isHex(at) || !isHex(at + 1) || (at + 2 < line.size() && line[at + 2] != ' ')) break;
    ++layout.Count;
  }
  layout.Text = std::max(kDumpTextColumn, layout.Pairs + 3 * static_cast<std::size_t>(layout.Count));
  return layout;
}

}  // namespace

std::string NodeValueText(std::string_view nodeText) {
  const std::size_t equals = nodeText.find(" = ");
  if (equals == std::string_view::npos) return {};
  const std::string_view withoutWidth = nodeText.substr(0, nodeText.size() - WidthSuffixLength(nodeText));
  std::string_view value = withoutWidth.substr(equals + 3);
  // Several elements on one node: the value is all of them.
  if (value.find(" = ") != std::string_view::npos) value = withoutWidth;
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  return std::string(value);
}

std::string IndentedText(std::span<const TIndentedLine> lines) {
  std::string out;
  for (const TIndentedLine& line : lines) {
    out.append(static_cast<std::size_t>(2 * std::max(0, line.Depth)), ' ');
    out += line.Text;
    out += '\n';
  }
  return out;
}

std::string HexBytesText(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    out += HexUpper(bytes[i], 2);
  }
  return out;
}

std::string PrintableBytesText(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const std::uint8_t b : bytes) out += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
  return out;
}

std::string TabSeparatedRows(std::span<const std::vector<std::string>> rows) {
  std::string out;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out += '\t';
      out += row[i];
    }
    out += '\n';
  }
  return out;
}

std::optional<std::pair<std::int32_t, std::int32_t>> DumpSelectionBytes(std::span<const std::string> lines,
                                                                        std::int32_t windowStart, TDumpPlace from,
                                                                        TDumpPlace to) {
  if (lines.empty() || from.Line < 0) return std::nullopt;
  const auto lastLine = static_cast<std::int32_t>(lines.size()) - 1;
  to.Line = std::min(to.Line, lastLine);
  if (from.Line > to.Line) return std::nullopt;
  // The side the selection starts on, hex pairs or characters, is the one it selects: the
  // other side of its lines holds the same bytes again, at other columns.
  const std::string& firstLine = lines[static_cast<std::size_t>(from.Line)];
  const TDumpLine firstLayout = DumpLineLayout(firstLine);
  const bool characters = firstLayout.Count > 0 && static_cast<std::size_t>(from.Column) >= firstLayout.Text;

  std::int32_t first = -1;
  std::int32_t last = -1;
  const std::int32_t lead = windowStart > 0 ? 1 : 0;  // the "..." line above the window
  for (std::int32_t l = from.Line; l <= to.Line; ++l) {
    const std::string& line = lines[static_cast<std::size_t>(l)];
    const TDumpLine layout = DumpLineLayout(line);
    if (layout.Count == 0) continue;
    const std::size_t begin = l == from.Line ? static_cast<std::size_t>(std::max(0, from.Column)) : 0;
    const std::size_t end =
        l == to.Line ? std::min(line.size(), static_cast<std::size_t>(std::max(0, to.Column))) : line.size();
    if (begin >= end) continue;
    // The cells of the chosen side that lie in [begin, end): a pair with the space after it is
    // one cell.
    const std::size_t cellStart = characters ? layout.Text : layout.Pairs;
    const std::size_t cellWidth = characters ? 1 : 3;
    const std::size_t cellsEnd = cellStart + cellWidth * static_cast<std::size_t>(layout.Count);
    const std::size_t lo = std::max(begin, cellStart);
    const std::size_t hi = std::min(end, cellsEnd);
    if (lo >= hi) continue;
    const auto firstCell = static_cast<std::int32_t>((lo - cellStart) / cellWidth);
    const auto lastCell = static_cast<std::int32_t>((hi - 1 - cellStart) / cellWidth);
    const std::int32_t lineStart = windowStart + (l - lead) * kDumpBytesPerLine;
    if (first < 0) first = lineStart + firstCell;
    last = lineStart + lastCell;
  }
  if (first < 0) return std::nullopt;
  return std::make_pair(first, last);
}

}  // namespace varlow
