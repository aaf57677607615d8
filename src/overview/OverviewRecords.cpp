#include "overview/OverviewRecords.h"

#include <algorithm>

#include "syntax/CodeTables.h"

namespace varlow {

bool TSequenceInfo::SameParameters(const TSequenceInfo& o) const {
  return Width == o.Width && Height == o.Height && AspectRatioInformation == o.AspectRatioInformation &&
         FrameRateCode == o.FrameRateCode && FrameRateExtensionN == o.FrameRateExtensionN &&
         FrameRateExtensionD == o.FrameRateExtensionD && BitRateValue == o.BitRateValue &&
         VbvBufferSizeValue == o.VbvBufferSizeValue && ProfileAndLevel == o.ProfileAndLevel &&
         ChromaFormat == o.ChromaFormat && Mpeg2 == o.Mpeg2 && ProgressiveSequence == o.ProgressiveSequence &&
         LowDelay == o.LowDelay && ConstrainedParameters == o.ConstrainedParameters;
}

double TSequenceInfo::FrameRate() const {
  // frame_rate = frame_rate_value * (frame_rate_extension_n + 1) / (frame_rate_extension_d + 1)
  return FrameRateFromCode(FrameRateCode) * (FrameRateExtensionN + 1.0) / (FrameRateExtensionD + 1.0);
}

std::uint32_t TOverviewData::GroupPictureCount(std::size_t g) const {
  if (g >= Groups.size()) return 0;
  const std::uint32_t end =
      g + 1 < Groups.size() ? Groups[g + 1].FirstPicture : static_cast<std::uint32_t>(Pictures.size());
  return end > Groups[g].FirstPicture ? end - Groups[g].FirstPicture : 0;
}

std::uint32_t TOverviewData::GroupOf(std::size_t i) const {
  const auto after = std::upper_bound(Groups.begin(), Groups.end(), i,
                                      [](std::size_t picture, const TGroupRecord& g) { return picture < g.FirstPicture; });
  return after == Groups.begin() ? kNoIndex : static_cast<std::uint32_t>(after - Groups.begin() - 1);
}

std::int64_t TOverviewData::UnitBytes(std::size_t i) const {
  if (i >= Pictures.size()) return 0;
  // The headers in front of the first picture go with it, so the units add up to the stream.
  const TPictureRecord& picture = Pictures[i];
  const std::int64_t at = PicturePos(i);
  std::int64_t begin = at;
  if (i == 0 && Report.FirstStartCodePos >= 0 && Report.FirstStartCodePos < begin) begin = Report.FirstStartCodePos;
  std::int64_t end = i + 1 < Pictures.size() ? PicturePos(i + 1) : Report.VideoBytes;
  if (end < at + picture.Size()) end = at + picture.Size();
  return end - begin;
}

const TSequenceInfo* TOverviewData::SequenceOf(std::size_t i) const {
  if (Sequences.empty()) return nullptr;
  if (Sequences.size() == 1 || i >= Pictures.size()) return &Sequences.front();
  const std::int64_t offset = Pictures[i].Offset();
  const auto after = std::upper_bound(Sequences.begin(), Sequences.end(), offset,
                                      [](std::int64_t o, const TSequenceInfo& s) { return o < s.Offset; });
  return after == Sequences.begin() ? &Sequences.front() : &*(after - 1);
}

} // namespace varlow
