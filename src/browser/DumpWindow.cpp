#include "browser/DumpWindow.h"

#include <algorithm>

#include "browser/PackDetails.h"
#include "container/ByteSource.h"

namespace varlow {

namespace {

constexpr std::int32_t kContextLines = 4;  // lines shown above a selection the window moved to

std::int32_t WindowEnd(std::int32_t windowStart, std::int32_t length) {
  return std::min(length, windowStart + kHexDumpLimit);
}

}  // namespace

std::vector<std::string> DumpWindowLines(const std::uint8_t* pack, std::int32_t length, std::int64_t packOffset,
                                         std::int32_t windowStart) {
  std::vector<std::string> lines;
  if (pack == nullptr || length <= 0) return lines;
  windowStart = std::clamp(windowStart - windowStart % kDumpBytesPerLine, 0, length - 1);
  if (windowStart > 0) lines.emplace_back("...");
  const std::int32_t end = WindowEnd(windowStart, length);
  MemToStrLines2(pack + windowStart, end - windowStart, &lines, packOffset + windowStart);
  if (end < length) lines.emplace_back("...");
  return lines;
}

std::vector<std::string> DumpWindowLines(const std::uint8_t* pack, std::int32_t length, const TSourcePlaces& places,
                                         std::int32_t windowStart) {
  std::vector<std::string> lines;
  if (pack == nullptr || length <= 0) return lines;
  windowStart = std::clamp(windowStart - windowStart % kDumpBytesPerLine, 0, length - 1);
  if (windowStart > 0) lines.emplace_back("...");
  const std::int32_t end = WindowEnd(windowStart, length);
  // Line by line: a line that crosses a packet still shows its bytes together, under the
  // offset of its first.
  for (std::int32_t i = windowStart; i < end; i += kDumpBytesPerLine)
    MemToStrLines2(pack + i, std::min(kDumpBytesPerLine, end - i), &lines, places.OffsetOf(static_cast<std::size_t>(i)));
  if (end < length) lines.emplace_back("...");
  return lines;
}

std::int32_t DumpWindowFor(std::int32_t firstByte, std::int32_t lastByte, std::int32_t length,
                           std::int32_t current) {
  if (length <= kHexDumpLimit || firstByte < 0) return 0;
  firstByte = std::min(firstByte, length - 1);
  lastByte = std::clamp(lastByte, firstByte, length - 1);
  // As much of the range as fits, from its first byte.
  const std::int32_t lastShown = std::min(lastByte, firstByte + kHexDumpLimit - kContextLines * kDumpBytesPerLine - 1);
  auto shows = [&](std::int32_t start) { return firstByte >= start && lastShown < WindowEnd(start, length); };
  if (shows(current)) return current;
  if (shows(0)) return 0;
  const std::int32_t line = firstByte / kDumpBytesPerLine * kDumpBytesPerLine;
  // Near the end of the pack the window still holds 1,600 bytes: it ends with the pack.
  const std::int32_t lastStart = (length - kHexDumpLimit + kDumpBytesPerLine - 1) / kDumpBytesPerLine * kDumpBytesPerLine;
  return std::clamp(line - kContextLines * kDumpBytesPerLine, 0, lastStart);
}

std::int32_t DumpLineOfByte(std::int32_t byte, std::int32_t windowStart) {
  return (byte - windowStart) / kDumpBytesPerLine + (windowStart > 0 ? 1 : 0);
}

}  // namespace varlow
