#include "buffer/VbvRecords.h"

#include <algorithm>

#include "overview/PictureTiming.h"

namespace varlow {

TVbvMode VbvModeOf(const TOverviewData& data) {
  const bool given = std::any_of(data.VbvDelays.begin(), data.VbvDelays.end(),
                                 [](std::uint16_t delay) { return delay != kVbvDelayVariable; });
  return given ? TVbvMode::Constant : TVbvMode::Variable;
}

std::int64_t TVbvPictures::UnitBegin(std::size_t i) const {
  if (i == 0) {
    const std::int64_t first = FData.Report.FirstStartCodePos;
    return first >= 0 ? std::min(first, FData.PicturePos(0)) : FData.PicturePos(0);
  }
  // Where the picture before it ends: what lies between is the headers in front of this one.
  return std::min(FData.PicturePos(i - 1) + FData.Pictures[i - 1].Size(), FData.PicturePos(i));
}

std::int64_t TVbvPictures::UnitEnd(std::size_t i) const {
  const std::int64_t packEnd = FData.PicturePos(i) + FData.Pictures[i].Size();
  if (i + 1 < FData.Pictures.size()) return std::min(packEnd, FData.PicturePos(i + 1));
  return std::max(packEnd, FData.Report.VideoBytes);
}

std::int64_t TVbvPictures::TotalBits() const {
  if (FData.Pictures.empty()) return 0;
  return 8 * (UnitEnd(FData.Pictures.size() - 1) - UnitBegin(0));
}

TVbvPicture TVbvPictures::At(std::size_t i) {
  const TPictureRecord& record = FData.Pictures[i];
  TVbvPicture p;
  const std::int64_t begin = UnitBegin(i);
  p.UnitBits = 8 * std::max<std::int64_t>(UnitEnd(i) - begin, 0);
  p.StartCodeEndBits = 8 * (FData.PicturePos(i) + 4 - begin);
  p.VbvDelay = FData.VbvDelay(i);
  p.CodingType = record.CodingType();
  p.FieldPicture = record.IsField();
  p.FramePeriods = FramePeriods(record);
  // The last parameter set at or before the picture (the first for pictures before any).
  const auto& sequences = FData.Sequences;
  if (sequences.empty()) return p;
  if (!FStarted || (FSequence > 0 && sequences[FSequence].Offset > record.Offset())) FSequence = 0;
  FStarted = true;
  while (FSequence + 1 < sequences.size() && sequences[FSequence + 1].Offset <= record.Offset()) ++FSequence;
  const TSequenceInfo& sequence = sequences[FSequence];
  p.BitRate = sequence.DeclaredBitRate();
  p.BufferBits = sequence.VbvBufferBits();
  p.FrameRate = sequence.FrameRate();
  p.LowDelay = sequence.LowDelay;
  return p;
}

TVbvSummary ComputeVbv(const TOverviewData& data) {
  TVbvPictures pictures(data);
  TVbvModel model(VbvModeOf(data), pictures.TotalBits());
  for (std::size_t i = 0; i < pictures.Count(); ++i) model.Add(pictures.At(i));
  return model.Summary();
}

}  // namespace varlow
