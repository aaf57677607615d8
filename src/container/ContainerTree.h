#pragma once
#include <cstdint>

#include "container/ByteSource.h"
#include "support/TreeSink.h"

namespace varlow {

// Adds a top-level "Container" node for the video unit whose start code's first byte lies at
// file offset `unitOffset`: for a transport stream the packets holding the start code and the
// PES header of the PES packet the unit begins in; for a program stream the pack header, the
// system header (when the pack has one) and that PES header. Every element is a
// "name = value (N bits)" node whose bit position counts from the start of the structure it
// belongs to (the transport packet, the pack header, the system header or the PES header),
// since none of them lies in the unit's video bytes. Where the file breaks the container's
// rules a damage node says what is wrong. Adds nothing for a plain elementary stream. Reads
// are bounded, so any file, however damaged, gives a tree in bounded time.
void BuildContainerTree(const TByteSource& source, std::int64_t unitOffset, TTreeSink& sink);

} // namespace varlow
