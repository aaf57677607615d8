#pragma once
#include <string>
#include <utility>
#include <vector>

#include "overview/OverviewRecords.h"
#include "overview/OverviewStatistics.h"

namespace varlow {

// The statistics as one JSON object (hand-written, keys in a fixed order, one line per key),
// with the scan's issues. Sizes and bit rates are whole numbers; durations and rates of
// frames are decimals.
std::string StatisticsToJson(const TOverviewStatistics& s, const TScanReport& report);

// The statistics as label/value rows, for the window's statistics tab and the text output of
// `varlow-cli stats`.
std::vector<std::pair<std::string, std::string>> StatisticsRows(const TOverviewStatistics& s);

// The rows as "label: value" lines, labels padded to one width.
std::string StatisticsToText(const TOverviewStatistics& s, const TScanReport& report);

} // namespace varlow
