#include "hexedit/HexEditWriter.h"

#include <algorithm>
#include <exception>

#include "support/Format.h"

namespace varlow {

namespace {

std::string OffsetText(std::int64_t position) { return "$" + HexUpper(static_cast<std::uint64_t>(position), 8); }

} // namespace

TSaveResult WriteChangedCells(TFileStream& stream, std::int64_t offset, std::span<const TChangedCell> cells) {
  TSaveResult result;
  result.Total = static_cast<std::int32_t>(cells.size());
  if (!stream.Writable()) {
    result.Status = TSaveStatus::ReadOnly;
    return result;
  }

  // Writing past the end would grow the file (with a hole of zeros before the byte): refuse.
  std::int64_t last = -1;
  for (const TChangedCell& cell : cells) last = std::max(last, CellPosition(offset, cell.Col, cell.Row));
  result.FileSize = stream.Size();
  if (last >= 0 && (result.FileSize < 0 || last >= result.FileSize)) {
    result.Status = TSaveStatus::FileShrank;
    result.Position = last;
    return result;
  }

  for (const TChangedCell& cell : cells) {
    const std::int64_t position = CellPosition(offset, cell.Col, cell.Row);
    try {
      stream.WriteAt(position, {&cell.Value, 1});
    } catch (const std::exception& e) {
      result.Status = TSaveStatus::WriteFailed;
      result.Position = position;
      result.Error = e.what();
      try {
        stream.Flush();  // what was written before stays, so make it certain
      } catch (const std::exception&) {
      }
      return result;
    }
    ++result.Written;
  }

  try {
    stream.Flush();
  } catch (const std::exception& e) {
    result.Status = TSaveStatus::FlushFailed;
    result.Error = e.what();
  }
  return result;
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
  case TSaveStatus::FlushFailed:
    return "The changed bytes were written, but flushing them to the file failed (" + result.Error +
           "). The file may not hold them.";
  }
  return {};
}

} // namespace varlow
