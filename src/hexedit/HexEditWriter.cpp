#include "hexedit/HexEditWriter.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "support/Format.h"

namespace varlow {

namespace {

std::string OffsetText(std::int64_t position) { return "$" + HexUpper(static_cast<std::uint64_t>(position), 8); }

// The file's bytes from `first` on, `count` of them; fewer when the file is shorter.
std::vector<std::uint8_t> ReadRegion(const TFileStream& stream, std::int64_t first, std::int64_t count) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  bytes.resize(static_cast<std::size_t>(stream.ReadAt(first, bytes)));
  return bytes;
}

// Refuses a save that would grow the file (a byte past its end would leave a hole of zeros
// before it); fills result.FileSize. False when refused.
template <class PositionOf, class Edit>
bool FitsInFile(const TFileStream& stream, std::span<const Edit> edits, PositionOf positionOf, TSaveResult& result) {
  std::int64_t last = -1;
  for (const Edit& edit : edits) last = std::max(last, positionOf(edit));
  result.FileSize = stream.Size();
  if (last >= 0 && (result.FileSize < 0 || last >= result.FileSize)) {
    result.Status = TSaveStatus::FileShrank;
    result.Position = last;
    return false;
  }
  return true;
}

// Writes each edit's value at its position, in list order, then flushes.
template <class PositionOf, class Edit>
void WriteEdits(TFileStream& stream, std::span<const Edit> edits, PositionOf positionOf, TSaveResult& result) {
  for (const Edit& edit : edits) {
    const std::int64_t position = positionOf(edit);
    try {
      stream.WriteAt(position, {&edit.Value, 1});
    } catch (const std::exception& e) {
      result.Status = TSaveStatus::WriteFailed;
      result.Position = position;
      result.Error = e.what();
      try {
        stream.Flush();  // what was written before stays, so make it certain
      } catch (const std::exception&) {
      }
      return;
    }
    ++result.Written;
  }

  try {
    stream.Flush();
  } catch (const std::exception& e) {
    result.Status = TSaveStatus::FlushFailed;
    result.Error = e.what();
  }
}

TSaveResult WriteScattered(TFileStream& stream, std::span<const TFileByteEdit> edits) {
  TSaveResult result;
  result.Total = static_cast<std::int32_t>(edits.size());
  if (!stream.Writable()) {
    result.Status = TSaveStatus::ReadOnly;
    return result;
  }
  auto positionOf = [](const TFileByteEdit& edit) { return edit.Position; };
  if (!FitsInFile(stream, edits, positionOf, result) || edits.empty()) return result;

  const auto [low, high] = std::minmax_element(edits.begin(), edits.end(),
                                               [](const TFileByteEdit& a, const TFileByteEdit& b) { return a.Position < b.Position; });
  const std::int64_t first = low->Position;
  const std::int64_t count = high->Position - first + 1;
  std::vector<std::uint8_t> expected = ReadRegion(stream, first, count);
  if (static_cast<std::int64_t>(expected.size()) < count) {
    result.Status = TSaveStatus::FileShrank;
    result.Position = high->Position;
    result.FileSize = first + static_cast<std::int64_t>(expected.size());
    return result;
  }
  for (const TFileByteEdit& edit : edits) {
    std::uint8_t& byte = expected[static_cast<std::size_t>(edit.Position - first)];
    if (byte != edit.Original) {
      result.Status = TSaveStatus::FileChanged;
      result.Position = edit.Position;
      return result;
    }
  }
  for (const TFileByteEdit& edit : edits) expected[static_cast<std::size_t>(edit.Position - first)] = edit.Value;

  WriteEdits(stream, edits, positionOf, result);
  if (!result.Saved()) return result;

  const std::vector<std::uint8_t> onDisk = ReadRegion(stream, first, count);
  const auto differs = std::mismatch(onDisk.begin(), onDisk.end(), expected.begin(), expected.end());
  if (differs.first != onDisk.end() || onDisk.size() != expected.size()) {
    result.Status = TSaveStatus::VerifyFailed;
    result.Position = first + (differs.first - onDisk.begin());
  }
  return result;
}

} // namespace

TSaveResult WriteChangedCells(TFileStream& stream, std::int64_t offset, std::span<const TChangedCell> cells) {
  TSaveResult result;
  result.Total = static_cast<std::int32_t>(cells.size());
  if (!stream.Writable()) {
    result.Status = TSaveStatus::ReadOnly;
    return result;
  }
  auto positionOf = [offset](const TChangedCell& cell) { return CellPosition(offset, cell.Col, cell.Row); };
  if (!FitsInFile(stream, cells, positionOf, result)) return result;
  WriteEdits(stream, cells, positionOf, result);
  return result;
}

TSaveResult WriteChangedCells(TFileStream& stream, const THexEditModel& model) {
  if (!model.Scattered()) return WriteChangedCells(stream, model.Offset(), model.ChangedCells());
  const std::vector<TFileByteEdit> edits = model.ChangedBytes();
  return WriteScattered(stream, edits);
}

std::string SaveResultText(const TSaveResult& result) {
  switch (result.Status) {
  case TSaveStatus::Saved:
    return {};
  case TSaveStatus::ReadOnly:
    return "The file is open read-only: the changes cannot be saved.";
  case TSaveStatus::FileShrank:
    if (result.FileSize < 0) return "The size of the file cannot be read. Nothing was saved.";
    return "The file is shorter than when the window opened: it now ends at " + OffsetText(result.FileSize) +
           ", before the changed byte at " + OffsetText(result.Position) + ". Nothing was saved.";
  case TSaveStatus::WriteFailed:
    return "Saving failed at the byte at " + OffsetText(result.Position) + " (" + result.Error + "). " +
           std::to_string(result.Written) + " of " + std::to_string(result.Total) +
           " changed bytes were written before it; the others were not.";
  case TSaveStatus::FileChanged:
    return "The file has changed since the window opened: the byte at " + OffsetText(result.Position) +
           " no longer holds what was read there. Nothing was saved.";
  case TSaveStatus::VerifyFailed:
    return "The changed bytes were written, but reading the file back found the byte at " +
           OffsetText(result.Position) + " not as meant. The file may be damaged there.";
  case TSaveStatus::FlushFailed:
    return "The changed bytes were written, but flushing them to the file failed (" + result.Error +
           "). The file may not hold them.";
  }
  return {};
}

} // namespace varlow
