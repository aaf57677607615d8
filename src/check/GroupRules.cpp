#include "check/GroupRules.h"

#include <map>

#include "support/Format.h"
#include "syntax/PictureCodingTypes.h"

namespace varlow {

namespace {

constexpr std::int64_t kTemporalReferenceBit = 32;  // right after the picture start code
constexpr std::int64_t kBrokenLinkBit = 32 + 25 + 1;  // after the start code, time_code, closed_gop

}  // namespace

std::vector<TViolation> TemporalReferenceViolations(const TOverviewData& data) {
  std::vector<TViolation> out;
  for (std::size_t g = 0; g < data.Groups.size(); ++g) {
    const std::size_t first = data.Groups[g].FirstPicture;
    const std::size_t end = first + data.GroupPictureCount(g);
    const bool last = g + 1 == data.Groups.size();
    // Fields of one value seen so far (a frame counts as both of its fields).
    std::map<std::uint16_t, int> fields;
    std::int64_t frames = 0;
    for (std::size_t i = first; i < end; ++i) {
      const TPictureRecord& p = data.Pictures[i];
      int& seen = fields[p.TemporalReference()];
      const int added = p.IsField() ? 1 : 2;
      if (seen + added > 2)
        out.push_back({p.Offset(), kTemporalReferenceBit, "temporal_reference", p.TemporalReference(),
                       Format("temporal_reference %d repeats within its group", {p.TemporalReference()})});
      if (seen == 0) ++frames;
      seen += added;
    }
    if (last) continue;
    const TSequenceInfo* sequence = first < end ? data.SequenceOf(first) : nullptr;
    if (sequence && sequence->LowDelay) continue;  // skipped pictures leave gaps there
    for (std::size_t i = first; i < end; ++i) {
      const TPictureRecord& p = data.Pictures[i];
      if (p.TemporalReference() >= frames)
        out.push_back({p.Offset(), kTemporalReferenceBit, "temporal_reference", p.TemporalReference(),
                       Format("temporal_reference %d outside 0 to %d of a group of %d frames",
                              {p.TemporalReference(), frames - 1, frames})});
    }
  }
  return out;
}

std::vector<TViolation> LeadingPictureViolations(const TOverviewData& data) {
  if (data.Groups.empty()) return {};
  const TGroupRecord& group = data.Groups.front();
  if (group.ClosedGop || group.BrokenLink) return {};
  const std::size_t first = group.FirstPicture;
  const std::size_t end = first + data.GroupPictureCount(0);
  std::size_t i = first;
  while (i < end && data.Pictures[i].CodingType() != kIntraPicture) ++i;
  if (i >= end) return {};
  const std::uint16_t intra = data.Pictures[i].TemporalReference();
  std::int64_t leading = 0;
  for (++i; i < end && data.Pictures[i].CodingType() == kBidirectionalPicture; ++i)
    if (data.Pictures[i].TemporalReference() < intra) ++leading;
  if (leading == 0) return {};
  return {{group.Offset, kBrokenLinkBit, "broken_link", 0,
           Format("the stream's first group is open and its %d leading B %s may refer to a picture before the "
                  "stream: closed_gop (where they are predicted backward only) or broken_link must be 1",
                  {leading, std::string(leading == 1 ? "picture" : "pictures")})}};
}

}  // namespace varlow
