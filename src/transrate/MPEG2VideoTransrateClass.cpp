#include "transrate/MPEG2VideoTransrateClass.h"

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

// Room beyond the input size for a cut picture: the writer keeps four bytes in reserve.
constexpr std::int32_t kOutputMargin = 64;

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

// Members start empty; what needs memory is made inside the trap, so a failure is logged and
// the controller still exists (without a transcoder it holds no pictures).
TMPEG2VideoTransrateClass::TMPEG2VideoTransrateClass() {
  Trap("TMPEG2VideoTransrateClass.Create", [this] {
    FMaxBitrate.SetValue(10'000'000);
    FSeparator.SetMPEGESReceiveFunctionObj(
        [this](std::int32_t StreamId, std::int32_t Reserved, const std::uint8_t* Data, std::int32_t Size) {
          return MPEGESReceiveFunctionObj(StreamId, Reserved, Data, Size);
        });
    FTranscoder = std::make_unique<TMPEGVideoTranscoder>();
    FOutput.SetCapacity(kOutputBlockSize);
  });
}

TMPEG2VideoTransrateClass::~TMPEG2VideoTransrateClass() {
  Trap("TMPEG2VideoTransrateClass.Destroy", [this] {
    FFrames.clear();
    FFrameBits.clear();
    FTranscoder.reset();
  });
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
    if (FStarted && FTrailer.DataSize() > 0) Deliver(FTrailer.DataPtr(), FTrailer.DataSize(), 0);
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
    if (!FTranscoder) throw std::logic_error("no transcoder");  // its creation failed
    // A new GOP closes the group in progress; so does a group that filled its slots.
    const std::int32_t inProgress = FFrameCount - FFinishedCount;
    if ((GOPStart && inProgress > 0) || inProgress >= kMaxFrames) CloseGroup();
    const bool begins = FFrameCount == FFinishedCount;
    if (begins) {
      FGroupStartSeen = std::max<std::int64_t>(FUnitBytesSeen - Size, 0);
      // A group in progress takes the store the finished one does not hold.
      if (FFinishedCount > 0) FStore ^= 1;
    }
    // The slots grow with the longest group seen, up to kMaxFrames.
    if (FFrames.size() <= static_cast<std::size_t>(FFrameCount)) {
      FFrames.resize(static_cast<std::size_t>(FFrameCount) + 1);
      FFrameBits.resize(static_cast<std::size_t>(FFrameCount) + 1);
    }
    THeldFrame& frame = FFrames[static_cast<std::size_t>(FFrameCount)];
    if (!frame.Data) frame.Data = std::make_unique<TBuffer>(Size, 0);
    if (frame.Data->Capacity() < Size) frame.Data->SetCapacity(static_cast<std::int32_t>(Size * 1.5));
    frame.Data->Clear();
    frame.Data->Append(Data, Size);
    frame.Type = FrameType;
    frame.Fps = FFps;

    // The copy, with its zeroed padding, is what both passes read, so they see the same bytes.
    FTranscoder->SetMpeg1(FMethod == TTransrateMethod::Requant);
    // Re-quantising plans with the block bits and the cost curve alone; the cut record is made
    // only for the cut (a group cut after re-quantising walks the syntax instead).
    FTranscoder->SetCutRecording(FMethod != TTransrateMethod::Requant);
    frame.Sequence = FTranscoder->SequenceValues();
    // Re-quantising keeps the group's macroblocks from the analysis, to replay them.
    TParsedGroup* parsed = nullptr;
    if (FMethod == TTransrateMethod::Requant) {
      if (begins) FStores[FStore].Start(kParsedGroupBytes);
      parsed = &FStores[FStore];
    }
    frame.GroupStart = begins;
    AnalyseHeldFrame(frame, FFrameBits[static_cast<std::size_t>(FFrameCount)], parsed);
    frame.Periods = PicturePeriods(frame.Data->DataPtr(), Size, FProgressive);
    ++FFrameCount;
    ++FPicturesIn;
    result = S_OK;
  });
  return result;
}

// The analysis pass over a held picture (from the transcoder's current state): its cut
// record, its block bits, its cost curve (with Parsed: the curve's total alone, its
// macroblocks kept there, and its mean input quantiser); a picture it cannot parse is damaged.
void TMPEG2VideoTransrateClass::AnalyseHeldFrame(THeldFrame& Frame, TPictureCost& Cost, TParsedGroup* Parsed) {
  const std::int32_t Size = Frame.Data->DataSize();
  Frame.Parsed = Parsed;
  Frame.ParsedPicture = Parsed != nullptr ? Parsed->BeginPicture() : -1;
  const HRESULT analysed = FTranscoder->Analyse(Frame.Type, Frame.Data->DataPtr(), Size, Parsed);
  FTranscoder->TakeCutRecord(Frame.Record);
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

bool TMPEG2VideoTransrateClass::IsShortGroup(std::int32_t Pictures, std::int32_t Before) {
  return Pictures * 4 <= Before;
}

void TMPEG2VideoTransrateClass::CloseGroup() {
  const std::int32_t ended = FFrameCount - FFinishedCount;
  if (ended <= 0) return;
  if (FMethod != TTransrateMethod::Requant) {
    ProcessHeld(FFrameCount, FGroupStartSeen);  // the cut keeps every group to its own budget
    return;
  }
  if (FFinishedCount > 0) {
    if (IsShortGroup(ended, FFinishedCount)) {
      ProcessHeld(FFrameCount, FFinishedStartSeen);
      FFinishedCount = 0;
      return;
    }
    ProcessHeld(FFinishedCount, FFinishedStartSeen);
  }
  FFinishedCount = ended;
  FFinishedStartSeen = FGroupStartSeen;
}

HRESULT TMPEG2VideoTransrateClass::ProcessFrames() {
  HRESULT result = E_FAIL;
  Trap("TMPEG2VideoTransrateClass.ProcessFrames", [&] {
    CloseGroup();
    if (FFinishedCount > 0) ProcessHeld(FFinishedCount, FFinishedStartSeen);
    FFinishedCount = 0;
    result = S_OK;
  });
  return result;
}

void TMPEG2VideoTransrateClass::ProcessHeld(std::int32_t Count, std::int64_t InputBefore) {
  Trap("TMPEG2VideoTransrateClass.ProcessHeld", [&] {
    double budget = 0;
    TGroupReport report;
    report.Pictures = Count;
    for (int j = 0; j < Count; ++j) {
      const THeldFrame& frame = FFrames[static_cast<std::size_t>(j)];
      budget += PictureBudget(frame);
      if (frame.Fps > 0) report.Seconds += frame.Periods / frame.Fps;
      report.FixedBits += FFrameBits[static_cast<std::size_t>(j)].Bits[0];
      report.InputBits += static_cast<std::int64_t>(frame.Data->DataSize()) * 8;
    }
    report.BudgetBits = FSizePlan.Active() ? FSizePlan.GroupBudget(report.InputBits, InputBefore, FBytesDelivered)
                                           : static_cast<std::int64_t>(budget);
    // The first group that must shrink changes the stream: from it on, headers declare the
    // rate kept and pictures no longer carry constant-rate vbv_delay values.
    // The cut carries MPEG-1 pictures as they are: they stay as they came.
    const bool changes = FMethod == TTransrateMethod::Requant ||
                         FFrames[static_cast<std::size_t>(Count - 1)].Sequence.HaveSequenceExtension;
    if (report.InputBits > report.BudgetBits && changes && !FRateDeclaration.Active()) {
      FRateDeclaration = TRateDeclaration(FSizePlan.Active() ? 0 : FMaxBitrate.Value());
      FRateDeclaration.Start();
    }
    if (FMethod == TTransrateMethod::Requant) {
      RequantGroup(Count, report);
    } else {
      FLastCutLevels = FillCutLevels(FFrameBits, Count, report.BudgetBits);
      for (std::size_t j = 0; j < static_cast<std::size_t>(Count); ++j)
        CutAndDeliver(FFrames[j], FFrameBits[j], FLastCutLevels[j], report);
    }
    if (FGroupReport) FGroupReport(report);
  });
  // The group is consumed even when a delivery failed; the pictures after it move up.
  const auto first = FFrames.begin();
  std::rotate(first, first + Count, first + FFrameCount);
  std::rotate(FFrameBits.begin(), FFrameBits.begin() + Count, FFrameBits.begin() + FFrameCount);
  FFrameCount -= Count;
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

void TMPEG2VideoTransrateClass::CutAndDeliver(THeldFrame& Frame, const TPictureCost& Cost, std::int32_t CutLevel,
                                              TGroupReport& Report) {
  std::uint8_t* input = Frame.Data->DataPtr();
  const std::int32_t inputSize = Frame.Data->DataSize();
  // Pictures that keep every code, and pictures the transcoder could not parse, go out as they
  // came in: a cut never amplifies damage in the input.
  if (Frame.Damaged) ++FDamagedPictures;
  if (Frame.Damaged || CutLevel >= Cost.MaxCoefIndex) {
    Report.OutputBits += static_cast<std::int64_t>(inputSize) * 8;
    Deliver(input, inputSize, Frame.Type, Frame.Periods, Frame.Fps);
    return;
  }
  // The output block is sized for the picture, so a cut never loses its end.
  const std::int32_t needed = inputSize + kOutputMargin;
  if (FOutput.Capacity() < needed) FOutput.SetCapacity(std::max(needed, FOutput.Capacity() + FOutput.Capacity() / 2));
  // The writer zero-fills its destination: hand it only what the picture can need.
  std::int32_t outputSize = needed;
  const auto following = FTranscoder->SequenceValues();
  FTranscoder->SetSequenceValues(Frame.Sequence);
  FTranscoder->UseCutRecord(&Frame.Record);
  const HRESULT cut = FTranscoder->Cut(Frame.Type, input, FOutput.DataPtr(), inputSize, outputSize, CutLevel);
  FTranscoder->SetSequenceValues(following);  // the next analysis goes on from the latest headers
  if (cut < 0 || FTranscoder->Damaged() || outputSize <= 0 || outputSize > inputSize) {
    if (FTranscoder->Damaged()) ++FDamagedPictures;
    Report.OutputBits += static_cast<std::int64_t>(inputSize) * 8;
    Deliver(input, inputSize, Frame.Type, Frame.Periods, Frame.Fps);
    return;
  }
  Report.OutputBits += static_cast<std::int64_t>(outputSize) * 8;
  Deliver(FOutput.DataPtr(), outputSize, Frame.Type, Frame.Periods, Frame.Fps);
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
  FBytesDelivered += Size;
  if (FrameType != 0 && r >= 0) {
    ++FPicturesOut;
    FFramePeriodsOut += Periods;
  }
}

} // namespace varlow
