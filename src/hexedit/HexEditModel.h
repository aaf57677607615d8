#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "container/ByteSource.h"
#include "support/FileStream.h"

namespace varlow {

// The hex editor's grid: column 0 holds a row's file offset, columns 1..16 one byte each, column
// 17 the row's display characters; row 0 is a fixed, empty row and rows 1..N hold the data.
inline constexpr std::int32_t kHexBytesPerRow = 16;
inline constexpr std::int32_t kHexTextColumn = kHexBytesPerRow + 1;
// Longest range the editor takes: it keeps two copies of it in memory, and a pack is read
// 2 MiB at most anyway.
inline constexpr std::int64_t kMaxHexEditLength = std::int64_t{64} << 20;

// File position of cell (Col, Row) of a range that starts at `offset`.
constexpr std::int64_t CellPosition(std::int64_t offset, std::int32_t col, std::int32_t row) {
  return offset + std::int64_t{row - 1} * kHexBytesPerRow + (col - 1);
}

// One byte whose value differs from the byte read when the editor opened.
struct TChangedCell {
  std::int32_t Col = 0;  // 1..16
  std::int32_t Row = 0;  // 1..N
  std::uint8_t Value = 0;

  friend bool operator==(const TChangedCell&, const TChangedCell&) = default;
};

// One changed byte as the file sees it: where it sits, what the editor read there and what
// is to be written.
struct TFileByteEdit {
  std::int64_t Position = 0;
  std::uint8_t Original = 0;
  std::uint8_t Value = 0;
};

// The bytes of one range of a file as the editor shows them, and the edits made to them.
// Cell (Col, Row) stands for byte (Row - 1) * 16 + (Col - 1) of the range: in a plain file the
// byte at Offset plus that index; in a container the video byte the range's places put there,
// so that an edit lands on its own file offset and never on a packet header between payloads.
// Only the bytes that could be read are cells; the rest of the range shows as empty cells that
// take no edits.
class THexEditModel {
public:
  // `read` holds the bytes found at `offset`, at most `length` of them. Throws
  // std::invalid_argument for a negative offset, a length outside 1..kMaxHexEditLength or a
  // range that does not fit in 64-bit positions.
  THexEditModel(std::int64_t offset, std::int64_t length, std::vector<std::uint8_t> read);
  // The same for bytes that came from the file offsets `places` names (bytes past
  // places.Count() are dropped).
  THexEditModel(std::int64_t offset, std::int64_t length, std::vector<std::uint8_t> read, TSourcePlaces places);
  // Reads the range from the stream (fewer bytes at the end of the file). Throws on an I/O error.
  static THexEditModel Load(const TFileStream& stream, std::int64_t offset, std::int64_t length);
  // Reads `length` bytes from `offset` through the source: a plain file as above, a container's
  // video bytes with the file offset of each.
  static THexEditModel Load(const TByteSource& source, std::int64_t offset, std::int64_t length);

  std::int64_t Offset() const { return FOffset; }
  std::int64_t Length() const { return FLength; }
  std::int64_t BytesRead() const { return static_cast<std::int64_t>(FOriginalData.size()); }
  std::int32_t RowCount() const;  // data rows N = (Length + 15) div 16
  // Whether the bytes came from scattered file offsets (a container's payloads).
  bool Scattered() const { return FScattered; }
  // File offset just after the last byte read.
  std::int64_t EndPosition() const;

  // Whether (Col, Row) is a byte cell holding a byte that was read.
  bool HasByte(std::int32_t col, std::int32_t row) const;
  std::int64_t Position(std::int32_t col, std::int32_t row) const;  // file position of a cell

  // Texts of the grid: the row's offset ("0001A2F0", at least 8 digits), a byte cell (two
  // upper-case digits of its current value, empty where no byte was read) and the text column
  // (DisplayChar of each current value; bytes >= 0x80 are code page 1251 characters).
  std::string OffsetText(std::int32_t row) const;
  std::string CellText(std::int32_t col, std::int32_t row) const;
  std::string RowText(std::int32_t row) const;

  std::uint8_t CurrentValue(std::int32_t col, std::int32_t row) const;
  bool IsChanged(std::int32_t col, std::int32_t row) const;

  // Records `value` for a cell: a first change appends a record, a further one overwrites it
  // in place, and going back to the unedited byte removes it. False for a cell without a byte.
  bool AddChangedCell(std::int32_t col, std::int32_t row, std::uint8_t value);
  // The same for a cell's text, which must be two hexadecimal digits (ParseHexByte): any other
  // text changes nothing and gives false.
  bool SetCellText(std::int32_t col, std::int32_t row, std::string_view text);
  // Position of the cell's record in ChangedCells(), or -1.
  std::int32_t GetChangedCellIndex(std::int32_t col, std::int32_t row) const;
  // The byte as read when the editor opened; false for a cell without a byte.
  bool GetOriginalValue(std::int32_t col, std::int32_t row, std::uint8_t& value) const;
  // Every changed byte, in the order its cell was first changed.
  const std::vector<TChangedCell>& ChangedCells() const { return FChangedCells; }
  // The same at their file offsets, with the byte each replaces.
  std::vector<TFileByteEdit> ChangedBytes() const;

private:
  std::int64_t Index(std::int32_t col, std::int32_t row) const;  // byte index, -1 when no byte

  std::int64_t FOffset = 0;
  std::int64_t FLength = 0;
  std::vector<std::uint8_t> FOriginalData;  // never modified
  std::vector<std::uint8_t> FCurrent;       // what the cells show, so painting needs no list scan
  std::vector<TChangedCell> FChangedCells;
  TSourcePlaces FPlaces;  // where each byte read lies in the file, when Scattered()
  bool FScattered = false;
};

} // namespace varlow
