#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "overview/OverviewRecords.h"

namespace varlow {

// One line per picture for spreadsheets and scripts, handed to `out` line by line (with its
// line end) so that a long stream is never held as one text. Plain lines are tab-separated
// "offset size type temporal_reference group"; CSV has a header line and the flags as well.
// Offsets are decimal; the group is empty for pictures before the first group header.
void WritePictureLines(const TOverviewData& data, bool csv, const std::function<void(std::string_view)>& out);

} // namespace varlow
