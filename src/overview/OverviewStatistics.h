#pragma once
#include <cstdint>
#include <string>

#include "buffer/VbvModel.h"
#include "overview/OverviewRecords.h"

namespace varlow {

// Counts and extremes of the pictures of one coding type.
struct TTypeStatistics {
  std::int64_t Count = 0;
  std::int64_t TotalBytes = 0;
  std::int64_t MaxBytes = 0;
  std::int64_t MaxOffset = -1;  // offset of the largest picture; -1 when there is none
  std::int64_t MinBytes = 0;
  std::int64_t MinOffset = -1;
};

// The numbers of the statistics panel, `varlow-cli stats` and the JSON export, all computed from
// the scan's records. Bit rates are in bit/s, sizes in bytes.
struct TOverviewStatistics {
  // picture_coding_type 1, 2, 3, 4 (D) and everything else.
  TTypeStatistics I, P, B, D, Other;
  std::int64_t Pictures = 0;
  std::int64_t FieldPictures = 0;
  std::int64_t RepeatFirstField = 0;
  std::int64_t ProgressiveFrames = 0;

  std::int64_t Groups = 0;
  std::int64_t ClosedGroups = 0;
  std::int64_t OpenGroups = 0;
  std::int64_t BrokenLinks = 0;
  std::int64_t GroupLengthMin = 0;  // pictures per group
  std::int64_t GroupLengthMax = 0;
  std::int64_t GroupLengthMostCommon = 0;

  double Frames = 0;      // frame periods on show, repeated fields included
  double Duration = 0;    // seconds
  std::int64_t StreamBytes = 0;  // from the first start code to the end of the data scanned
  double AverageBitRate = 0;
  double PeakBitRateSecond = 0;   // most bits in one second of stream
  std::int64_t PeakSecondEndsAt = -1;  // offset of the picture that ends that second
  double PeakBitRateGroup = 0;    // one group's bits over its duration, the highest
  std::int64_t PeakGroupOffset = -1;

  // From the first sequence header.
  bool HasSequence = false;
  bool Mpeg2 = false;
  std::int64_t DeclaredBitRate = 0;  // 0 when variable
  bool VariableBitRate = false;      // MPEG-1's variable-rate marker instead of a rate
  std::int64_t VbvBufferBits = 0;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint32_t AspectRatioInformation = 0;
  double FrameRate = 0;
  std::string ChromaFormat;
  std::string ProfileLevel;
  bool ProgressiveSequence = false;
  std::string Scan;  // "progressive", "interlaced" or "" without a sequence header
  std::int64_t SequenceHeaders = 0;
  std::int64_t ParameterChanges = 0;  // sequence headers that changed the parameters

  // The video buffering verifier over the whole stream.
  TVbvSummary Vbv;

  std::int64_t DamagedUnits = 0;
  std::int64_t SkippedBytes = 0;
  std::string ScanState;  // "complete", "cancelled", "read failed", "running"
};

TOverviewStatistics ComputeStatistics(const TOverviewData& data);

// "MP@ML", "422P@HL", "SP@ML", ...; "MPEG-1" for a stream without sequence extension; the
// value in hexadecimal for a reserved one.
std::string ProfileLevelName(const TSequenceInfo& sequence);
// "4:2:0", "4:2:2", "4:4:4"; "reserved" for chroma_format 0.
std::string ChromaFormatName(std::uint32_t chroma_format);

} // namespace varlow
