#pragma once
#include <cstdint>
#include <vector>

#include "picture/StreamUnits.h"
#include "container/ByteSource.h"

namespace varlow {

// The stream's units around one position: the video bytes of the `back` file bytes before it and
// the `forward` file bytes from it, read in one piece and scanned. Units are in stream order,
// each at the file offset of its start code, with its length in video bytes; their bytes stay
// readable here.
class TUnitWindow {
public:
  TUnitWindow(const TByteSource& stream, std::int64_t position, std::int64_t back, std::int64_t forward);

  const std::vector<TStreamUnit>& Units() const { return FUnits; }
  std::int64_t Start() const { return FStart; }
  bool ReachesFileStart() const { return FStart == 0; }
  bool ReachesFileEnd() const { return FAtEnd; }
  // Index of the unit that starts at `offset`, or -1.
  std::int64_t IndexAt(std::int64_t offset) const;
  // Index of the last sequence header before unit `index`, or -1.
  std::int64_t SequenceHeaderBefore(std::int64_t index) const;
  // The bytes of unit `index` (no reader padding: copy them before parsing bit by bit).
  std::span<const std::uint8_t> Bytes(std::int64_t index) const;
  // The bytes from the start of unit `first` to the end of unit `last`.
  std::span<const std::uint8_t> Bytes(std::int64_t first, std::int64_t last) const;

private:
  std::int64_t FStart = 0;
  bool FAtEnd = true;
  std::vector<std::uint8_t> FBytes;
  std::vector<TStreamUnit> FUnits;
  std::vector<std::size_t> FStarts;  // where each unit begins in FBytes
};

} // namespace varlow
