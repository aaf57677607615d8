// Rate control of the re-quantising method. A held group is planned picture by picture in
// stream order: what is left of the group's budget is shared out over the pictures still to
// come, each keeping a share of its fixed bits and of its coefficient bits. The shares give
// the pictures output steps that keep their quality level along the group: reference pictures
// take the same step (weighing a reference picture's error once more for every picture that
// inherits it, as a mean squared error would, gives a group's first pictures steps several
// times finer than its last and makes quality pulse with every group), B pictures, whose error
// goes nowhere, a somewhat coarser one. No step grows past the coarsest one the picture's
// quantiser table can write; MPEG-2 pictures that need coarse steps switch to the non-linear
// table. A share becomes a step ratio through a rate model per picture type, which each
// re-quantised picture corrects: the coefficient bits kept against the step ratio the
// quantiser codes allowed, and the share of the fixed bits that stays (macroblocks left
// without blocks lose their pattern or are skipped). Within the picture the transcoder follows
// the bits actually written slice by slice. A group that still ends over its budget is planned
// again tighter, and at last cut.
#include <algorithm>
#include <cmath>

#include "syntax/PictureCodingTypes.h"
#include "transrate/BufferGuard.h"
#include "transrate/GroupProcessor.h"

namespace varlow {

namespace {

constexpr int kPlanRetries = 2;
// Room beyond the input size for a re-quantised picture, which is about never larger.
constexpr std::int32_t kRequantMargin = 1024;
// The coarsest quantiser_scale of the linear table, and of the non-linear one that MPEG-2
// pictures may switch to.
constexpr double kLinearMaxStep = 62;
constexpr double kNonLinearMaxStep = 112;
// A picture whose wanted mean step lies above this is written with the non-linear table: the
// linear one would leave too little room above it for the slices that need coarser steps.
constexpr double kNonLinearFrom = 40;

}  // namespace

// What re-quantising can shrink: every block's run/level codes and its end of block, from the
// analysis record (per block: its code count n, the ends of its n codes, the end of its end of
// block).
std::int64_t BlockBits(const TMPEGVideoTranscoder::TCutRecord& Record) {
  std::int64_t bits = 0;
  const std::vector<std::uint16_t>& ends = Record.CodeEnds;
  for (std::size_t i = 0; i < ends.size();) {
    const std::size_t n = ends[i];
    if (i + n + 1 < ends.size()) bits += ends[i + n + 1];
    i += n + 2;
  }
  return bits;
}

void TGroupProcessor::RequantGroup(THeldGroup& Group) {
  TGroupReport& report = Group.Report;
  Group.CutLevels.assign(static_cast<std::size_t>(Group.Count), kMaxLevel);
  for (std::size_t j = 0; j < static_cast<std::size_t>(Group.Count); ++j) Group.Frames[j].OutputSize = 0;
  if (report.InputBits <= report.BudgetBits) return;
  double target = static_cast<double>(report.BudgetBits) * FTuning.BudgetUse;
  // The rate model starts from guesses: the first group it plans is planned once more with
  // what its own pictures taught it, so that the stream's first pictures are not the worst.
  if (!Group.Model.Learnt) {
    RequantPictures(Group, target);
    Group.Model.Learnt = true;
  }
  std::int64_t spent = RequantPictures(Group, target);
  for (int attempt = 0; spent > report.BudgetBits && attempt < kPlanRetries; ++attempt) {
    target *= static_cast<double>(report.BudgetBits) / static_cast<double>(spent) * FTuning.BudgetUse;
    spent = RequantPictures(Group, target);
  }
  if (spent > report.BudgetBits) CutRequantisedGroup(Group);
}

// Re-quantising alone did not fit: the re-quantised pictures are analysed again and cut as a
// group, which keeps the budget whenever their fixed bits allow. Should re-quantising have left
// more fixed bits than the input had and so lost a budget the input's could keep, the input is
// cut instead.
void TGroupProcessor::CutRequantisedGroup(THeldGroup& Group) {
  const auto n = static_cast<std::size_t>(Group.Count);
  std::vector<THeldFrame> requantised(n);
  std::vector<TPictureCost> costs(n);
  std::int64_t fixed = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const THeldFrame& frame = Group.Frames[j];
    THeldFrame& r = requantised[j];
    const bool changed = frame.OutputSize > 0;
    const std::int32_t size = changed ? frame.OutputSize : frame.Data->DataSize();
    r.Data = std::make_unique<TBuffer>(size, 0);
    r.Data->Append(changed ? frame.Output->DataPtr() : frame.Data->DataPtr(), size);
    r.Type = frame.Type;
    r.Periods = frame.Periods;
    r.Sequence = frame.Sequence;
    FTranscoder->SetSequenceValues(frame.Sequence);
    AnalyseFrame(r, costs[j]);
    r.Damaged = r.Damaged || frame.Damaged;
    fixed += costs[j].Bits[0];
  }
  const bool fromInput = fixed > Group.Report.BudgetBits && Group.Report.FixedBits <= Group.Report.BudgetBits;
  if (fromInput) {
    // The input's analysis kept the macroblocks instead of making cost curves: made now.
    for (std::size_t j = 0; j < n; ++j) {
      if (Group.Costs[j].Curve) continue;
      FTranscoder->SetSequenceValues(Group.Frames[j].Sequence);
      AnalyseFrame(Group.Frames[j], Group.Costs[j]);
    }
    CutGroup(Group, Group.Frames, Group.Costs);
    return;
  }
  CutGroup(Group, requantised, costs);
  // What each picture came to: its cut, or the re-quantised picture it was cut from.
  for (std::size_t j = 0; j < n; ++j) {
    THeldFrame& frame = Group.Frames[j];
    frame.Damaged = requantised[j].Damaged;
    if (requantised[j].OutputSize <= 0) continue;
    std::swap(frame.Output, requantised[j].Output);
    frame.OutputSize = requantised[j].OutputSize;
  }
}

// One planning pass over the group toward Target bits; returns the bits the group came to.
std::int64_t TGroupProcessor::RequantPictures(THeldGroup& Group, double Target) {
  const auto n = static_cast<std::size_t>(Group.Count);
  if (n == 0) return 0;
  std::vector<THeldFrame>& frames = Group.Frames;
  TRateModel& model = Group.Model;
  std::vector<double> coefficient(n), fixed(n), logUnit(n), logCap(n), fixedShare(n);
  std::size_t firstGroup = 1;  // pictures of the first group held
  while (firstGroup < n && !frames[firstGroup].GroupStart) ++firstGroup;
  for (std::size_t j = 0; j < n; ++j) {
    const THeldFrame& frame = frames[j];
    const double size = static_cast<double>(frame.Data->DataSize()) * 8;
    coefficient[j] = frame.Damaged ? 0.0 : static_cast<double>(frame.BlockBits);
    fixed[j] = size - coefficient[j];
    fixedShare[j] = model.FixedShare[static_cast<std::size_t>(std::clamp(frame.Type, 1, 3))];
    // The step cannot grow past the coarsest one the picture's quantiser table writes.
    const double maxStep = frame.Sequence.HaveSequenceExtension ? kNonLinearMaxStep : kLinearMaxStep;
    logCap[j] = std::log(std::max(maxStep / std::max(frame.InputStep, 1.0), 1.0));
    // Counted, not in proportion to the group: the references of a short group drift into
    // fewer pictures and leave more to their B pictures. A short group planned with the one
    // before it is predicted from none of that one's pictures; its pictures are weighed as
    // those of a group as long as that one would be, so that its quality matches theirs
    // instead of falling to that of a group's last pictures.
    std::size_t groupStart = j, groupEnd = j + 1;
    while (groupStart > 0 && !frames[groupStart].GroupStart) --groupStart;
    while (groupEnd < n && !frames[groupEnd].GroupStart) ++groupEnd;
    if (groupStart > 0) groupEnd = std::max(groupEnd, groupStart + firstGroup);
    const double weight = frame.Type == kBidirectionalPicture
                              ? FTuning.BPictureWeight
                              : 1.0 + FTuning.DriftWeight * static_cast<double>(groupEnd - 1 - j);
    // At level K (in log) the step ratio is K - logUnit: the output step K / sqrt(weight).
    logUnit[j] = std::log(std::sqrt(weight) * (frame.InputStep > 0 ? frame.InputStep : 1.0));
  }
  // The share of its coefficient bits picture k keeps at level K, through its type's model.
  const auto shareAt = [&](std::size_t k, double K) {
    const double logRatio = std::min(K - logUnit[k], logCap[k]);
    if (logRatio <= 0) return 1.0;
    return std::exp(-model.Alpha[static_cast<std::size_t>(std::clamp(frames[k].Type, 1, 3))] * logRatio);
  };
  // The bits pictures j.. come to at level K.
  const auto planned = [&](std::size_t from, double K) {
    double bits = 0;
    for (std::size_t k = from; k < n; ++k) bits += fixed[k] * fixedShare[k] + coefficient[k] * shareAt(k, K);
    return bits;
  };
  // Levels between these reach from every picture keeping all to every picture at a step 64
  // times its input's.
  const double lowest = *std::min_element(logUnit.begin(), logUnit.end());
  const double highest = *std::max_element(logUnit.begin(), logUnit.end()) + std::log(64.0);
  std::int64_t spent = 0;
  // The decoder's buffer as the pictures leave it, from where the group before left it.
  TBufferGuard buffer = Group.Buffer;
  const auto leaves = [&](const THeldFrame& frame, std::int64_t bits) {
    buffer.Remove(bits, frame.Fps > 0 ? frame.Periods / frame.Fps : 0.0);
  };
  for (std::size_t j = 0; j < n; ++j) {
    THeldFrame& frame = frames[j];
    frame.OutputSize = 0;
    const std::int64_t inputBits = std::int64_t{frame.Data->DataSize()} * 8;
    buffer.SetBuffer(frame.BufferBits);
    if (frame.Damaged || coefficient[j] <= 0) {
      spent += inputBits;
      leaves(frame, inputBits);
      continue;
    }
    // The level that spends exactly what is left on the rest of the group.
    const double left = Target - static_cast<double>(spent);
    double low = lowest;
    double high = highest;
    if (planned(j, low) > left) {
      for (int i = 0; i < 40; ++i) {
        const double mid = (low + high) / 2;
        (planned(j, mid) > left ? low : high) = mid;
      }
    } else {
      high = low;
    }
    double share = shareAt(j, high);
    auto targetBits = static_cast<std::int64_t>(fixed[j] * fixedShare[j] + coefficient[j] * share);
    // No more than the buffer holds when the picture leaves it, where re-quantising can get
    // there (a buffer that its fixed bits alone overrun is not helped by crushing its blocks).
    const std::int64_t allowed = buffer.Allowed();
    if (targetBits > allowed && static_cast<double>(allowed) > fixed[j] * fixedShare[j]) {
      share = std::max(std::min((static_cast<double>(allowed) - fixed[j] * fixedShare[j]) / coefficient[j], share), 1e-3);
      targetBits = allowed;
    }
    if (share >= 0.999) {
      spent += inputBits;
      leaves(frame, inputBits);
      continue;
    }
    const auto type = static_cast<std::size_t>(std::clamp(frame.Type, 1, 3));
    RequantPicture(frame, share, model.Alpha[type], targetBits);
    if (frame.OutputSize <= 0) {
      spent += inputBits;
      leaves(frame, inputBits);
      continue;
    }
    const std::int64_t outBits = std::int64_t{frame.OutputSize} * 8;
    spent += outBits;
    leaves(frame, outBits);
    // The rate model, against the step ratio the quantiser codes allowed: where the fixed bits
    // make most of the picture, what they came to (macroblocks left without blocks lose their
    // pattern or are skipped, so they shrink too); else the coefficient bits kept.
    const double realised = FTranscoder->RealisedScale();
    const double modelled = coefficient[j] * std::pow(std::max(realised, 1.0), -model.Alpha[type]);
    if (modelled < 0.5 * fixed[j]) {
      const double seen = std::clamp((static_cast<double>(outBits) - modelled) / fixed[j], 0.2, 1.0);
      model.FixedShare[type] = 0.6 * model.FixedShare[type] + 0.4 * seen;
    } else {
      const double kept = (static_cast<double>(outBits) - fixed[j] * model.FixedShare[type]) / coefficient[j];
      if (realised > 1.05 && kept > 0.02 && kept < 0.98) {
        const double alpha = std::clamp(-std::log(kept) / std::log(realised), 0.4, 4.0);
        model.Alpha[type] = 0.6 * model.Alpha[type] + 0.4 * alpha;
      }
    }
  }
  return spent;
}

void TGroupProcessor::RequantPicture(THeldFrame& Frame, double Share, double Alpha, std::int64_t TargetBits) {
  const std::int32_t inputSize = Frame.Data->DataSize();
  const std::int32_t needed = inputSize + kRequantMargin;
  if (!Frame.Output) Frame.Output = std::make_unique<TBuffer>(needed, 0);
  if (Frame.Output->Capacity() < needed) Frame.Output->SetCapacity(needed + needed / 2);
  TMPEGVideoTranscoder::TRequantSettings settings;
  settings.Scale = std::pow(std::max(Share, 1e-3), -1.0 / std::max(Alpha, 0.1));
  settings.TargetBits = TargetBits;
  settings.Alpha = Alpha;
  settings.RoundingBias = FTuning.RoundingBias;
  settings.MinStepRatio = FTuning.MinStepRatio;
  settings.Lambda = FTuning.Lambda;
  settings.NonLinear = Frame.Sequence.HaveSequenceExtension && settings.Scale * Frame.InputStep > kNonLinearFrom;
  std::int32_t outputSize = needed;
  FTranscoder->SetSequenceValues(Frame.Sequence);
  const HRESULT result = FTranscoder->Requantise(Frame.Type, Frame.Data->DataPtr(), Frame.Output->DataPtr(),
                                                 inputSize, outputSize, settings, Frame.Parsed, Frame.ParsedPicture);
  if (FTranscoder->Damaged()) Frame.Damaged = true;
  Frame.OutputSize = result < 0 || Frame.Damaged || outputSize <= 0 || outputSize >= inputSize ? 0 : outputSize;
}

}  // namespace varlow
