#pragma once
#include <cstdint>

#include "browser/PackIndex.h"
#include "support/TreeSink.h"
#include "syntax/BitStream3.h"

namespace varlow {

// Parses the headers of the pack at `pack` into `rec` and adds the header tree to `sink`: one
// "name = value (N bits)" line per syntax element, each with its bit position from the start of
// the pack and its width. Only the first `shown` bytes are parsed; pack[shown] must be readable,
// since the reader is attached with one byte more than that so that every shown byte can be read.
// rec.StartCode selects the tree (sequence, group or picture; a sequence end gets none).
void BuildHeaderTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec,
                     TTreeSink& sink);

} // namespace varlow
