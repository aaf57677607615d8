#include "buffer/VbvModel.h"

#include <algorithm>
#include <cmath>

#include "syntax/PictureCodingTypes.h"

namespace varlow {

namespace {

constexpr double kVbvClock = 90000.0;  // vbv_delay counts periods of a 90 kHz clock
constexpr std::uint16_t kNoDelay = 0xFFFF;

bool Anchor(const TVbvPicture& p) { return p.CodingType == kIntraPicture || p.CodingType == kPredictedPicture; }

std::int64_t Whole(double bits) { return static_cast<std::int64_t>(std::llround(bits)); }

}  // namespace

TVbvModel::TVbvModel(TVbvMode mode, std::int64_t totalBits) : FTotalBits(std::max<std::int64_t>(totalBits, 0)) {
  FSummary.Mode = mode;
}

double TVbvModel::PeriodsToNext(const TVbvPicture& p) {
  // With B pictures about (low_delay 0), an I or P picture is shown only after the B pictures
  // decoded behind it: while it is decoded, the previous I or P picture is on show, so that one
  // sets the time to the next decoding. A B picture, or any picture of a low-delay sequence, is
  // shown as it is decoded and sets it itself.
  const bool ownPeriods = p.LowDelay || !Anchor(p) || !FHaveAnchor;
  const double shown = ownPeriods ? p.FramePeriods : FAnchorShown;
  double periods = shown;
  if (p.FieldPicture) {
    // The two fields of a frame share its time: the second always half a frame, the first the rest.
    const bool second = FFieldPending;
    FFieldPending = !second;
    periods = second || ownPeriods ? 0.5 : std::max(0.5, shown - 0.5);
  } else {
    FFieldPending = false;
  }
  if (Anchor(p)) {
    // A field pair is on show as one frame (fields repeat nothing).
    FAnchorShown = p.FieldPicture ? 1.0 : p.FramePeriods;
    FHaveAnchor = true;
  }
  return periods;
}

TVbvPoint TVbvModel::Add(const TVbvPicture& p) {
  const auto index = static_cast<std::uint32_t>(FSummary.Pictures++);
  if (index == 0) {
    FSummary.BufferBits = std::max<std::int64_t>(p.BufferBits, 0);
    FSummary.Rate = std::max<std::int64_t>(p.BitRate, 0);
    FSummary.Modelled = true;
  }
  const bool variable = FSummary.Mode == TVbvMode::Variable;
  if (FStopped || p.BitRate <= 0 || p.BufferBits <= 0 || (variable && !(p.FrameRate > 0))) {
    // Nonsense or missing parameters: no figures rather than figures of nothing.
    FStopped = true;
    FSummary.Modelled = false;
    return {};
  }
  const double rate = static_cast<double>(p.BitRate);
  const double total = static_cast<double>(FTotalBits);
  const double removed = static_cast<double>(FRemoved);
  TVbvPoint point;
  double before = 0;
  if (!variable) {
    if (p.VbvDelay != kNoDelay) {
      const double delay = p.VbvDelay / kVbvClock;
      point.Time = FUnitArrival + static_cast<double>(p.StartCodeEndBits) / rate + delay;
      FArrived = removed + static_cast<double>(p.StartCodeEndBits) + rate * delay;
    } else {
      // A picture without a delay in a constant-rate stream: a display period after the last.
      point.Time = FTime + FSecondsToNext;
      FArrived += rate * FSecondsToNext;
    }
    FArrived = std::min(FArrived, total);
    before = FArrived - removed;
    FUnitArrival += static_cast<double>(p.UnitBits) / rate;
  } else {
    const double buffer = static_cast<double>(p.BufferBits);
    const double held = FArrived - removed;
    if (index == 0) {
      before = std::min(buffer, total);
      point.Time = before / rate;
    } else {
      point.Time = FTime + FSecondsToNext;
      // Filling stops at a full buffer; a buffer made smaller loses nothing it holds.
      before = std::min(held + rate * FSecondsToNext, std::max(buffer, held));
    }
    before = std::min(before, total - removed);
    FArrived = removed + before;
  }
  point.Before = Whole(before);
  point.After = Whole(before - static_cast<double>(p.UnitBits));
  FRemoved += p.UnitBits;
  FTime = point.Time;
  FSecondsToNext = p.FrameRate > 0 ? PeriodsToNext(p) / p.FrameRate : 0.0;
  Record(index, p, point, FArrived >= total);
  return point;
}

void TVbvModel::Record(std::uint32_t index, const TVbvPicture& p, const TVbvPoint& point, bool drained) {
  TVbvSummary& s = FSummary;
  const bool lower = point.After < s.LowestBits;
  if (s.LowestPicture < 0 || (FLowestDrained && !drained) || (lower && FLowestDrained == drained)) {
    s.LowestBits = point.After;
    s.LowestPicture = index;
    FLowestDrained = drained;
  }
  if (index == 0 || point.Before > s.HighestBits) s.HighestBits = point.Before;
  auto event = [&](TVbvEvent::Kind kind) {
    if (s.Events.size() < TVbvSummary::kMaxEvents) s.Events.push_back({kind, index, point.Before});
  };
  // The picture's last bit had not arrived when it was due.
  if (point.Before < p.UnitBits) {
    ++s.Underflows;
    event(TVbvEvent::Kind::Underflow);
  }
  if (point.Before > p.BufferBits) {
    ++s.Overflows;
    event(TVbvEvent::Kind::Overflow);
  }
}

TVbvSummary RunVbv(TVbvMode mode, std::span<const TVbvPicture> pictures, std::vector<TVbvPoint>* points) {
  std::int64_t total = 0;
  for (const TVbvPicture& p : pictures) total += p.UnitBits;
  TVbvModel model(mode, total);
  if (points) points->clear();
  for (const TVbvPicture& p : pictures) {
    const TVbvPoint point = model.Add(p);
    if (points) points->push_back(point);
  }
  return model.Summary();
}

}  // namespace varlow
