#include "container/ProgramWalk.h"

#include "container/ContainerWalker.h"
#include "container/PackHeader.h"

namespace varlow {


void WalkProgram(const TFileStream& file, const TContainerLayout& layout,
                 const std::function<bool(const TPsUnit&)>& visit) {
  const std::int64_t size = file.Size();
  TFileWindow window(file, size, std::size_t{4} << 20);
  const std::uint8_t videoId = layout.Video().StreamId;
  const bool mpeg1 = layout.Format.Mpeg1System;
  TNoElements none;
  const auto chains = [&](std::int64_t at) {
    const std::int64_t length = ProgramUnitLength(window, at);
    return length > 0 && ProgramUnitLength(window, at + length) >= 0;
  };
  for (std::int64_t at = 0; at < size;) {
    TPsUnit unit;
    unit.Offset = at;
    const std::int64_t length = ProgramUnitLength(window, at);
    const auto whole = length > 0 ? window.At(at, static_cast<std::size_t>(length)) : std::span<const std::uint8_t>{};
    if (length <= 0 || whole.size() < static_cast<std::size_t>(length)) {
      // No unit here, or one the file cuts short: the bytes up to the next unit that chains on.
      std::int64_t next = at + 1;
      while (next < size && !chains(next)) ++next;
      unit.Bytes = window.At(at, static_cast<std::size_t>(std::min<std::int64_t>(next - at, 1 << 20)));
      if (unit.Bytes.empty()) return;
      if (!visit(unit)) return;
      at += static_cast<std::int64_t>(unit.Bytes.size());
      continue;
    }
    unit.Bytes = whole;
    const std::uint8_t code = whole[3];
    if (code == kPackStartCode) {
      unit.Kind = TPsUnit::TKind::Pack;
    } else if (code == kSystemHeaderStartCode) {
      unit.Kind = TPsUnit::TKind::SystemHeader;
    } else if (code == kProgramEndCode) {
      unit.Kind = TPsUnit::TKind::End;
    } else {
      unit.Kind = TPsUnit::TKind::Pes;
      unit.StreamId = code;
      if (code == videoId) {
        unit.Pes = ReadPesHeader(whole, none, mpeg1);
        if (unit.Pes.Ok && unit.Pes.HeaderSize <= length) {
          unit.Video = true;
          unit.Payload = whole.subspan(static_cast<std::size_t>(unit.Pes.HeaderSize));
        }
      }
    }
    if (!visit(unit)) return;
    at += length;
  }
}

} // namespace varlow
