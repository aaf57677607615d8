#include "overview/PictureTiming.h"

namespace varlow {

double FramePeriods(const TPictureRecord& picture) {
  if (!picture.Has(TPictureRecord::kHasCodingExtension)) return 1.0;
  if (picture.IsField()) return 0.5;
  const bool repeat = picture.Has(TPictureRecord::kRepeatFirstField);
  if (picture.Has(TPictureRecord::kProgressiveSequence)) {
    if (!repeat) return 1.0;
    return picture.Has(TPictureRecord::kTopFieldFirst) ? 3.0 : 2.0;
  }
  return repeat ? 1.5 : 1.0;
}

double PictureSeconds(const TOverviewData& data, std::size_t i) {
  const TSequenceInfo* sequence = data.SequenceOf(i);
  const double rate = sequence ? sequence->FrameRate() : 0.0;
  return rate > 0 ? FramePeriods(data.Pictures[i]) / rate : 0.0;
}

std::vector<float> SlidingSecondBitRates(const TOverviewData& data) {
  std::vector<float> rates(data.Pictures.size(), 0.0f);
  ForEachSecondWindow(data, [&rates](std::size_t i, double bits) { rates[i] = static_cast<float>(bits); });
  return rates;
}

} // namespace varlow
