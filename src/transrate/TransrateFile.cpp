#include "transrate/TransrateFile.h"

#include "container/ContainerLayout.h"
#include "container/ContainerTransrate.h"
#include "container/OpenSource.h"

#include <algorithm>
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
  TRun(const TTransrateOptions& options, TTemporaryOutputFile& output) : FOutput(output) {
    FTransrate.SetMethod(options.Method);
    FTransrate.SetMaxOutputBitrate(options.Bitrate);
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
      ++FGroups;
      if (report.OutputBits > report.BudgetBits) ++FGroupsOverBudget;
      FSeconds += report.Seconds;
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
    result.Groups = FGroups;
    result.GroupsOverBudget = FGroupsOverBudget;
  }

private:
  TTemporaryOutputFile& FOutput;
  TMPEG2VideoTransrateClass FTransrate;
  std::string FWriteError;
  std::int32_t FGroups = 0;
  std::int32_t FGroupsOverBudget = 0;
  double FSeconds = 0;
};

TTransrateResult Run(const std::string& InputPath, const std::string& OutputPath, const TTransrateOptions& Options,
                     const TTransrateProgressFunction& Progress) {
  TTransrateResult result;
  const auto input = TFileStream::Open(InputPath, TFileStream::Mode::ReadOnly);
  if (!input) return Fail(result, "Cannot open " + InputPath);
  if (const auto existing = TFileStream::Open(OutputPath, TFileStream::Mode::ReadOnly);
      existing && existing->Device() == input->Device() && existing->Inode() == input->Inode())
    return Fail(result, "The output file " + OutputPath + " is the input file", TTransrateStatus::Refused);

  // A container comes out as the same container, its other streams carried along.
  if (const auto format = ProbeContainer(*input)) {
    TOpenedSource opened = OpenVideoSource(InputPath, TFileStream::Mode::ReadOnly, Options.Stream);
    if (!opened.Source) return Fail(result, InputPath + ": " + opened.Refusal);
    if (format->Kind == TContainerKind::Program)
      return TransrateProgramStream(*opened.Source, OutputPath, Options, Progress);
    return TransrateTransportStream(*opened.Source, OutputPath, Options, Progress);
  }
  if (Options.Stream >= 0) return Fail(result, InputPath + " is no transport stream: it has no streams to choose");

  TPaddedBuffer block(kBlockSize);
  std::int64_t count = ReadBlockAt(*input, 0, block, kBlockSize);
  if (count == 0) return Fail(result, InputPath + " is empty");
  if (const auto code = FirstStartCode(block.Data(), count); code && *code >= kFirstSystemCode)
    return Fail(result, InputPath + " is a program or transport stream, not a video elementary stream");

  TTemporaryOutputFile output(OutputPath);
  TRun run(Options, output);
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
  if (result.PicturesIn == 0) return Fail(result, "No MPEG video picture from an intra picture on in " + InputPath);
  if (result.PicturesOut != result.PicturesIn)
    return Fail(result, std::to_string(result.PicturesIn - result.PicturesOut) + " of " +
                            std::to_string(result.PicturesIn) + " pictures could not be written");
  if (!report()) return Fail(result, "Cancelled", TTransrateStatus::Cancelled);
  output.Commit();
  result.Status = TTransrateStatus::Succeeded;
  return result;
}

}  // namespace

double TTransrateProgress::Share() const {
  if (InputSize <= 0) return 0;
  return std::clamp(static_cast<double>(InputRead) / static_cast<double>(InputSize), 0.0, 1.0);
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
