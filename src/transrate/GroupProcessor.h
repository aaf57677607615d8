#pragma once
#include <cstdint>
#include <memory>

#include "transrate/Buffer.h"
#include "transrate/HeldGroup.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/TransrateMethod.h"

namespace varlow {

// What one worker does with a held group: analyses its pictures, then brings the group within
// its budget, by re-quantising its blocks (TransrateRequantGroup.cpp) or by choosing one cut
// level per picture from the cost curves, and leaves every picture's output in the group. It
// reads nothing but the group and its own transcoder, so workers with a processor each can run
// side by side, and a group comes out the same whichever worker took it.
class TGroupProcessor {
 public:
  static constexpr int kMaxLevel = TPictureCost::kMaxLevel;
  // What a held group's kept macroblocks may take; pictures past it are decoded again.
  static constexpr std::size_t kParsedGroupBytes = std::size_t{12} << 20;

  TGroupProcessor(TTransrateMethod Method, const TRequantTuning& Tuning);

  // Analyses every picture of Group and fills its report's fixed bits; analysis alone needs
  // nothing of other groups.
  void Analyse(THeldGroup& Group);
  // Brings the analysed Group within Group.Report.BudgetBits, planning from Group.Model (which
  // it leaves as the group's pictures taught it), and fills Report.OutputBits.
  void Process(THeldGroup& Group);

 private:
  // Parsed: where the analysis keeps the picture's macroblocks (re-quantising), or none.
  void AnalyseFrame(THeldFrame& Frame, TPictureCost& Cost, TParsedGroup* Parsed = nullptr);
  void CutGroup(THeldGroup& Group, std::vector<THeldFrame>& Frames, const std::vector<TPictureCost>& Costs);
  void CutFrame(THeldFrame& Frame, const TPictureCost& Cost, std::int32_t CutLevel);

  void RequantGroup(THeldGroup& Group);
  void CutRequantisedGroup(THeldGroup& Group);
  std::int64_t RequantPictures(THeldGroup& Group, double Target);
  void RequantPicture(THeldFrame& Frame, double Share, double Alpha, std::int64_t TargetBits);

  TTransrateMethod FMethod;
  TRequantTuning FTuning;
  std::unique_ptr<TMPEGVideoTranscoder> FTranscoder;
};

}  // namespace varlow
