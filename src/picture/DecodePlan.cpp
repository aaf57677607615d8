#include "picture/DecodePlan.h"

namespace varlow {

namespace {

bool IsFrameAnchor(const TStreamUnit& u) { return u.IsAnchor() && !u.SecondField; }

} // namespace

TDecodePlan PlanDecode(const std::vector<TStreamUnit>& units, std::int64_t target, bool unitsReachFileStart) {
  TDecodePlan plan;
  auto at = [&](std::int64_t i) -> const TStreamUnit& { return units[static_cast<std::size_t>(i)]; };
  // The frame: a second field starts with the first field before it.
  std::int64_t frame = target;
  if (at(target).SecondField) {
    for (std::int64_t i = target - 1; i >= 0; --i) {
      if (at(i).IsPicture()) { frame = i; break; }
    }
  }
  plan.FrameFirst = frame;
  const TStreamUnit& head = at(frame);
  std::int32_t needed = head.PictureCodingType == 3 ? 2 : head.PictureCodingType == 2 ? 1 : 0;
  const bool isB = head.PictureCodingType == 3;
  auto edge = [&] {
    plan.Outcome = unitsReachFileStart ? TDecodePlan::TOutcome::ReferenceMissing : TDecodePlan::TOutcome::NeedMoreBefore;
    return plan;
  };

  // The oldest anchor needed.
  std::int64_t oldest = frame;
  std::int32_t found = 0;
  bool ownGroupSeen = false;
  for (std::int64_t i = frame - 1; found < needed; --i) {
    if (i < 0) return edge();
    const TStreamUnit& u = at(i);
    if (u.Code == 0xB8 && !ownGroupSeen) {
      ownGroupSeen = true;
      // A closed group's leading B pictures refer only to the group's I picture; a broken
      // link says the pictures before the group are not the ones they were coded against.
      if (isB && u.ClosedGop && found >= 1) break;
      if (u.BrokenLink) {
        plan.Outcome = TDecodePlan::TOutcome::ReferenceMissing;
        return plan;
      }
    }
    if (IsFrameAnchor(u)) {
      ++found;
      oldest = i;
    }
  }
  // Back to an I picture at or before it.
  std::int64_t start = oldest;
  while (!(IsFrameAnchor(at(start)) && at(start).PictureCodingType == 1)) {
    if (--start < 0) return edge();
  }
  // The headers in front of it go along.
  while (start > 0 && !at(start - 1).IsPicture() && at(start - 1).Code != 0xB7) --start;
  plan.First = start;
  if (at(start).Code != 0xB3) {
    std::int64_t s = start - 1;
    while (s >= 0 && at(s).Code != 0xB3) --s;
    if (s < 0 && !unitsReachFileStart) {
      plan.Outcome = TDecodePlan::TOutcome::NeedMoreBefore;
      return plan;
    }
    plan.Sequence = s;
  }
  plan.Outcome = TDecodePlan::TOutcome::Ready;
  return plan;
}

} // namespace varlow
