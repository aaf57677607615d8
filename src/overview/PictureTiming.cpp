#include "overview/PictureTiming.h"

namespace varlow {

double FramePeriods(const TPictureRecord& picture) {
  return PictureFramePeriods(picture.Has(TPictureRecord::kHasCodingExtension), picture.IsField(),
                             picture.Has(TPictureRecord::kRepeatFirstField), picture.Has(TPictureRecord::kTopFieldFirst),
                             picture.Has(TPictureRecord::kProgressiveSequence));
}

double PictureSeconds(const TOverviewData& data, std::size_t i) {
  const TSequenceInfo* sequence = data.SequenceOf(i);
  const double rate = sequence ? sequence->FrameRate() : 0.0;
  return rate > 0 ? FramePeriods(data.Pictures[i]) / rate : 0.0;
}

double TPictureClock::Seconds(std::size_t i) {
  const auto& sequences = FData.Sequences;
  if (sequences.empty() || i >= FData.Pictures.size()) return 0.0;
  const std::int64_t offset = FData.Pictures[i].Offset();
  // The last parameter set at or before the picture; the first for pictures before any.
  bool moved = !FStarted || (FSequence > 0 && sequences[FSequence].Offset > offset);
  if (moved) FSequence = 0;
  while (FSequence + 1 < sequences.size() && sequences[FSequence + 1].Offset <= offset) {
    ++FSequence;
    moved = true;
  }
  if (moved) FRate = sequences[FSequence].FrameRate();
  FStarted = true;
  return FRate > 0 ? FramePeriods(FData.Pictures[i]) / FRate : 0.0;
}

double TSecondWindow::Add(double seconds, std::int64_t unitBytes) {
  constexpr double kEpsilon = 1e-6;  // cumulative sums of periods are not exact
  const double start = FTime;
  FTime += seconds;
  const double bits = 8.0 * static_cast<double>(unitBytes);
  FEntries.push_back({start, bits});
  FBits += bits;
  // A picture that began a whole second or more before this one has left the window.
  while (FEntries.size() > 1 && FEntries.front().Start <= start - 1.0 + kEpsilon) {
    FBits -= FEntries.front().Bits;
    FEntries.pop_front();
  }
  return FBits;
}

std::vector<float> SlidingSecondBitRates(const TOverviewData& data) {
  std::vector<float> rates(data.Pictures.size(), 0.0f);
  ForEachSecondWindow(data, [&rates](std::size_t i, double bits) { rates[i] = static_cast<float>(bits); });
  return rates;
}

} // namespace varlow
