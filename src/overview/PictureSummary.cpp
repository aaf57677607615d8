#include "overview/PictureSummary.h"

#include <algorithm>

namespace varlow {

TPictureSummary::TEntry TPictureSummary::Merge(const TOverviewData& data, TEntry a, TEntry b) const {
  // `a` holds the earlier pictures: it wins a tie.
  const bool later = data.Pictures[b.Picture].Size() > data.Pictures[a.Picture].Size();
  return {later ? b.Picture : a.Picture, std::max(a.BitRate, b.BitRate)};
}

void TPictureSummary::Add(const TOverviewData& data, std::size_t i, float rate) {
  TEntry entry{static_cast<std::uint32_t>(i), rate};
  for (std::size_t level = 0;; ++level) {
    if (level == FLevels.size()) {
      FLevels.emplace_back();
      FOpen.push_back(entry);
      FOpenCount.push_back(0);
    }
    FOpen[level] = FOpenCount[level] == 0 ? entry : Merge(data, FOpen[level], entry);
    if (++FOpenCount[level] < kFanOut) break;
    // The block is complete: it joins its level and, as one entry, the block above it.
    FLevels[level].push_back(FOpen[level]);
    FOpenCount[level] = 0;
    entry = FLevels[level].back();
  }
  FMaxBytes = std::max(FMaxBytes, data.Pictures[i].Size());
  FMaxRate = std::max(FMaxRate, static_cast<double>(rate));
}

void TPictureSummary::Update(const TOverviewData& data, bool final) {
  const std::size_t count = data.Pictures.size();
  const std::size_t end = final || count == 0 ? count : count - 1;
  if (FCount >= end) return;
  TPictureClock clock(data);
  for (std::size_t i = FCount; i < end; ++i)
    Add(data, i, static_cast<float>(FWindow.Add(clock.Seconds(i), data.UnitBytes(i))));
  FCount = end;
}

TPictureSummary::TPeak TPictureSummary::Peak(const TOverviewData& data, std::size_t from, std::size_t to) const {
  TPeak peak;
  to = std::min(to, data.Pictures.size());
  if (from >= to) return peak;
  std::size_t best = from;
  float rate = 0;
  // The rate of the block of 16 that holds picture i, when it is known.
  auto blockRate = [&](std::size_t i) {
    if (FLevels.empty()) return 0.0f;
    const std::size_t block = i / kFanOut;
    if (block < FLevels[0].size()) return FLevels[0][block].BitRate;
    return i < FCount ? FOpen[0].BitRate : 0.0f;
  };
  for (std::size_t i = from; i < to;) {
    // The largest complete block that begins at i and ends by `to`.
    std::size_t level = FLevels.size();
    std::size_t span = 1;
    for (std::size_t k = 0, size = kFanOut; k < FLevels.size(); ++k, size *= kFanOut) {
      if (i % size != 0 || i + size > to || i / size >= FLevels[k].size()) break;
      level = k;
      span = size;
    }
    if (level < FLevels.size()) {
      const TEntry& entry = FLevels[level][i / span];
      if (data.Pictures[entry.Picture].Size() > data.Pictures[best].Size()) best = entry.Picture;
      rate = std::max(rate, entry.BitRate);
    } else {
      if (data.Pictures[i].Size() > data.Pictures[best].Size()) best = i;
      rate = std::max(rate, blockRate(i));
    }
    i += span;
  }
  peak.Picture = static_cast<std::int64_t>(best);
  peak.Bytes = data.Pictures[best].Size();
  peak.CodingType = data.Pictures[best].CodingType();
  peak.BitRate = rate;
  return peak;
}

std::vector<float> SecondBitRates(const TOverviewData& data, std::size_t from, std::size_t to) {
  to = std::min(to, data.Pictures.size());
  if (from >= to) return {};
  // Back to a picture more than a second before `from`: the windows of pictures [from, to) hold
  // nothing before it. Without a frame rate there is no second to go by: the walk stops after a
  // bounded number of pictures.
  constexpr double kMargin = 1.0 + 1e-3;
  constexpr std::size_t kMaxWalk = 1 << 16;
  std::size_t start = from;
  for (double seconds = 0; start > 0 && seconds <= kMargin && from - start < kMaxWalk;)
    seconds += PictureSeconds(data, --start);
  TPictureClock clock(data);
  TSecondWindow window;
  std::vector<float> rates;
  rates.reserve(to - from);
  for (std::size_t i = start; i < to; ++i) {
    const double bits = window.Add(clock.Seconds(i), data.UnitBytes(i));
    if (i >= from) rates.push_back(static_cast<float>(bits));
  }
  return rates;
}

} // namespace varlow
