// A worker's part of the transrate: the analysis of a held group and its cut.
#include "transrate/GroupProcessor.h"

#include <algorithm>

#include "syntax/CodeTables.h"

namespace varlow {

namespace {

// Room beyond the input size for a cut picture: the writer keeps four bytes in reserve.
constexpr std::int32_t kOutputMargin = 64;

}  // namespace

std::vector<std::int32_t> FillCutLevels(const std::vector<TPictureCost>& Costs, std::int32_t Count,
                                        std::int64_t Budget) {
  std::vector<std::int32_t> levels(static_cast<std::size_t>(Count), 0);
  std::int64_t sum = 0;
  for (int level = 0; level <= TPictureCost::kMaxLevel; ++level) {
    bool anyTookPart = false;
    for (std::size_t j = 0; j < levels.size(); ++j) {
      if (Costs[j].MaxCoefIndex < level) continue;
      anyTookPart = true;
      sum += Costs[j].Bits[static_cast<std::size_t>(level)];
      if (sum > Budget) return levels;
      levels[j] = level;
    }
    if (!anyTookPart) break;
  }
  return levels;
}

TGroupProcessor::TGroupProcessor(TTransrateMethod Method, const TRequantTuning& Tuning)
    : FMethod(Method), FTuning(Tuning), FTranscoder(std::make_unique<TMPEGVideoTranscoder>()) {
  FTranscoder->SetMpeg1(FMethod == TTransrateMethod::Requant);
  // Re-quantising plans with the block bits and the cost curve alone; the cut record is made
  // only for the cut (a group cut after re-quantising walks the syntax instead).
  FTranscoder->SetCutRecording(FMethod != TTransrateMethod::Requant);
}

void TGroupProcessor::Analyse(THeldGroup& Group) {
  Group.Report.FixedBits = 0;
  std::array<bool, 2> started{};
  for (std::size_t j = 0; j < static_cast<std::size_t>(Group.Count); ++j) {
    THeldFrame& frame = Group.Frames[j];
    frame.OutputSize = 0;
    // Re-quantising keeps each group's macroblocks from the analysis, to replay them.
    TParsedGroup* parsed = nullptr;
    if (FMethod == TTransrateMethod::Requant) {
      parsed = &Group.Stores[frame.Store];
      if (!started[frame.Store]) parsed->Start(kParsedGroupBytes);
      started[frame.Store] = true;
    }
    FTranscoder->SetSequenceValues(frame.Sequence);
    AnalyseFrame(frame, Group.Costs[j], parsed);
    Group.Report.FixedBits += Group.Costs[j].Bits[0];
  }
}

// The analysis pass over a held picture (from the sequence values it begins with): its cut
// record, its block bits, its cost curve (with Parsed: the curve's total alone, its
// macroblocks kept there, and its mean input quantiser); a picture it cannot parse is damaged.
void TGroupProcessor::AnalyseFrame(THeldFrame& Frame, TPictureCost& Cost, TParsedGroup* Parsed) {
  const std::int32_t Size = Frame.Data->DataSize();
  Frame.Parsed = Parsed;
  Frame.ParsedPicture = Parsed != nullptr ? Parsed->BeginPicture() : -1;
  const HRESULT analysed = FTranscoder->Analyse(Frame.Type, Frame.Data->DataPtr(), Size, Parsed);
  FTranscoder->TakeCutRecord(Frame.Record);
  Frame.BufferBits = std::int64_t{FTranscoder->SequenceValues().VbvBufferSize} * kVbvBufferSizeUnit;
  Frame.BlockBits = FTranscoder->BlockBits();
  Frame.InputStep = FTranscoder->MeanQuantiserScale();
  Cost.Bits.fill(0);
  Frame.Damaged = analysed < 0 || FTranscoder->Damaged();
  if (Frame.Damaged) {
    Cost.MaxCoefIndex = 0;
    Cost.Bits[0] = Size * 8;
    Cost.Curve = true;  // nothing to cut
    return;
  }
  const std::int32_t maxIndex = std::min(FTranscoder->MaxCoefIndex(), kMaxLevel);
  std::int64_t fixed = static_cast<std::int64_t>(Size) * 8;
  Cost.Curve = Parsed == nullptr;
  if (Cost.Curve) {
    for (int k = 1; k <= maxIndex; ++k) {
      Cost.Bits[static_cast<std::size_t>(k)] = FTranscoder->CoefBits()[static_cast<std::size_t>(k)];
      fixed -= Cost.Bits[static_cast<std::size_t>(k)];
    }
  } else {
    fixed -= FTranscoder->CurveBits();
  }
  // A cut slice may end anywhere in its last byte: reserve the alignment bits up front and
  // give them back at the level that keeps every code (where the picture is copied as is).
  if (maxIndex > 0) {
    fixed += FTranscoder->AlignmentReserve();
    Cost.Bits[static_cast<std::size_t>(maxIndex)] -= FTranscoder->AlignmentReserve();
  }
  Cost.Bits[0] = static_cast<std::int32_t>(fixed);
  Cost.MaxCoefIndex = maxIndex;
}

void TGroupProcessor::Process(THeldGroup& Group) {
  Group.Report.OutputBits = 0;
  if (FMethod == TTransrateMethod::Requant) {
    RequantGroup(Group);
  } else {
    CutGroup(Group, Group.Frames, Group.Costs);
  }
  for (std::size_t j = 0; j < static_cast<std::size_t>(Group.Count); ++j) {
    const THeldFrame& frame = Group.Frames[j];
    const std::int64_t bits = std::int64_t{frame.OutputSize > 0 ? frame.OutputSize : frame.Data->DataSize()} * 8;
    Group.Report.OutputBits += bits;
    Group.Buffer.SetBuffer(frame.BufferBits);
    Group.Buffer.Remove(bits, frame.Fps > 0 ? frame.Periods / frame.Fps : 0.0);
  }
}

void TGroupProcessor::CutGroup(THeldGroup& Group, std::vector<THeldFrame>& Frames,
                               const std::vector<TPictureCost>& Costs) {
  Group.CutLevels = FillCutLevels(Costs, Group.Count, Group.Report.BudgetBits);
  for (std::size_t j = 0; j < static_cast<std::size_t>(Group.Count); ++j) CutFrame(Frames[j], Costs[j], Group.CutLevels[j]);
}

void TGroupProcessor::CutFrame(THeldFrame& Frame, const TPictureCost& Cost, std::int32_t CutLevel) {
  Frame.OutputSize = 0;
  // Pictures that keep every code, and pictures the transcoder could not parse, go out as they
  // came in: a cut never amplifies damage in the input.
  if (Frame.Damaged || CutLevel >= Cost.MaxCoefIndex) return;
  const std::int32_t inputSize = Frame.Data->DataSize();
  // The output block is sized for the picture, so a cut never loses its end.
  const std::int32_t needed = inputSize + kOutputMargin;
  if (!Frame.Output) Frame.Output = std::make_unique<TBuffer>(needed, 0);
  if (Frame.Output->Capacity() < needed) Frame.Output->SetCapacity(needed + needed / 2);
  // The writer zero-fills its destination: hand it only what the picture can need.
  std::int32_t outputSize = needed;
  FTranscoder->SetSequenceValues(Frame.Sequence);
  FTranscoder->UseCutRecord(&Frame.Record);
  const HRESULT cut =
      FTranscoder->Cut(Frame.Type, Frame.Data->DataPtr(), Frame.Output->DataPtr(), inputSize, outputSize, CutLevel);
  if (FTranscoder->Damaged()) Frame.Damaged = true;
  if (cut < 0 || FTranscoder->Damaged() || outputSize <= 0 || outputSize > inputSize) return;
  Frame.OutputSize = outputSize;
}

}  // namespace varlow
