#include "hexedit/HexEditModel.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "browser/PackDetails.h"
#include "hexedit/HexEditText.h"
#include "support/Format.h"

namespace varlow {

THexEditModel::THexEditModel(std::int64_t offset, std::int64_t length, std::vector<std::uint8_t> read)
    : FOffset(offset), FLength(length), FOriginalData(std::move(read)) {
  if (offset < 0) throw std::invalid_argument("negative offset");
  if (length < 1 || length > kMaxHexEditLength) throw std::invalid_argument("length out of range");
  if (offset > std::numeric_limits<std::int64_t>::max() - length) throw std::invalid_argument("range past 64 bits");
  if (static_cast<std::int64_t>(FOriginalData.size()) > length) FOriginalData.resize(static_cast<std::size_t>(length));
  FCurrent = FOriginalData;
}

THexEditModel::THexEditModel(std::int64_t offset, std::int64_t length, std::vector<std::uint8_t> read,
                             TSourcePlaces places)
    : THexEditModel(offset, length, std::move(read)) {
  if (FOriginalData.size() > places.Count()) {
    FOriginalData.resize(places.Count());
    FCurrent = FOriginalData;
  }
  FPlaces = std::move(places);
  FScattered = true;
}

THexEditModel THexEditModel::Load(const TByteSource& source, std::int64_t offset, std::int64_t length) {
  if (!source.IsContainer()) return Load(source.File(), offset, length);
  if (length < 1 || length > kMaxHexEditLength) throw std::invalid_argument("length out of range");
  if (offset < 0) throw std::invalid_argument("negative offset");
  std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
  TSourcePlaces places;
  data.resize(static_cast<std::size_t>(source.ReadAt(offset, data, &places)));
  return THexEditModel(offset, length, std::move(data), std::move(places));
}

THexEditModel THexEditModel::Load(const TFileStream& stream, std::int64_t offset, std::int64_t length) {
  if (length < 1 || length > kMaxHexEditLength) throw std::invalid_argument("length out of range");
  std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
  data.resize(static_cast<std::size_t>(stream.ReadAt(offset, data)));
  return THexEditModel(offset, length, std::move(data));
}

std::int32_t THexEditModel::RowCount() const {
  return static_cast<std::int32_t>((FLength + kHexBytesPerRow - 1) / kHexBytesPerRow);
}

std::int64_t THexEditModel::Index(std::int32_t col, std::int32_t row) const {
  if (col < 1 || col > kHexBytesPerRow || row < 1 || row > RowCount()) return -1;
  const std::int64_t index = std::int64_t{row - 1} * kHexBytesPerRow + (col - 1);
  return index < BytesRead() ? index : -1;
}

bool THexEditModel::HasByte(std::int32_t col, std::int32_t row) const { return Index(col, row) >= 0; }

std::int64_t THexEditModel::Position(std::int32_t col, std::int32_t row) const {
  if (!FScattered) return CellPosition(FOffset, col, row);
  // Cells past the bytes read have no place of their own: they count on from the last one.
  const std::int64_t index = CellPosition(0, col, row);
  if (index < BytesRead()) return FPlaces.OffsetOf(static_cast<std::size_t>(index));
  return EndPosition() + (index - BytesRead());
}

std::int64_t THexEditModel::EndPosition() const {
  if (!FScattered || FOriginalData.empty()) return FOffset + BytesRead();
  return FPlaces.OffsetOf(FOriginalData.size());
}

std::string THexEditModel::OffsetText(std::int32_t row) const {
  return HexUpper(static_cast<std::uint64_t>(Position(1, row)), 8);
}

std::string THexEditModel::CellText(std::int32_t col, std::int32_t row) const {
  const std::int64_t index = Index(col, row);
  return index < 0 ? std::string() : HexUpper(FCurrent[static_cast<std::size_t>(index)], 2);
}

std::string THexEditModel::RowText(std::int32_t row) const {
  std::string text;
  for (std::int32_t col = 1; col <= kHexBytesPerRow; ++col) {
    const std::int64_t index = Index(col, row);
    if (index >= 0) text += DisplayChar(FCurrent[static_cast<std::size_t>(index)]);
  }
  return text;
}

std::uint8_t THexEditModel::CurrentValue(std::int32_t col, std::int32_t row) const {
  const std::int64_t index = Index(col, row);
  return index < 0 ? 0 : FCurrent[static_cast<std::size_t>(index)];
}

bool THexEditModel::IsChanged(std::int32_t col, std::int32_t row) const {
  const std::int64_t index = Index(col, row);
  return index >= 0 && FCurrent[static_cast<std::size_t>(index)] != FOriginalData[static_cast<std::size_t>(index)];
}

bool THexEditModel::AddChangedCell(std::int32_t col, std::int32_t row, std::uint8_t value) {
  const std::int64_t index = Index(col, row);
  if (index < 0) return false;
  const std::uint8_t unedited = FOriginalData[static_cast<std::size_t>(index)];
  const std::int32_t record = GetChangedCellIndex(col, row);
  if (record >= 0) {
    if (value == unedited)
      FChangedCells.erase(FChangedCells.begin() + record);
    else
      FChangedCells[static_cast<std::size_t>(record)].Value = value;
  } else if (value != unedited) {
    FChangedCells.push_back({col, row, value});
  }
  FCurrent[static_cast<std::size_t>(index)] = value;
  return true;
}

bool THexEditModel::SetCellText(std::int32_t col, std::int32_t row, std::string_view text) {
  const std::optional<std::uint8_t> value = ParseHexByte(text);
  return value && AddChangedCell(col, row, *value);
}

std::int32_t THexEditModel::GetChangedCellIndex(std::int32_t col, std::int32_t row) const {
  const auto found = std::find_if(FChangedCells.begin(), FChangedCells.end(),
                                  [&](const TChangedCell& cell) { return cell.Col == col && cell.Row == row; });
  return found == FChangedCells.end() ? -1 : static_cast<std::int32_t>(found - FChangedCells.begin());
}

std::vector<TFileByteEdit> THexEditModel::ChangedBytes() const {
  std::vector<TFileByteEdit> bytes;
  bytes.reserve(FChangedCells.size());
  for (const TChangedCell& cell : FChangedCells) {
    const auto index = static_cast<std::size_t>(Index(cell.Col, cell.Row));
    bytes.push_back({Position(cell.Col, cell.Row), FOriginalData[index], cell.Value});
  }
  return bytes;
}

bool THexEditModel::GetOriginalValue(std::int32_t col, std::int32_t row, std::uint8_t& value) const {
  const std::int64_t index = Index(col, row);
  if (index < 0) return false;
  value = FOriginalData[static_cast<std::size_t>(index)];
  return true;
}

} // namespace varlow
