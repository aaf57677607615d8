#include "transrate/TransrateFile.h"

#include "container/ContainerLayout.h"
#include "container/ContainerTransrate.h"
#include "container/OpenSource.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "support/FileStream.h"
#include "support/PaddedBuffer.h"
#include "support/Trap.h"
#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/TemporaryOutputFile.h"

namespace varlow {

namespace {

constexpr std::size_t kBlockSize = 2 * 1024 * 1024;
// Start codes from here on belong to system layers (pack, system header, PES packets).
constexpr std::uint8_t kFirstSystemCode = 0xB9;

// The value of the first start code in the block, if it has one.
std::optional<std::uint8_t> FirstStartCode(const std::uint8_t* data, std::int64_t size) {
  for (std::int64_t i = 0; i + 3 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return data[i + 3];
  return std::nullopt;
}

TTransrateResult Fail(TTransrateResult result, std::string message,
                      TTransrateStatus status = TTransrateStatus::Failed) {
  result.Status = status;
  result.Message = std::move(message);
  return result;
}

// One run: the controller, its output file and the counts.
class TRun {
public:
  TRun(const TTransrateOptions& options, std::int64_t inputSize, TTemporaryOutputFile& output) : FOutput(output) {
    FTransrate.SetMethod(options.Method);
    FTransrate.SetThreads(options.Threads);
    FTransrate.SetMaxOutputBitrate(options.Bitrate);
    // An elementary stream's output is all video: the size asked is the video's.
    if (options.SizeBytes > 0) FTransrate.SetSizeTarget(inputSize, options.SizeBytes);
    FTransrate.SetMPEGESTransReceiveFunctionObj([this](const std::uint8_t* Data, std::int32_t Size, std::int32_t) {
      HRESULT result = E_FAIL;
      if (FWriteError.empty()) {
        try {
          FOutput.Write({Data, static_cast<std::size_t>(Size)});
          result = S_OK;
        } catch (const std::exception& e) {
          FWriteError = e.what();  // the first failure is the one worth reporting
        }
      }
      return result;
    });
    FTransrate.SetGroupReportFunction([this](const TGroupReport& report) {
      FSeconds += report.Seconds;
      FOverBudget.Add(report);
    });
  }

  TMPEG2VideoTransrateClass& Transrate() { return FTransrate; }
  const std::string& WriteError() const { return FWriteError; }

  void Fill(TTransrateResult& result) const {
    result.PicturesIn = FTransrate.PicturesIn();
    result.PicturesOut = FTransrate.PicturesOut();
    result.OutputBytes = FOutput.Written();
    result.Seconds = FSeconds;
    result.AverageBitrate = FSeconds > 0 ? static_cast<double>(FOutput.Written()) * 8 / FSeconds : 0;
    FOverBudget.Fill(result);
    result.VideoBytesOut = FOutput.Written();
    FillDeclaration(result, FTransrate);
  }

private:
  TTemporaryOutputFile& FOutput;
  TMPEG2VideoTransrateClass FTransrate;
  std::string FWriteError;
  TOverBudgetCount FOverBudget;
  double FSeconds = 0;
};

// The options with a ratio turned into the size it asks for.
TTransrateOptions ResolveSize(TTransrateOptions options, std::int64_t inputSize) {
  if (options.SizeBytes <= 0 && options.Ratio > 0)
    options.SizeBytes = std::max<std::int64_t>(std::llround(options.Ratio * static_cast<double>(inputSize)), 1);
  return options;
}

TTransrateResult Run(const std::string& InputPath, const std::string& OutputPath, const TTransrateOptions& Asked,
                     const TTransrateProgressFunction& Progress) {
  TTransrateResult result;
  const auto input = TFileStream::Open(InputPath, TFileStream::Mode::ReadOnly);
  if (!input) return Fail(result, "Cannot open " + InputPath);
  if (Asked.Ratio < 0 || Asked.Ratio > 1) return Fail(result, "The ratio must lie above 0 and at most 1");
  const TTransrateOptions Options = ResolveSize(Asked, std::max<std::int64_t>(input->Size(), 0));
  if (Options.SizeBytes > 0 && Options.KeepMuxRate)
    return Fail(result, "A size cannot be aimed at when the container keeps its mux rate: its size stays as it is");
  result.SizeAsked = Options.SizeBytes;
  if (const auto existing = TFileStream::Open(OutputPath, TFileStream::Mode::ReadOnly);
      existing && existing->Device() == input->Device() && existing->Inode() == input->Inode())
    return Fail(result, "The output file " + OutputPath + " is the input file", TTransrateStatus::Refused);

  // A container comes out as the same container, its other streams carried along.
  if (const auto format = ProbeContainer(*input)) {
    TOpenedSource opened = OpenVideoSource(InputPath, TFileStream::Mode::ReadOnly, Options.Stream);
    if (!opened.Source) return Fail(result, InputPath + ": " + opened.Refusal);
    TTransrateResult contained = format->Kind == TContainerKind::Program
                                     ? TransrateProgramStream(*opened.Source, OutputPath, Options, Progress)
                                     : TransrateTransportStream(*opened.Source, OutputPath, Options, Progress);
    contained.SizeAsked = Options.SizeBytes;
    return contained;
  }
  if (Options.Stream >= 0) return Fail(result, InputPath + " is no transport stream: it has no streams to choose");

  TPaddedBuffer block(kBlockSize);
  std::int64_t count = ReadBlockAt(*input, 0, block, kBlockSize);
  if (count == 0) return Fail(result, InputPath + " is empty");
  if (const auto code = FirstStartCode(block.Data(), count); code && *code >= kFirstSystemCode)
    return Fail(result, InputPath + " is a program or transport stream, not a video elementary stream");

  TTemporaryOutputFile output(OutputPath);
  TRun run(Options, std::max<std::int64_t>(input->Size(), 0), output);
  TTransrateProgress progress;
  progress.InputSize = std::max<std::int64_t>(input->Size(), 0);
  auto report = [&] {
    if (!Progress) return true;
    TTransrateResult sofar;
    run.Fill(sofar);
    progress.InputRead = result.InputBytes;
    progress.PicturesOut = sofar.PicturesOut;
    progress.OutputBytes = sofar.OutputBytes;
    progress.OutputBitrate = sofar.AverageBitrate;
    return Progress(progress);
  };

  while (count > 0) {
    run.Transrate().AddData(block.Data(), static_cast<std::int32_t>(count));
    result.InputBytes += count;
    if (!run.WriteError().empty()) break;
    if (!report()) {
      run.Fill(result);
      return Fail(result, "Cancelled", TTransrateStatus::Cancelled);
    }
    count = ReadBlockAt(*input, result.InputBytes, block, kBlockSize);
  }
  if (run.WriteError().empty()) run.Transrate().Flush();
  run.Fill(result);
  if (!run.WriteError().empty()) return Fail(result, run.WriteError());
  if (!run.Transrate().Error().empty()) return Fail(result, "The transrate stopped: " + run.Transrate().Error());
  if (result.PicturesIn == 0) return Fail(result, "No MPEG video picture from an intra picture on in " + InputPath);
  if (result.PicturesOut != result.PicturesIn)
    return Fail(result, std::to_string(result.PicturesIn - result.PicturesOut) + " of " +
                            std::to_string(result.PicturesIn) + " pictures could not be written");
  if (!report()) return Fail(result, "Cancelled", TTransrateStatus::Cancelled);
  output.Commit();
  result.Status = TTransrateStatus::Succeeded;
  return result;
}

std::string Thousands(std::int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (std::ptrdiff_t at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return value < 0 ? "-" + digits : digits;
}

std::string Percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", share * 100);
  return text;
}

}  // namespace

void FillDeclaration(TTransrateResult& Result, const TMPEG2VideoTransrateClass& Engine) {
  Result.DeclaredRate = Engine.RateDeclaration().LoweredRate();
  Result.VariableRateDelays = Engine.RateDeclaration().Active();
  const TVbvSummary* vbv = Engine.OutputVbv();
  Result.VbvUnderflows = vbv != nullptr && vbv->Modelled ? vbv->Underflows : 0;
  Result.VbvBufferBits = vbv != nullptr ? vbv->BufferBits : 0;
}

std::string TransrateHeadersNote(const TTransrateResult& Result) {
  std::string note;
  if (Result.DeclaredRate > 0) note = "sequence headers declare " + Thousands(Result.DeclaredRate) + " bit/s";
  if (Result.VariableRateDelays)
    note += std::string(note.empty() ? "" : "; ") +
            "every picture's vbv_delay is 0xFFFF (variable rate: its pictures no longer arrive as a constant-rate "
            "encoder timed them)";
  return note;
}

double TTransrateProgress::Share() const {
  if (InputSize <= 0) return 0;
  return std::clamp(static_cast<double>(InputRead) / static_cast<double>(InputSize), 0.0, 1.0);
}

void TOverBudgetCount::Add(const TGroupReport& Report) {
  ++FGroups;
  if (Report.OutputBits <= Report.BudgetBits) return;
  ++FOver;
  FOverBits += Report.OutputBits;
  FAllowedBits += Report.BudgetBits;
}

void TOverBudgetCount::Fill(TTransrateResult& Result) const {
  Result.Groups = FGroups;
  Result.GroupsOverBudget = FOver;
  Result.OverBudgetBytes = FOverBits / 8;
  Result.OverBudgetAllowed = FAllowedBits / 8;
}

namespace {

// What the run missed of its size or rate, without the buffer's part.
std::string ShortfallOfRateOrSize(const TTransrateResult& Result, const TTransrateOptions& Options) {
  // Groups over budget are those whose fewest bits exceed it: the cut keeps any budget their
  // fixed part allows.
  const std::string groups =
      Result.GroupsOverBudget <= 0
          ? std::string()
          : Thousands(Result.GroupsOverBudget) + " of " + Thousands(Result.Groups) +
                " groups of pictures could not be brought under their budget: what no re-quantising removes "
                "(headers, macroblock modes, motion vectors, damaged pictures passed as they are) took them to " +
                Thousands(Result.OverBudgetBytes) + " bytes where " + Thousands(Result.OverBudgetAllowed) +
                " were allowed";
  if (Result.SizeAsked > 0) {
    if (Result.OutputBytes <= Result.SizeAsked) return {};
    const std::int64_t over = Result.OutputBytes - Result.SizeAsked;
    std::string text = "The output is " + Thousands(Result.OutputBytes) + " bytes, " + Thousands(over) + " bytes (" +
                       Percent(static_cast<double>(over) / static_cast<double>(Result.SizeAsked)) +
                       ") over the size asked (" + Thousands(Result.SizeAsked) + " bytes)";
    const std::int64_t carried = Result.OutputBytes - Result.VideoBytesOut;
    if (!Result.Carried.empty() && carried > 0)
      text += "; the container's other streams and packet headers take " + Thousands(carried) + " bytes of it";
    return text + (groups.empty() ? "." : "; " + groups + ".");
  }
  if (groups.empty()) return {};
  std::string text = groups + " at " + Thousands(Options.Bitrate) + " bit/s";
  if (Result.AverageBitrate > Options.Bitrate)
    text += "; the video averages " + Thousands(std::llround(Result.AverageBitrate)) + " bit/s, " +
            Percent(Result.AverageBitrate / Options.Bitrate - 1) + " over the rate asked";
  return text + ".";
}

} // namespace

std::string TransrateShortfall(const TTransrateResult& Result, const TTransrateOptions& Options) {
  std::string text = ShortfallOfRateOrSize(Result, Options);
  if (Result.VbvUnderflows > 0) {
    const std::string rate = Result.DeclaredRate > 0 ? Thousands(Result.DeclaredRate) + " bit/s" : "the rate";
    text += (text.empty() ? "" : " ") + std::string("At ") + rate + " its headers declare, a decoder's buffer (" +
            Thousands(Result.VbvBufferBits) + " bits) runs short before " + Thousands(Result.VbvUnderflows) +
            (Result.VbvUnderflows == 1 ? " picture" : " pictures") + ": a player may stall there.";
  }
  return text;
}


TTransrateResult TransrateFile(const std::string& InputPath, const std::string& OutputPath,
                               const TTransrateOptions& Options, const TTransrateProgressFunction& Progress) {
  TTransrateResult result;
  result.Message = "The transrate stopped on an internal error";
  Trap("TransrateFile", [&] {
    try {
      result = Run(InputPath, OutputPath, Options, Progress);
    } catch (const std::exception& e) {
      result.Status = TTransrateStatus::Failed;  // read and file errors carry their own text
      result.Message = e.what();
    }
  });
  return result;
}

}  // namespace varlow
