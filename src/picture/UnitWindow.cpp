#include "picture/UnitWindow.h"

#include <algorithm>

namespace varlow {

TUnitWindow::TUnitWindow(const TByteSource& stream, std::int64_t position, std::int64_t back, std::int64_t forward) {
  const std::int64_t size = stream.Size();
  FStart = std::max<std::int64_t>(0, position - back);
  const std::int64_t end = std::min(size, position + forward);
  if (end <= FStart) return;
  FBytes.resize(static_cast<std::size_t>(end - FStart));
  TSourcePlaces places;
  const std::int64_t got = stream.ReadAt(FStart, FBytes, &places, end);
  FBytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, got)));
  FAtEnd = end >= size;
  // Scanned by index in the bytes read, then each unit is placed at its start code's file offset.
  FUnits = ScanStreamUnits(FBytes, 0, FAtEnd);
  FStarts.reserve(FUnits.size());
  for (TStreamUnit& u : FUnits) {
    FStarts.push_back(static_cast<std::size_t>(u.Offset));
    u.Offset = places.OffsetOf(static_cast<std::size_t>(u.Offset));
  }
}

std::int64_t TUnitWindow::IndexAt(std::int64_t offset) const {
  auto it = std::lower_bound(FUnits.begin(), FUnits.end(), offset,
                             [](const TStreamUnit& u, std::int64_t o) { return u.Offset < o; });
  if (it == FUnits.end() || it->Offset != offset) return -1;
  return it - FUnits.begin();
}

std::int64_t TUnitWindow::SequenceHeaderBefore(std::int64_t index) const {
  for (std::int64_t i = index - 1; i >= 0; --i) {
    if (FUnits[static_cast<std::size_t>(i)].Code == 0xB3) return i;
  }
  return -1;
}

std::span<const std::uint8_t> TUnitWindow::Bytes(std::int64_t index) const { return Bytes(index, index); }

std::span<const std::uint8_t> TUnitWindow::Bytes(std::int64_t first, std::int64_t last) const {
  const std::size_t from = FStarts[static_cast<std::size_t>(first)];
  const std::size_t to = FStarts[static_cast<std::size_t>(last)] + static_cast<std::size_t>(FUnits[static_cast<std::size_t>(last)].Length);
  return std::span<const std::uint8_t>(FBytes).subspan(from, to - from);
}

} // namespace varlow
