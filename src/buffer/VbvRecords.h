#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "buffer/VbvModel.h"
#include "overview/OverviewRecords.h"

namespace varlow {

// The buffer model fed from the overview scan's records: no second walk over the stream.

// Constant rate when any picture gives a vbv_delay, variable when none does.
TVbvMode VbvModeOf(const TOverviewData& data);

// The records' pictures as the model takes them, asked for in rising order. A picture's unit
// runs from the end of the picture before it (so the sequence and group headers in front of it
// are its own) to the end of its pack; the first begins at the stream's first start code and the
// last runs to the end of the data, sequence end code included.
class TVbvPictures {
 public:
  explicit TVbvPictures(const TOverviewData& data) : FData(data) {}
  std::size_t Count() const { return FData.Pictures.size(); }
  TVbvPicture At(std::size_t i);
  // The bits of all units together.
  std::int64_t TotalBits() const;

 private:
  std::int64_t UnitBegin(std::size_t i) const;
  std::int64_t UnitEnd(std::size_t i) const;

  const TOverviewData& FData;
  std::size_t FSequence = 0;
  bool FStarted = false;
};

// The model's figures over all pictures of `data` (ComputeVbvCurve keeps every picture's point).
TVbvSummary ComputeVbv(const TOverviewData& data);

}  // namespace varlow
