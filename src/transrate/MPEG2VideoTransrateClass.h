#pragma once
#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "buffer/VbvModel.h"
#include "support/HResult.h"
#include "support/LockedVariable.h"
#include "support/WorkerPool.h"
#include "transrate/Buffer.h"
#include "transrate/HeldGroup.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/GroupProcessor.h"
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

using TGroupReportFunction = std::function<void(const TGroupReport&)>;

// Brings an MPEG-2 video elementary stream under a maximum bit rate. The input arrives in
// blocks; the separator cuts picture units; the pictures of one group of pictures are held, and
// when the next group begins the group goes to a worker, which analyses it and brings it within
// the budget of its duration: by re-quantising its blocks (the default method) or by choosing
// one cut level per picture from the cost curves (TGroupProcessor). Groups are processed side
// by side on as many threads as asked for; their pictures go, in stream order, to the receive
// method on the thread that feeds the input. Re-quantising holds a finished group until the
// next one has ended too: a short group after it (a lone intra picture ending a recording, a
// splice) is then planned together with it, the two within their joint budget, instead of being
// crushed into the budget of its own few pictures. Nothing a group is given depends on when
// other groups finish (see TRequantTuning::ModelLag), so the output is the same for any number
// of threads.
class TMPEG2VideoTransrateClass {
 public:
  static constexpr int kMaxFrames = 1024;
  static constexpr int kMaxLevel = TPictureCost::kMaxLevel;

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
  using TRequantTuning = varlow::TRequantTuning;
  void SetRequantTuning(const TRequantTuning& Tuning) { FTuning = Tuning; }
  // Threads that process groups: 0 for the machine's cores, 1 to process each group on the
  // feeding thread as it ends. Set before the first block.
  void SetThreads(int Threads) { FThreadsAsked = Threads; }
  // Why processing stopped on an internal error, when it did: the pictures of the group it met
  // it in, and of every group after, are not delivered.
  const std::string& Error() const { return FError; }
  // Where the workers' time went: CPU seconds of the groups' analyses and of their plans, which
  // follow one another (each waits for the one before), so a run takes at least the plans' time
  // however many threads it has.
  struct TWorkTimes {
    std::size_t Threads = 0;
    double Analyses = 0;
    double Plans = 0;
  };
  const TWorkTimes& WorkTimes() const { return FWorkTimes; }
  // Called on the worker about to process group Index, groups numbered from 0 in stream order
  // (for tests: a hook that throws stands for a fault in the worker).
  void SetWorkerHook(std::function<void(std::int64_t Index)> Hook) { FWorkerHook = std::move(Hook); }
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
  // Holds one picture.
  HRESULT AddFrame(const std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType, bool GOPStart);
  // Ends the group being held and hands out every group held; waits for them and delivers them.
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
  // The group in progress has ended: hands it out, or holds it, or joins it to the one before.
  void CloseGroup();
  // Hands a held group to the workers (or processes it here with one thread), once fewer groups
  // than threads are out; delivers the groups before it that are done.
  void Dispatch(std::unique_ptr<THeldGroup> Group);
  // A worker's job: analyses and processes Group and marks it done.
  void RunGroup(THeldGroup& Group, TGroupProcessor& Processor);
  // What a processed group leaves the groups after it: the rate model as its pictures left it,
  // the output bytes of it and every group before it, and the decoder's buffer.
  struct TGroupOutcome {
    TRateModel Model;
    std::int64_t BytesThrough = 0;
    TBufferGuard Buffer;  // the decoder's buffer after it, where one is kept
  };
  // The outcome of group Index (an empty one before the first group); waits until that group
  // has been processed. False when the run is being stopped.
  bool WaitForOutcome(std::int64_t Index, TGroupOutcome& Outcome);
  // Delivers the oldest group out, waiting for it when Wait; false when there is none (or it is
  // not done and Wait is false).
  bool DeliverOldest(bool Wait);
  void DeliverGroup(THeldGroup& Group);
  std::unique_ptr<THeldGroup> NewGroup();
  void StartWorkers();
  void StopWorkers();
  // Hands a unit to the receiver. Once the stream changes its headers are rewritten first (see
  // TRateDeclaration) and a picture's place in the output's buffer is followed (Fps: its
  // sequence's frame rate).
  void Deliver(std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType, double Periods = 1, double Fps = 0);
  // Takes the frame rate of a unit that begins a sequence; it holds for the pictures that follow.
  void FollowFrameRate(const std::uint8_t* Data, std::int32_t Size);
  double PictureBudget(const THeldFrame& Frame) const;

  TMPEGESVideoFrameSeparatorEx FSeparator;
  // Follows the headers unit by unit, so each held picture knows the sequence values its
  // analysis starts from before any worker analyses it.
  std::unique_ptr<TMPEGVideoTranscoder> FHeaderReader;
  std::int32_t FStarted = 0;
  double FFps = 0;
  bool FProgressive = false;  // progressive_sequence of the sequence in force
  std::unique_ptr<THeldGroup> FCurrent;   // the group in progress
  std::unique_ptr<THeldGroup> FFinished;  // a finished group held for the next (re-quantising)
  std::vector<std::unique_ptr<THeldGroup>> FSpare;  // processed groups, kept for their buffers
  std::vector<std::int32_t> FLastCutLevels;
  TLockedInteger FMaxBitrate;
  TLockedDouble FBitsPerPicture;
  TBuffer FTrailer;
  bool FFlushing = false;
  std::int64_t FPicturesIn = 0;
  std::int64_t FPicturesOut = 0;
  double FFramePeriodsOut = 0;
  TMPEGESTransReceiveFunction FTransReceiveFunctionObj;
  TGroupReportFunction FGroupReport;
  std::function<void(std::int64_t)> FWorkerHook;
  TTransrateMethod FMethod = TTransrateMethod::Requant;
  TRequantTuning FTuning;
  TRateDeclaration FRateDeclaration;
  // The output's buffer at the rate its headers declare, once they are rewritten (variable
  // rate: every vbv_delay is 0xFFFF).
  std::optional<TVbvModel> FVbv;
  std::int64_t FDamagedPictures = 0;
  TSizePlan FSizePlan;
  std::int64_t FUnitBytesSeen = 0;      // bytes of every unit the separator delivered
  std::string FError;

  // The workers and the groups out with them, oldest first.
  int FThreadsAsked = 0;
  std::size_t FThreads = 0;  // 0 until the first group is handed out
  std::vector<std::unique_ptr<TGroupProcessor>> FProcessors;
  std::unique_ptr<TWorkerPool> FPool;
  std::deque<std::unique_ptr<THeldGroup>> FOut;
  TWorkTimes FWorkTimes;
  std::int64_t FGroupsOut = 0;        // groups handed out so far
  std::int64_t FGroupsDelivered = 0;  // of them, those delivered
  // Shared with the workers, under FLock: the groups' Done and their outcomes.
  std::mutex FLock;
  std::condition_variable FChanged;
  std::map<std::int64_t, TGroupOutcome> FOutcomes;
  bool FStopping = false;
};

}  // namespace varlow
