#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/TransrateMethod.h"

namespace varlow {

// Where a file transrate stands, reported after each block of input.
struct TTransrateProgress {
  std::int64_t InputRead = 0;   // bytes of the input read so far
  std::int64_t InputSize = 0;   // the input's size when the run began
  std::int64_t PicturesOut = 0;
  std::int64_t OutputBytes = 0;
  double OutputBitrate = 0;     // average bit/s of the output written so far (0 until a group is out)

  // Share of the input read, 0 .. 1.
  double Share() const;
};

// Called on the running thread after each block; returning false cancels the run.
using TTransrateProgressFunction = std::function<bool(const TTransrateProgress&)>;

// The output rates a transrate can be asked for, in bit/s: from the rates of CIF, VCD and archive
// material up to broadcast contribution rates.
inline constexpr std::int32_t kMinTransrateBitrate = 100'000;
inline constexpr std::int32_t kMaxTransrateBitrate = 50'000'000;

struct TTransrateOptions {
  std::int32_t Bitrate = 5'000'000;
  // Aim at an output size instead of the rate: SizeBytes (the whole output file), or Ratio
  // (0 < Ratio <= 1) times the input file's size. 0 for neither; SizeBytes wins over Ratio.
  std::int64_t SizeBytes = 0;
  double Ratio = 0;
  TTransrateMethod Method = TTransrateMethod::Requant;
  std::int32_t Stream = -1;   // a container's video stream, as OpenVideoSource takes it
  bool KeepMuxRate = false;   // a container keeps its size and every other packet's place
  // Threads that process groups of pictures: 0 for the machine's cores. The output is the same
  // for any number.
  int Threads = 0;
};

enum class TTransrateStatus {
  Succeeded,
  Cancelled,
  Failed,
  Refused,  // the output path names the input file
};

struct TTransrateResult {
  TTransrateStatus Status = TTransrateStatus::Failed;
  std::string Message;  // why the run failed or was refused; empty on success
  std::int64_t PicturesIn = 0;
  std::int64_t PicturesOut = 0;
  std::int64_t InputBytes = 0;   // bytes read
  std::int64_t OutputBytes = 0;  // bytes written
  double Seconds = 0;            // playing time of the pictures written
  double AverageBitrate = 0;     // OutputBytes * 8 / Seconds
  std::int32_t Groups = 0;
  std::int32_t GroupsOverBudget = 0;  // groups whose output exceeded their bit budget
  // The groups over budget: what they came to and what they were allowed, in bytes.
  std::int64_t OverBudgetBytes = 0;
  std::int64_t OverBudgetAllowed = 0;
  std::int64_t SizeAsked = 0;   // the output size aimed at, when one was (the ratio's included)
  // In a container: what else was carried ("1 other stream, 5,000 packets"), and the video's
  // own elementary-stream bytes in and out.
  std::string Carried;
  std::int64_t VideoBytesIn = 0;
  std::int64_t VideoBytesOut = 0;
  // What the output's headers declare once its pictures changed: the rate its sequence headers
  // were lowered to (0: they keep theirs), and whether vbv_delay became 0xFFFF (variable rate).
  std::int64_t DeclaredRate = 0;
  bool VariableRateDelays = false;
  // The output's buffer at that rate from its first rewritten picture on: the pictures that
  // found it short (none when it was not followed) and its size in bits.
  std::int64_t VbvUnderflows = 0;
  std::int64_t VbvBufferBits = 0;

  bool Succeeded() const { return Status == TTransrateStatus::Succeeded; }
};

// Counts the groups of a run and those that went over their budget, from the group reports.
class TOverBudgetCount {
public:
  void Add(const TGroupReport& Report);
  // Groups, GroupsOverBudget, OverBudgetBytes and OverBudgetAllowed.
  void Fill(TTransrateResult& Result) const;

private:
  std::int32_t FGroups = 0, FOver = 0;
  std::int64_t FOverBits = 0, FAllowedBits = 0;
};

// What a finished run could not keep, in a sentence or two for the summary: a size target the
// output exceeds or fell well short of, or groups that went over their budget, with how far off
// and why. Empty when the run kept its target.
std::string TransrateShortfall(const TTransrateResult& Result, const TTransrateOptions& Options);
// What the output's headers came to declare in a run of Engine, and its buffer's figures, into
// Result (DeclaredRate, VariableRateDelays, VbvUnderflows, VbvBufferBits).
void FillDeclaration(TTransrateResult& Result, const TMPEG2VideoTransrateClass& Engine);
// What the output's headers were made to declare, in a sentence; empty when they were left.
std::string TransrateHeadersNote(const TTransrateResult& Result);

// Transrates the file at InputPath into OutputPath: reads it in 2 MiB blocks from its start,
// feeds a transrate controller and writes what it delivers to a temporary file beside the
// target. Only a run that read the whole input and wrote every picture is flushed to disk and
// renamed over OutputPath; on cancel or failure the temporary file is removed and a file that
// was at OutputPath stays as it was. An OutputPath naming the input itself (same device and
// inode) is refused before anything is written.
TTransrateResult TransrateFile(const std::string& InputPath, const std::string& OutputPath,
                               const TTransrateOptions& Options, const TTransrateProgressFunction& Progress = {});

}  // namespace varlow
