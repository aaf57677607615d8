#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "buffer/VbvModel.h"
#include "support/HResult.h"
#include "support/LockedVariable.h"
#include "transrate/Buffer.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/RateDeclaration.h"
#include "transrate/SizeTarget.h"
#include "transrate/TransrateMethod.h"

namespace varlow {

// Where cut pictures go: (Data, Size, FrameType). FrameType is 1, 2 or 3 for a picture and 0
// for the stream's trailing bytes after its last picture (a sequence end code). Data is valid
// only during the call.
using TMPEGESTransReceiveFunction =
    std::function<HRESULT(const std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType)>;

// What one processed group of pictures cost, for callers that watch the rate control.
struct TGroupReport {
  std::int32_t Pictures = 0;
  std::int64_t BudgetBits = 0;  // sum of the per-picture budgets
  std::int64_t FixedBits = 0;   // bits no cut removes (alignment reserve included)
  std::int64_t InputBits = 0;
  std::int64_t OutputBits = 0;
  double Seconds = 0;  // playing time of the group's pictures, each at its own frame rate
};
using TGroupReportFunction = std::function<void(const TGroupReport&)>;

// What cutting a picture can save: Bits[0] = bits no cut removes, Bits[k] = what the k-th
// run/level codes of all its blocks cost (k = 1 .. MaxCoefIndex).
struct TPictureCost {
  static constexpr int kMaxLevel = 64;
  std::array<std::int32_t, kMaxLevel + 1> Bits{};
  std::int32_t MaxCoefIndex = 0;
  bool Curve = true;  // false: Bits[0] alone is known (an analysis that kept the macroblocks)
};

// The bits of a picture's run/level and end-of-block codes, from its analysis record.
std::int64_t BlockBits(const TMPEGVideoTranscoder::TCutRecord& Record);

// The level fill: all pictures rise together, one code position at a time, in stream order;
// level 0 charges each picture its fixed bits. A picture takes a level only once that level is
// paid for, so the group stays within Budget unless its fixed bits alone exceed it. Returns one
// cut level per picture.
std::vector<std::int32_t> FillCutLevels(const std::vector<TPictureCost>& Costs, std::int32_t Count,
                                        std::int64_t Budget);

// Brings an MPEG-2 video elementary stream under a maximum bit rate. The input arrives in
// blocks; the separator cuts picture units; the pictures of one group of pictures are held and
// analysed, and when the next group begins the group is brought within the budget of its
// duration: by re-quantising its blocks (the default method, TransrateRequantGroup.cpp) or by
// choosing one cut level per picture from the cost curves. Each picture then goes, in stream
// order, to the receive method. Re-quantising holds a finished group until the next one has
// ended too: a short group after it (a lone intra picture ending a recording, a splice) is then
// planned together with it, the two within their joint budget, instead of being crushed into the
// budget of its own few pictures.
class TMPEG2VideoTransrateClass {
 public:
  static constexpr int kMaxFrames = 1024;
  // What a held group's kept macroblocks may take; pictures past it are decoded again.
  static constexpr std::size_t kParsedGroupBytes = std::size_t{12} << 20;
  static constexpr int kMaxLevel = TPictureCost::kMaxLevel;
  // First size of the block cut pictures are written to; it grows with the largest picture.
  static constexpr std::int32_t kOutputBlockSize = 64 * 1024;

  TMPEG2VideoTransrateClass();
  ~TMPEG2VideoTransrateClass();
  TMPEG2VideoTransrateClass(const TMPEG2VideoTransrateClass&) = delete;
  TMPEG2VideoTransrateClass& operator=(const TMPEG2VideoTransrateClass&) = delete;

  HRESULT SetMPEGESTransReceiveFunctionObj(TMPEGESTransReceiveFunction Method);
  void SetGroupReportFunction(TGroupReportFunction Method) { FGroupReport = std::move(Method); }
  HRESULT SetMaxOutputBitrate(std::int32_t Bitrate);
  // Aims the output at OutputBytes instead of a rate: each group's budget is its share of what
  // is left of OutputBytes (see TSizePlan), InputBytes being all the stream the engine will be
  // given. Set before the first block; the bit rate then only paces the progress figures.
  void SetSizeTarget(std::int64_t InputBytes, std::int64_t OutputBytes) {
    FSizePlan = TSizePlan(InputBytes, OutputBytes);
  }
  // Chooses how pictures are brought under the rate; set before the first block.
  void SetMethod(TTransrateMethod Method) { FMethod = Method; }
  TTransrateMethod Method() const { return FMethod; }
  // Knobs of the re-quantising method's rate control.
  struct TRequantTuning {
    float RoundingBias = 0.0f;    // dead zone of the level choice, in steps
    double BudgetUse = 0.995;     // the part of a group's budget the plan aims at
    double MinStepRatio = 1.5;    // see TMPEGVideoTranscoder::TRequantSettings
    double DriftWeight = 0.0;     // a reference picture's error weighs this much more per picture
                                  // after it in its group
    double BPictureWeight = 0.6;  // a B picture's error against a last reference picture's
    double Lambda = 0.1;          // see TMPEGVideoTranscoder::TRequantSettings
  };
  void SetRequantTuning(const TRequantTuning& Tuning) { FTuning = Tuning; }
  // Pictures delivered unchanged because a pass could not parse them.
  std::int64_t DamagedPictures() const { return FDamagedPictures; }
  // What the output's headers came to declare (see TRateDeclaration).
  const TRateDeclaration& RateDeclaration() const { return FRateDeclaration; }
  // The output's buffer from its first rewritten picture on; none while the headers are left.
  const TVbvSummary* OutputVbv() const { return FVbv ? &FVbv->Summary() : nullptr; }
  std::int32_t MaxOutputBitrate() const { return FMaxBitrate.Value(); }
  double BitsPerPicture() const { return FBitsPerPicture.Value(); }
  double Fps() const { return FFps; }
  bool Started() const { return FStarted != 0; }

  // Feeds one block of the stream.
  HRESULT AddData(const std::uint8_t* Data, std::int32_t Size);
  // End of input: delivers the separator's remainder, processes the held group and writes
  // the trailing bytes, so every picture from the first intra picture on reaches the output.
  HRESULT Flush();

  // The separator's receive method.
  HRESULT MPEGESReceiveFunctionObj(std::int32_t StreamId, std::int32_t Reserved, const std::uint8_t* Data,
                                   std::int32_t Size);
  // Holds and analyses one picture.
  HRESULT AddFrame(const std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType, bool GOPStart);
  // Ends the group being held and processes every picture held: chooses the cut levels or the
  // steps, cuts or re-quantises and delivers them.
  HRESULT ProcessFrames();
  // Whether a group of Pictures after one of Before pictures is short enough to share its budget:
  // a quarter of it or less.
  static bool IsShortGroup(std::int32_t Pictures, std::int32_t Before);

  // frame rate (with the sequence extension's factor) and progressive_sequence from the
  // sequence header at the front of a unit (a sequence end code may come before it); false
  // when the unit does not begin with one.
  static bool GetParams(const std::uint8_t* Data, std::int32_t Size, double& Fps, bool& Progressive);
  // picture_structure from the first picture coding extension of the unit; false when the unit
  // has none.
  static bool GetPictureStructure(const std::uint8_t* Data, std::int32_t Size, std::int32_t& Structure);
  // How many frame periods the unit's picture stays on show (PictureFramePeriods, from its
  // picture coding extension; one without it).
  static double PicturePeriods(const std::uint8_t* Data, std::int32_t Size, bool ProgressiveSequence);

  // Pictures held from the first intra picture on, pictures delivered, and the delivered
  // pictures' duration in frame periods (PicturePeriods).
  std::int64_t PicturesIn() const { return FPicturesIn; }
  std::int64_t PicturesOut() const { return FPicturesOut; }
  double FramePeriodsOut() const { return FFramePeriodsOut; }

  // The cut levels chosen for the group processed last (for tests).
  const std::vector<std::int32_t>& LastCutLevels() const { return FLastCutLevels; }

 private:
  struct THeldFrame {
    std::unique_ptr<TBuffer> Data;
    std::int32_t Type = 0;
    double Periods = 1;                       // frame periods it stays on show
    double Fps = 0;                           // frame rate of the sequence the picture belongs to
    bool Damaged = false;                     // written unchanged: the transcoder could not parse it completely
    TMPEGVideoTranscoder::TCutRecord Record;  // made by the analysis pass, for the cut
    TMPEGVideoTranscoder::TSequenceValues Sequence{};  // transcoder state the analysis started from
    std::unique_ptr<TBuffer> Requantised;              // the re-quantising pass's output
    std::int32_t OutputSize = 0;                       // bytes of it, or 0 when the picture goes out as it came
    std::int64_t BlockBits = 0;                        // bits of all run/level and end-of-block codes
    TParsedGroup* Parsed = nullptr;                    // where its macroblocks are kept (re-quantising)
    int ParsedPicture = -1;                            // and their picture there
    bool GroupStart = false;                           // it begins a group of pictures
    double InputStep = 0;                              // its mean quantiser_scale (re-quantising)
  };

  // The re-quantising method (TransrateRequantGroup.cpp): plans and re-quantises the held
  // group, and delivers it; falls back to the cut when the group would not fit its budget.
  void RequantGroup(std::int32_t Count, TGroupReport& Report);
  std::int64_t RequantPictures(std::int32_t Count, double Target);
  void RequantPicture(THeldFrame& Frame, double Share, double Alpha, std::int64_t TargetBits);

  // Parsed: where the analysis keeps the picture's macroblocks (re-quantising), or none.
  void AnalyseHeldFrame(THeldFrame& Frame, TPictureCost& Cost, TParsedGroup* Parsed = nullptr);
  void CutRequantisedGroup(std::int32_t Count, TGroupReport& Report);
  // The group in progress has ended: processes it, or holds it, or plans it with the one before.
  void CloseGroup();
  // Processes the first Count held pictures as one group, whose first unit began after
  // InputBefore bytes of the input, and moves the rest to the front.
  void ProcessHeld(std::int32_t Count, std::int64_t InputBefore);
  void CutAndDeliver(THeldFrame& Frame, const TPictureCost& Cost, std::int32_t CutLevel, TGroupReport& Report);
  // Hands a unit to the receiver. Once the stream changes its headers are rewritten first (see
  // TRateDeclaration) and a picture's place in the output's buffer is followed (Fps: its
  // sequence's frame rate).
  void Deliver(std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType, double Periods = 1, double Fps = 0);
  // Takes the frame rate of a unit that begins a sequence; it holds for the pictures that follow.
  void FollowFrameRate(const std::uint8_t* Data, std::int32_t Size);
  double PictureBudget(const THeldFrame& Frame) const;

  TMPEGESVideoFrameSeparatorEx FSeparator;
  std::unique_ptr<TMPEGVideoTranscoder> FTranscoder;
  std::array<TParsedGroup, 2> FStores;  // the finished group's and the group in progress
  std::size_t FStore = 0;               // the group in progress's
  std::int32_t FStarted = 0;
  double FFps = 0;
  bool FProgressive = false;  // progressive_sequence of the sequence in force
  std::vector<THeldFrame> FFrames;
  std::vector<TPictureCost> FFrameBits;
  std::int32_t FFrameCount = 0;     // pictures held
  std::int32_t FFinishedCount = 0;  // of them, those of a finished group held for the next
  std::vector<std::int32_t> FLastCutLevels;
  TLockedInteger FMaxBitrate;
  TLockedDouble FBitsPerPicture;
  TBuffer FOutput;
  TBuffer FTrailer;
  bool FFlushing = false;
  std::int64_t FPicturesIn = 0;
  std::int64_t FPicturesOut = 0;
  double FFramePeriodsOut = 0;
  TMPEGESTransReceiveFunction FTransReceiveFunctionObj;
  TGroupReportFunction FGroupReport;
  TTransrateMethod FMethod = TTransrateMethod::Requant;
  TRequantTuning FTuning;
  std::array<double, 4> FAlpha{1.0, 1.0, 1.0, 1.0};  // rate model per picture_coding_type
  // The share of a picture's fixed bits (all but its run/level codes) its output keeps, per
  // picture_coding_type: the rate model's other half.
  std::array<double, 4> FFixedShare{1.0, 1.0, 1.0, 1.0};
  bool FModelLearnt = false;  // the rate model has seen a re-quantised group
  TRateDeclaration FRateDeclaration;
  // The output's buffer at the rate its headers declare, once they are rewritten (variable
  // rate: every vbv_delay is 0xFFFF).
  std::optional<TVbvModel> FVbv;
  std::int64_t FDamagedPictures = 0;
  TSizePlan FSizePlan;
  std::int64_t FUnitBytesSeen = 0;      // bytes of every unit the separator delivered
  std::int64_t FGroupStartSeen = 0;     // of them, those before the group in progress's first picture
  std::int64_t FFinishedStartSeen = 0;  // and before the finished group's
  std::int64_t FBytesDelivered = 0;     // bytes handed to the receive method
};

}  // namespace varlow
