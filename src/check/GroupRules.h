#pragma once
#include <vector>

#include "check/StreamCheck.h"
#include "overview/OverviewRecords.h"

namespace varlow {

// temporal_reference within each group of pictures, from the overview scan's records: a frame
// (or the two fields of one) takes each value once, and a group of N frames uses 0 to N-1. The
// last group may be cut short by the file's end, so only repeats count there.
std::vector<TViolation> TemporalReferenceViolations(const TOverviewData& data);

// The stream's first group of pictures, when it is open and its link not marked broken, may not
// have leading B pictures (B pictures after its first I picture in stream order that are shown
// before it): they may be predicted from a picture before the stream. Reported at broken_link.
std::vector<TViolation> LeadingPictureViolations(const TOverviewData& data);

}  // namespace varlow
