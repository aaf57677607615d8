#include "transrate/MPEG2VideoTransrateClass.h"

#include <time.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "support/Log.h"
#include "support/Trap.h"
#include "syntax/CodeTables.h"
#include "syntax/PictureCodingTypes.h"
#include "transrate/MPEGVideoTranscoder.h"

namespace varlow {

namespace {

// CPU seconds the calling thread has run.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The byte-level look-ups report a failure straight to the debug channel, without the prefix.
template <class Body>
bool TrapToDebugChannel(const char* Message, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    try {
      OutputDebugStringA(Message);
    } catch (...) {
    }
    return false;
  }
}

bool IsStartCode(const std::uint8_t* d, std::int32_t i, std::uint8_t code) {
  return d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == code;
}

// Where the unit's first picture coding extension starts, with at least Bytes bytes from there
// in the unit; -1 when it has none.
std::int32_t PictureCodingExtensionAt(const std::uint8_t* Data, std::int32_t Size, std::int32_t Bytes) {
  for (std::int32_t i = 0; Size - i >= Bytes; ++i)
    if (IsStartCode(Data, i, 0xB5) && (Data[i + 4] >> 4) == 8) return i;
  return -1;
}

} // namespace

// Members start empty; what needs memory is made inside the trap, so a failure is logged and
// the controller still exists (without a transcoder it holds no pictures).
TMPEG2VideoTransrateClass::TMPEG2VideoTransrateClass() {
  Trap("TMPEG2VideoTransrateClass.Create", [this] {
    FMaxBitrate.SetValue(10'000'000);
    FSeparator.SetMPEGESReceiveFunctionObj(
        [this](std::int32_t StreamId, std::int32_t Reserved, const std::uint8_t* Data, std::int32_t Size) {
          return MPEGESReceiveFunctionObj(StreamId, Reserved, Data, Size);
        });
    FHeaderReader = std::make_unique<TMPEGVideoTranscoder>();
  });
}

TMPEG2VideoTransrateClass::~TMPEG2VideoTransrateClass() {
  Trap("TMPEG2VideoTransrateClass.Destroy", [this] { StopWorkers(); });
}

HRESULT TMPEG2VideoTransrateClass::SetMPEGESTransReceiveFunctionObj(TMPEGESTransReceiveFunction Method) {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.SetMPEGESTransReceiveFunctionObj", [&] {
    FTransReceiveFunctionObj = std::move(Method);
    result = S_OK;
  });
  return result;
}

HRESULT TMPEG2VideoTransrateClass::SetMaxOutputBitrate(std::int32_t Bitrate) {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.SetMaxOutputBitrate", [&] {
    FMaxBitrate.SetValue(Bitrate);
    if (FStarted) FBitsPerPicture.SetValue(Bitrate / FFps);
    result = S_OK;
  });
  return result;
}

HRESULT TMPEG2VideoTransrateClass::AddData(const std::uint8_t* Data, std::int32_t Size) {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.AddData", [&] { result = FSeparator.AddData(Data, Size); });
  return result;
}

HRESULT TMPEG2VideoTransrateClass::Flush() {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.Flush", [&] {
    FFlushing = true;
    FTrailer.Clear();
    const HRESULT separated = FSeparator.Flush();
    FFlushing = false;
    const HRESULT processed = ProcessFrames();
    if (FStarted && FError.empty() && FTrailer.DataSize() > 0) Deliver(FTrailer.DataPtr(), FTrailer.DataSize(), 0);
    FTrailer.Clear();
    result = separated < 0 || processed < 0 ? E_FAIL : S_OK;
  });
  return result;
}

HRESULT TMPEG2VideoTransrateClass::MPEGESReceiveFunctionObj(std::int32_t, std::int32_t, const std::uint8_t* Data,
                                                            std::int32_t Size) {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.MPEGESReceiveFunctionObj", [&] {
    FUnitBytesSeen += Size;
    const std::int32_t T = FSeparator.FrameCodingType();
    const bool gopStart = FSeparator.GOPStart();
    if (T == kIntraPicture || T == kPredictedPicture || T == kBidirectionalPicture) FollowFrameRate(Data, Size);
    if (T == kIntraPicture) {
      if (!FStarted) {
        // A frame rate without a value leaves the stream unstarted: the next intra picture
        // tries again.
        if (!(FFps > 0)) throw std::domain_error("no usable frame rate");
        FStarted = -1;
      }
      result = AddFrame(Data, Size, kIntraPicture, gopStart);
    } else if (T == kPredictedPicture || T == kBidirectionalPicture) {
      result = FStarted ? AddFrame(Data, Size, T, gopStart) : S_OK;
    } else if (T == 0 && FFlushing) {
      FTrailer.Append(Data, Size);  // the bytes after the last picture
      result = S_OK;
    } else {
      result = S_OK;
    }
  });
  return result;
}

bool TMPEG2VideoTransrateClass::GetParams(const std::uint8_t* Data, std::int32_t Size, double& Fps,
                                          bool& Progressive) {
  bool result = false;
  const bool ran = TrapToDebugChannel("wex: Error in GetParams call...", [&] {
    if (Data == nullptr) return;
    // The sequence header may follow a sequence end code (streams joined one after another);
    // a picture start code ends the headers.
    std::int32_t header = 0;
    while (Size - header > 4 && !IsStartCode(Data, header, 0xB3)) {
      if (IsStartCode(Data, header, 0x00)) return;
      ++header;
    }
    if (Size - header < 12 || !IsStartCode(Data, header, 0xB3)) return;
    const int frameRateCode = Data[header + 7] & 0x0F;
    int extensionN = 0;
    int extensionD = 0;
    for (std::int32_t i = header + 12; Size - i > 4 && !IsStartCode(Data, i, 0x00); ++i) {
      if (IsStartCode(Data, i, 0xB5) && (Data[i + 4] >> 4) == 1) {
        if (i + 9 < Size) {
          Progressive = (Data[i + 5] & 0x08) != 0;
          extensionN = (Data[i + 9] >> 5) & 3;
          extensionD = Data[i + 9] & 0x1F;
        }
        break;
      }
    }
    Fps = FrameRateFromCode(frameRateCode) * (extensionN + 1) / (extensionD + 1);
    result = true;
  });
  return ran && result;
}

bool TMPEG2VideoTransrateClass::GetPictureStructure(const std::uint8_t* Data, std::int32_t Size,
                                                    std::int32_t& Structure) {
  bool result = false;
  TrapToDebugChannel("wex: Error in GetPictureStructure call...", [&] {
    if (Data == nullptr) return;
    const std::int32_t at = PictureCodingExtensionAt(Data, Size, 7);
    if (at < 0) return;
    Structure = Data[at + 6] & 3;
    result = true;
  });
  return result;
}

double TMPEG2VideoTransrateClass::PicturePeriods(const std::uint8_t* Data, std::int32_t Size, bool ProgressiveSequence) {
  double periods = 1;
  TrapToDebugChannel("wex: Error in PicturePeriods call...", [&] {
    if (Data == nullptr) return;
    const std::int32_t at = PictureCodingExtensionAt(Data, Size, 8);
    if (at < 0) return;
    periods = PictureFramePeriods(true, (Data[at + 6] & 3) != kFramePicture, (Data[at + 7] & 0x02) != 0,
                                  (Data[at + 7] & 0x80) != 0, ProgressiveSequence);
  });
  return periods;
}

HRESULT TMPEG2VideoTransrateClass::AddFrame(const std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType,
                                            bool GOPStart) {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.AddFrame", [&] {
    if (!FHeaderReader) throw std::logic_error("no header reader");  // its creation failed
    // A new GOP closes the group in progress; so does a group that filled its slots.
    if (FCurrent && ((GOPStart && FCurrent->Count > 0) || FCurrent->Count >= kMaxFrames)) CloseGroup();
    if (!FCurrent) FCurrent = NewGroup();
    const bool begins = FCurrent->Count == 0;
    if (begins) FCurrent->InputBefore = std::max<std::int64_t>(FUnitBytesSeen - Size, 0);
    THeldFrame& frame = FCurrent->Add();
    if (!frame.Data) frame.Data = std::make_unique<TBuffer>(Size, 0);
    if (frame.Data->Capacity() < Size) frame.Data->SetCapacity(static_cast<std::int32_t>(Size * 1.5));
    frame.Data->Clear();
    frame.Data->Append(Data, Size);
    frame.Type = FrameType;
    frame.Fps = FFps;
    frame.GroupStart = begins;
    frame.Store = 0;
    frame.OutputSize = 0;
    // The copy, with its zeroed padding, is what every pass reads, so they all see the same
    // bytes. The headers are followed here, in stream order; the slices wait for a worker.
    frame.Sequence = FHeaderReader->SequenceValues();
    FHeaderReader->ReadHeaders(frame.Data->DataPtr(), Size);
    frame.Periods = PicturePeriods(frame.Data->DataPtr(), Size, FProgressive);
    ++FPicturesIn;
    result = S_OK;
  });
  return result;
}

bool TMPEG2VideoTransrateClass::IsShortGroup(std::int32_t Pictures, std::int32_t Before) {
  return Pictures * 4 <= Before;
}

std::unique_ptr<THeldGroup> TMPEG2VideoTransrateClass::NewGroup() {
  if (FSpare.empty()) return std::make_unique<THeldGroup>();
  std::unique_ptr<THeldGroup> group = std::move(FSpare.back());
  FSpare.pop_back();
  group->Count = 0;
  group->Error.clear();
  group->Done = false;
  group->Report = {};
  group->AnalysisSeconds = group->PlanSeconds = 0;
  return group;
}

void TMPEG2VideoTransrateClass::CloseGroup() {
  if (!FCurrent || FCurrent->Count == 0) return;
  std::unique_ptr<THeldGroup> ended = std::move(FCurrent);
  if (FMethod != TTransrateMethod::Requant) {
    Dispatch(std::move(ended));  // the cut keeps every group to its own budget
    return;
  }
  if (FFinished && IsShortGroup(ended->Count, FFinished->Count)) {
    // Planned with the one before: its pictures join that group, their macroblocks kept apart.
    for (std::size_t j = 0; j < static_cast<std::size_t>(ended->Count); ++j) {
      THeldFrame& frame = FFinished->Add();
      std::swap(frame, ended->Frames[j]);
      frame.Store = 1;
    }
    FSpare.push_back(std::move(ended));
    Dispatch(std::move(FFinished));
    return;
  }
  if (FFinished) Dispatch(std::move(FFinished));
  FFinished = std::move(ended);
}

HRESULT TMPEG2VideoTransrateClass::ProcessFrames() {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.ProcessFrames", [&] {
    CloseGroup();
    if (FFinished) Dispatch(std::move(FFinished));
    while (DeliverOldest(true)) {
    }
    LogDebugFmt("transrate: %d threads; CPU seconds of the groups' analyses %.3f, of their plans %.3f",
                {static_cast<std::int64_t>(FWorkTimes.Threads), FWorkTimes.Analyses, FWorkTimes.Plans});
    result = FError.empty() ? S_OK : E_FAIL;
  });
  return result;
}

void TMPEG2VideoTransrateClass::StartWorkers() {
  FThreads = ThreadsFor(FThreadsAsked);
  FWorkTimes.Threads = FThreads;
  FTuning.ModelLag = std::max(FTuning.ModelLag, 1);
  for (std::size_t i = 0; i < FThreads; ++i) FProcessors.push_back(std::make_unique<TGroupProcessor>(FMethod, FTuning));
  if (FThreads > 1) FPool = std::make_unique<TWorkerPool>(FThreads);
}

void TMPEG2VideoTransrateClass::StopWorkers() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  FPool.reset();  // drops the groups not begun, waits for those being processed
}

void TMPEG2VideoTransrateClass::Dispatch(std::unique_ptr<THeldGroup> Group) {
  if (FThreads == 0) StartWorkers();
  // At most one group per thread is out: with the group in progress and the finished one held,
  // N + 2 groups in all.
  while (FOut.size() >= FThreads && DeliverOldest(true)) {
  }
  THeldGroup& group = *Group;
  group.Index = FGroupsOut++;
  double budget = 0;
  TGroupReport& report = group.Report;
  report.Pictures = group.Count;
  for (std::size_t j = 0; j < static_cast<std::size_t>(group.Count); ++j) {
    const THeldFrame& frame = group.Frames[j];
    budget += PictureBudget(frame);
    if (frame.Fps > 0) report.Seconds += frame.Periods / frame.Fps;
    report.InputBits += static_cast<std::int64_t>(frame.Data->DataSize()) * 8;
  }
  // Aimed at a size, the budget waits for what the groups before came to (RunGroup).
  report.BudgetBits = static_cast<std::int64_t>(budget);
  // Re-quantised to a rate, the output declares that rate and keeps its buffer.
  group.BufferRate = FMethod == TTransrateMethod::Requant && !FSizePlan.Active() ? FMaxBitrate.Value() : 0;
  FOut.push_back(std::move(Group));
  if (!FPool) {
    RunGroup(group, *FProcessors.front());
  } else {
    try {
      FPool->Submit([this, &group](std::size_t Worker) { RunGroup(group, *FProcessors[Worker]); });
    } catch (const std::exception& e) {
      // A group out but never handed to a worker would be waited for for ever: it fails here,
      // and the run with it.
      {
        std::lock_guard lock(FLock);
        group.Error = e.what();
        FOutcomes[group.Index] = {};
        group.Done = true;
      }
      FChanged.notify_all();
    }
  }
  while (DeliverOldest(false)) {
  }
}

bool TMPEG2VideoTransrateClass::WaitForOutcome(std::int64_t Index, TGroupOutcome& Outcome) {
  if (Index < 0) {
    Outcome = TGroupOutcome();
    return true;
  }
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [&] { return FStopping || FOutcomes.contains(Index); });
  if (FStopping) return false;
  Outcome = FOutcomes.at(Index);
  return true;
}

void TMPEG2VideoTransrateClass::RunGroup(THeldGroup& Group, TGroupProcessor& Processor) {
  const bool sized = FSizePlan.Active();
  TGroupOutcome before;
  try {
    if (FWorkerHook) FWorkerHook(Group.Index);
    const double start = ThreadSeconds();
    Processor.Analyse(Group);
    Group.AnalysisSeconds = ThreadSeconds() - start;
    // Re-quantising plans from the model an earlier group left; a size is shared out from what
    // the groups before came to. Both wait for those groups, whatever thread processes them.
    TGroupOutcome from;
    const bool buffered = Group.BufferRate > 0;
    const bool ready = (FMethod != TTransrateMethod::Requant || WaitForOutcome(Group.Index - FTuning.ModelLag, from)) &&
                       (!(sized || buffered) || WaitForOutcome(Group.Index - 1, before));
    if (!ready) throw std::runtime_error("stopped");
    Group.Model = from.Model;
    // The buffer is full when the stream's first picture is due (a variable-rate decoder
    // waits for it to fill).
    Group.Buffer = buffered && before.Buffer.Active()
                       ? before.Buffer
                       : TBufferGuard(Group.BufferRate, Group.Frames.front().BufferBits);
    if (sized) Group.Report.BudgetBits = FSizePlan.GroupBudget(Group.Report.InputBits, Group.InputBefore, before.BytesThrough);
    const double planned = ThreadSeconds();
    Processor.Process(Group);
    Group.PlanSeconds = ThreadSeconds() - planned;
  } catch (const std::exception& e) {
    Group.Error = e.what();
  } catch (...) {
    Group.Error = "an unknown exception";
  }
  {
    std::lock_guard lock(FLock);
    FOutcomes[Group.Index] = {Group.Model, before.BytesThrough + Group.Report.OutputBits / 8, Group.Buffer};
    Group.Done = true;
  }
  FChanged.notify_all();
}

bool TMPEG2VideoTransrateClass::DeliverOldest(bool Wait) {
  if (FOut.empty()) return false;
  THeldGroup& group = *FOut.front();
  {
    std::unique_lock lock(FLock);
    if (!group.Done && !Wait) return false;
    FChanged.wait(lock, [&] { return group.Done; });
    // Outcomes no group still to be processed asks for.
    FOutcomes.erase(FOutcomes.begin(), FOutcomes.lower_bound(group.Index - FTuning.ModelLag));
  }
  std::unique_ptr<THeldGroup> done = std::move(FOut.front());
  FOut.pop_front();
  FWorkTimes.Analyses += done->AnalysisSeconds;
  FWorkTimes.Plans += done->PlanSeconds;
  Trap("TMPEG2VideoTransrateClass.DeliverGroup", [&] { DeliverGroup(*done); });
  ++FGroupsDelivered;
  FSpare.push_back(std::move(done));
  return true;
}

void TMPEG2VideoTransrateClass::DeliverGroup(THeldGroup& Group) {
  if (!Group.Error.empty() || !FError.empty()) {
    // Once a group failed, none after it is delivered: the output would lack its pictures.
    if (FError.empty()) FError = "a group of pictures could not be processed: " + Group.Error;
    return;
  }
  TGroupReport& report = Group.Report;
  // The first group that must shrink changes the stream: from it on, headers declare the
  // rate kept and pictures no longer carry constant-rate vbv_delay values.
  // The cut carries MPEG-1 pictures as they are: they stay as they came.
  const bool changes = FMethod == TTransrateMethod::Requant ||
                       Group.Frames[static_cast<std::size_t>(Group.Count - 1)].Sequence.HaveSequenceExtension;
  if (report.InputBits > report.BudgetBits && changes && !FRateDeclaration.Active()) {
    FRateDeclaration = TRateDeclaration(FSizePlan.Active() ? 0 : FMaxBitrate.Value());
    FRateDeclaration.Start();
  }
  for (std::size_t j = 0; j < static_cast<std::size_t>(Group.Count); ++j) {
    THeldFrame& frame = Group.Frames[j];
    if (frame.Damaged) ++FDamagedPictures;
    if (frame.OutputSize > 0) {
      Deliver(frame.Output->DataPtr(), frame.OutputSize, frame.Type, frame.Periods, frame.Fps);
    } else {
      Deliver(frame.Data->DataPtr(), frame.Data->DataSize(), frame.Type, frame.Periods, frame.Fps);
    }
  }
  FLastCutLevels = Group.CutLevels;
  if (FGroupReport) FGroupReport(report);
}

void TMPEG2VideoTransrateClass::FollowFrameRate(const std::uint8_t* Data, std::int32_t Size) {
  double fps = 0;
  bool progressive = false;
  if (!GetParams(Data, Size, fps, progressive)) return;
  if (fps != FFps || !FStarted) LogDebugFmt("FPS: %f", {fps});
  // A sequence header without a usable rate keeps the one in force.
  if (!(fps > 0)) return;
  FFps = fps;
  FProgressive = progressive;
  FBitsPerPicture.SetValue(FMaxBitrate.Value() / FFps);
}

// Bits one held picture may take: the time it stays on show at the rate asked for (a frame
// period, half of one for a field picture, more with repeat_first_field).
double TMPEG2VideoTransrateClass::PictureBudget(const THeldFrame& Frame) const {
  if (!(Frame.Fps > 0)) return 0;
  return FMaxBitrate.Value() / Frame.Fps * Frame.Periods;
}

void TMPEG2VideoTransrateClass::Deliver(std::uint8_t* Data, std::int32_t Size, std::int32_t FrameType,
                                        double Periods, double Fps) {
  FRateDeclaration.Rewrite({Data, static_cast<std::size_t>(std::max(Size, 0))});
  if (FRateDeclaration.Active() && FrameType != 0) {
    // Nothing bounds the stream's length here: the buffer fills as if it went on.
    if (!FVbv) FVbv.emplace(TVbvMode::Variable, std::numeric_limits<std::int64_t>::max() / 4);
    TVbvPicture picture;
    picture.UnitBits = std::int64_t{Size} * 8;
    picture.StartCodeEndBits = static_cast<std::int64_t>(FRateDeclaration.PictureStartEnd()) * 8;
    picture.CodingType = static_cast<std::uint8_t>(FrameType);
    picture.FieldPicture = Periods < 1;
    picture.FramePeriods = Periods;
    picture.BitRate = FRateDeclaration.Rate();
    picture.BufferBits = FRateDeclaration.BufferBits();
    picture.FrameRate = Fps > 0 ? Fps : FFps;
    picture.LowDelay = FRateDeclaration.LowDelay();
    FVbv->Add(picture);
  }
  const HRESULT r = FTransReceiveFunctionObj ? FTransReceiveFunctionObj(Data, Size, FrameType) : S_OK;
  if (FrameType != 0 && r >= 0) {
    ++FPicturesOut;
    FFramePeriodsOut += Periods;
  }
}

} // namespace varlow
