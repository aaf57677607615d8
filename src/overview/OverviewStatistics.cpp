#include "overview/OverviewStatistics.h"

#include <algorithm>
#include <map>

#include "buffer/VbvRecords.h"
#include "overview/PictureTiming.h"
#include "support/Format.h"

namespace varlow {

namespace {

void Count(TTypeStatistics& type, const TPictureRecord& picture) {
  ++type.Count;
  const std::int64_t size = picture.Size();
  type.TotalBytes += size;
  if (type.MaxOffset < 0 || size > type.MaxBytes) {
    type.MaxBytes = size;
    type.MaxOffset = picture.Offset();
  }
  if (type.MinOffset < 0 || size < type.MinBytes) {
    type.MinBytes = size;
    type.MinOffset = picture.Offset();
  }
}

TTypeStatistics& TypeOf(TOverviewStatistics& s, std::uint8_t codingType) {
  switch (codingType) {
    case 1: return s.I;
    case 2: return s.P;
    case 3: return s.B;
    case 4: return s.D;
    default: return s.Other;
  }
}

void GroupStatistics(const TOverviewData& data, TOverviewStatistics& s) {
  s.Groups = static_cast<std::int64_t>(data.Groups.size());
  std::map<std::int64_t, std::int64_t> lengths;  // pictures per group -> groups
  std::size_t picture = data.Groups.empty() ? 0 : data.Groups.front().FirstPicture;
  TPictureClock clock(data);
  for (std::size_t g = 0; g < data.Groups.size(); ++g) {
    const TGroupRecord& group = data.Groups[g];
    if (group.ClosedGop) ++s.ClosedGroups;
    else ++s.OpenGroups;
    if (group.BrokenLink) ++s.BrokenLinks;
    const std::int64_t length = data.GroupPictureCount(g);
    ++lengths[length];
    // The group's bytes run from its header to the next group's (or the end of the data).
    const std::int64_t end = g + 1 < data.Groups.size() ? data.GroupPos(g + 1) : data.Report.VideoBytes;
    double seconds = 0;
    for (std::int64_t k = 0; k < length && picture < data.Pictures.size(); ++k, ++picture)
      seconds += clock.Seconds(picture);
    if (seconds > 0) {
      const double rate = 8.0 * static_cast<double>(end - data.GroupPos(g)) / seconds;
      if (rate > s.PeakBitRateGroup) {
        s.PeakBitRateGroup = rate;
        s.PeakGroupOffset = group.Offset;
      }
    }
  }
  if (!lengths.empty()) {
    s.GroupLengthMin = lengths.begin()->first;
    s.GroupLengthMax = lengths.rbegin()->first;
    // The most frequent length; the shorter one on a tie.
    s.GroupLengthMostCommon =
        std::max_element(lengths.begin(), lengths.end(), [](auto& a, auto& b) { return a.second < b.second; })
            ->first;
  }
}

void SequenceStatistics(const TOverviewData& data, TOverviewStatistics& s) {
  s.SequenceHeaders = data.Report.SequenceHeaders;
  if (data.Sequences.empty()) return;
  const TSequenceInfo& q = data.Sequences.front();
  s.ParameterChanges = static_cast<std::int64_t>(data.Sequences.size()) - 1;
  s.HasSequence = true;
  s.Mpeg2 = q.Mpeg2;
  s.DeclaredBitRate = q.DeclaredBitRate();
  s.VariableBitRate = q.VariableBitRate();
  s.VbvBufferBits = q.VbvBufferBits();
  s.Width = q.Width;
  s.Height = q.Height;
  s.AspectRatioInformation = q.AspectRatioInformation;
  s.FrameRate = q.FrameRate();
  s.ChromaFormat = ChromaFormatName(q.ChromaFormat);
  s.ProfileLevel = ProfileLevelName(q);
  s.ProgressiveSequence = q.ProgressiveSequence;
  s.Scan = q.ProgressiveSequence ? "progressive" : "interlaced";
}

const char* StateName(TScanReport::End state) {
  switch (state) {
    case TScanReport::End::Complete: return "complete";
    case TScanReport::End::Cancelled: return "cancelled";
    case TScanReport::End::ReadFailed: return "read failed";
    default: return "running";
  }
}

} // namespace

TOverviewStatistics ComputeStatistics(const TOverviewData& data) {
  TOverviewStatistics s;
  s.Pictures = static_cast<std::int64_t>(data.Pictures.size());
  TPictureClock clock(data);
  for (std::size_t i = 0; i < data.Pictures.size(); ++i) {
    const TPictureRecord& picture = data.Pictures[i];
    Count(TypeOf(s, picture.CodingType()), picture);
    if (picture.IsField()) ++s.FieldPictures;
    if (picture.Has(TPictureRecord::kRepeatFirstField)) ++s.RepeatFirstField;
    if (picture.Has(TPictureRecord::kProgressiveFrame)) ++s.ProgressiveFrames;
    s.Frames += FramePeriods(picture);
    s.Duration += clock.Seconds(i);
  }
  if (data.Report.FirstStartCodePos >= 0) s.StreamBytes = data.Report.VideoBytes - data.Report.FirstStartCodePos;
  if (s.Duration > 0) {
    s.AverageBitRate = 8.0 * static_cast<double>(s.StreamBytes) / s.Duration;
    ForEachSecondWindow(data, [&](std::size_t i, double bits) {
      if (bits > s.PeakBitRateSecond) {
        s.PeakBitRateSecond = bits;
        s.PeakSecondEndsAt = data.Pictures[i].Offset();
      }
    });
  }
  GroupStatistics(data, s);
  SequenceStatistics(data, s);
  s.Vbv = ComputeVbv(data);
  s.DamagedUnits = data.Report.DamagedUnits;
  s.SkippedBytes = data.Report.SkippedBytes;
  s.ScanState = StateName(data.Report.State);
  return s;
}

std::string ProfileLevelName(const TSequenceInfo& sequence) {
  if (!sequence.Mpeg2) return "MPEG-1";
  const std::uint32_t value = sequence.ProfileAndLevel & 0xFF;
  if (value & 0x80) {
    // Escaped combinations: the 4:2:2 and multi-view profiles.
    switch (value) {
      case 0x85: return "422P@ML";
      case 0x82: return "422P@HL";
      case 0x8E: return "MVP@LL";
      case 0x8D: return "MVP@ML";
      case 0x8B: return "MVP@H14";
      case 0x8A: return "MVP@HL";
      default: return Format("reserved (0x%.2x)", {value});
    }
  }
  const char* profile = nullptr;
  switch (value >> 4) {
    case 1: profile = "HP"; break;
    case 2: profile = "SpatialP"; break;
    case 3: profile = "SNRP"; break;
    case 4: profile = "MP"; break;
    case 5: profile = "SP"; break;
    default: break;
  }
  const char* level = nullptr;
  switch (value & 0x0F) {
    case 4: level = "HL"; break;
    case 6: level = "H14"; break;
    case 8: level = "ML"; break;
    case 10: level = "LL"; break;
    default: break;
  }
  if (!profile || !level) return Format("reserved (0x%.2x)", {value});
  return std::string(profile) + "@" + level;
}

std::string ChromaFormatName(std::uint32_t chroma_format) {
  switch (chroma_format) {
    case 1: return "4:2:0";
    case 2: return "4:2:2";
    case 3: return "4:4:4";
    default: return "reserved";
  }
}

} // namespace varlow
