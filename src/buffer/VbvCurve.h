#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "buffer/VbvModel.h"
#include "overview/OverviewRecords.h"

namespace varlow {

// What the buffer graph draws: the model's point for every picture and the buffer size in force
// from each picture where it changes.
struct TVbvCurve {
  TVbvSummary Summary;
  std::vector<TVbvPoint> Points;
  std::vector<std::pair<std::uint32_t, std::int64_t>> BufferSizes;  // first picture, buffer bits

  // The buffer size in force at picture i (0 before the first size).
  std::int64_t BufferBitsAt(std::size_t i) const;
};

TVbvCurve ComputeVbvCurve(const TOverviewData& data);

}  // namespace varlow
