#pragma once
#include <cstdint>
#include <functional>
#include <span>

#include "container/ContainerLayout.h"
#include "container/PesHeader.h"
#include "support/FileStream.h"

namespace varlow {

// One unit of a program stream file in file order: a pack header, a system header, a PES
// packet (padding, private and program stream map packets included), the program end code, or
// bytes that are none of these (up to the next unit that chains on).
struct TPsUnit {
  enum class TKind { Damaged, Pack, SystemHeader, Pes, End };
  TKind Kind = TKind::Damaged;
  std::int64_t Offset = 0;
  std::span<const std::uint8_t> Bytes;    // the whole unit
  std::uint8_t StreamId = 0;              // PES packets
  bool Video = false;                     // a PES packet of the chosen video stream with a header that reads
  TPesHeader Pes;                         // its header
  std::span<const std::uint8_t> Payload;  // its video bytes
};

// Walks every unit of the program stream in `file`, in file order. `visit` returning false
// stops the walk.
void WalkProgram(const TFileStream& file, const TContainerLayout& layout,
                 const std::function<bool(const TPsUnit&)>& visit);

} // namespace varlow
