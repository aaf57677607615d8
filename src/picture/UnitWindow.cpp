#include "picture/UnitWindow.h"

#include <algorithm>

namespace varlow {

TUnitWindow::TUnitWindow(const TFileStream& stream, std::int64_t position, std::int64_t back, std::int64_t forward) {
  const std::int64_t size = stream.Size();
  FStart = std::max<std::int64_t>(0, position - back);
  const std::int64_t end = std::min(size, position + forward);
  if (end <= FStart) return;
  FBytes.resize(static_cast<std::size_t>(end - FStart));
  const std::int64_t got = stream.ReadAt(FStart, FBytes);
  FBytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, got)));
  FAtEnd = FStart + got >= size;
  FUnits = ScanStreamUnits(FBytes, FStart, FAtEnd);
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
  const TStreamUnit& a = FUnits[static_cast<std::size_t>(first)];
  const TStreamUnit& b = FUnits[static_cast<std::size_t>(last)];
  return std::span<const std::uint8_t>(FBytes).subspan(static_cast<std::size_t>(a.Offset - FStart),
                                                       static_cast<std::size_t>(b.End() - a.Offset));
}

} // namespace varlow
