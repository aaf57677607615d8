#include "buffer/VbvCurve.h"

#include <algorithm>

#include "buffer/VbvRecords.h"

namespace varlow {

std::int64_t TVbvCurve::BufferBitsAt(std::size_t i) const {
  const auto after = std::upper_bound(BufferSizes.begin(), BufferSizes.end(), i,
                                      [](std::size_t picture, const auto& size) { return picture < size.first; });
  return after == BufferSizes.begin() ? 0 : (after - 1)->second;
}

TVbvCurve ComputeVbvCurve(const TOverviewData& data) {
  TVbvCurve curve;
  TVbvPictures pictures(data);
  TVbvModel model(VbvModeOf(data), pictures.TotalBits());
  curve.Points.reserve(pictures.Count());
  for (std::size_t i = 0; i < pictures.Count(); ++i) {
    const TVbvPicture picture = pictures.At(i);
    if (curve.BufferSizes.empty() || curve.BufferSizes.back().second != picture.BufferBits)
      curve.BufferSizes.emplace_back(static_cast<std::uint32_t>(i), picture.BufferBits);
    curve.Points.push_back(model.Add(picture));
  }
  curve.Summary = model.Summary();
  return curve;
}

}  // namespace varlow
