#pragma once
#include <cstdint>
#include <vector>

#include "picture/StreamUnits.h"

namespace varlow {

// Where decoding must begin so that the picture at unit `target` shows with its references.
struct TDecodePlan {
  enum class TOutcome {
    Ready,             // decode units [First, ...] and the target comes out right
    ReferenceMissing,  // a reference lies before the file or past a broken link
    NeedMoreBefore,    // the units given do not reach back far enough
  };
  TOutcome Outcome = TOutcome::NeedMoreBefore;
  std::int64_t First = -1;        // first unit to feed (group and sequence headers included)
  std::int64_t Sequence = -1;     // the sequence header in force, when it is not among the fed units
  std::int64_t FrameFirst = -1;   // the target's frame: its first field (or the frame picture)
};

// A P picture needs the anchor (I or P) before it, a B picture the two before it (one when its
// group is closed and it precedes the group's first P), and decoding starts at the last I
// picture at or before the oldest anchor needed. Coding order, not display order, decides.
TDecodePlan PlanDecode(const std::vector<TStreamUnit>& units, std::int64_t target, bool unitsReachFileStart);

} // namespace varlow
