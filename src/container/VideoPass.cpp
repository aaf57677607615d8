#include "container/VideoPass.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace varlow {

namespace {

constexpr std::size_t kFeedSize = 2 << 20;  // video bytes handed to the engine at a time

// Where a unit's header part ends: its first slice start code (the whole unit when it has none).
std::int32_t HeaderPart(const std::uint8_t* data, std::int32_t size) {
  for (std::int32_t i = 0; i + 3 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] >= 0x01 && data[i + 3] <= 0xAF) return i;
  return size;
}

} // namespace

std::int64_t TVideoFootprint::VideoTarget(std::int64_t SizeBytes, std::int64_t FileBytes) const {
  if (VideoBytes <= 0 || CarrierBytes <= 0) return SizeBytes;
  const double rest = static_cast<double>(FileBytes - CarrierBytes);
  const double waste = static_cast<double>(PartialPackets) * PartialWaste + static_cast<double>(Reserve);
  const double carriers = static_cast<double>(SizeBytes) - rest - waste;
  return static_cast<std::int64_t>(carriers * static_cast<double>(VideoBytes) / static_cast<double>(CarrierBytes));
}

std::int64_t CountGroupStarts(std::span<const std::uint8_t> bytes) {
  std::int64_t count = 0;
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
    if (bytes[i + 2] <= 1 && bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB8) ++count;
  return count;
}

TScratchFile::TScratchFile(const std::string& beside) {
  const auto slash = beside.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : beside.substr(0, slash);
  FPath = folder + "/.varlow-video-" + std::to_string(::getpid()) + "-" +
          std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".tmp";
  FFile = TFileStream::Open(FPath, TFileStream::Mode::Create);
  if (!FFile) throw std::runtime_error("Cannot create a scratch file in " + folder);
}

TScratchFile::~TScratchFile() { ::unlink(FPath.c_str()); }

TPositionMap::TPositionMap(std::vector<TVideoUnit> in, std::vector<TVideoUnit> out, std::int64_t inTotal,
                           std::int64_t outTotal)
    : FIn(std::move(in)), FOut(std::move(out)), FInTotal(inTotal), FOutTotal(outTotal) {
  // The output units are the last input units one for one.
  FSkipped = static_cast<std::int64_t>(FIn.size()) - static_cast<std::int64_t>(FOut.size());
  if (FSkipped < 0) throw std::runtime_error("the transrated video has more units than its input");
}

std::int64_t TPositionMap::Map(std::int64_t pos) const {
  if (pos >= FInTotal) return FOutTotal;
  auto it = std::upper_bound(FIn.begin(), FIn.end(), pos, [](std::int64_t p, const TVideoUnit& u) { return p < u.Start; });
  if (it == FIn.begin()) return 0;
  const auto k = static_cast<std::int64_t>(it - FIn.begin()) - 1;
  if (k < FSkipped) return 0;
  const TVideoUnit& a = FIn[static_cast<std::size_t>(k)];
  const TVideoUnit& b = FOut[static_cast<std::size_t>(k - FSkipped)];
  const std::int64_t d = pos - a.Start;
  if (d <= a.Header) return b.Start + std::min<std::int64_t>(d, b.Header);
  const std::int64_t inSlices = std::max<std::int64_t>(a.Size - a.Header, 1);
  const std::int64_t outSlices = b.Size - b.Header;
  return b.Start + b.Header + (d - a.Header) * outSlices / inSlices;
}

void TSequentialReader::Append(std::int64_t from, std::int64_t to, std::vector<std::uint8_t>& out) {
  while (from < to) {
    if (from < FStart || from >= FStart + static_cast<std::int64_t>(FValid)) {
      FStart = from;
      FValid = static_cast<std::size_t>(FFile.ReadAt(from, FBytes));
      if (FValid == 0) throw std::runtime_error("the transrated video ended early");
    }
    const auto at = static_cast<std::size_t>(from - FStart);
    const std::size_t take = std::min<std::size_t>(FValid - at, static_cast<std::size_t>(to - from));
    out.insert(out.end(), FBytes.begin() + static_cast<std::ptrdiff_t>(at),
               FBytes.begin() + static_cast<std::ptrdiff_t>(at + take));
    from += static_cast<std::int64_t>(take);
  }
}

void TPacketOutput::Write(std::span<const std::uint8_t> bytes) {
  if (FBytes.size() + bytes.size() > kSize) Flush();
  if (bytes.size() >= kSize) {
    FFile.Write(bytes);
    return;
  }
  FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
}

void TPacketOutput::Flush() {
  if (FBytes.empty()) return;
  FFile.Write(FBytes);
  FBytes.clear();
}

TVideoPass::TVideoPass(const TTransrateOptions& options, const std::string& outputPath)
    : FScratch(outputPath), FFeed(kFeedSize) {
  FEngine.SetMethod(options.Method);
  FEngine.SetThreads(options.Threads);
  FEngine.SetMaxOutputBitrate(options.Bitrate);
  FEngine.SetMPEGESTransReceiveFunctionObj([this](const std::uint8_t* data, std::int32_t n, std::int32_t type) {
    try {
      FScratch.File().Append({data, static_cast<std::size_t>(n)});
    } catch (const std::exception& e) {
      if (FWriteError.empty()) FWriteError = e.what();
      return E_FAIL;
    }
    FOut.push_back({FOutTotal, n, HeaderPart(data, n), type, false});
    FOutTotal += n;
    return S_OK;
  });
  FEngine.SetGroupReportFunction([this](const TGroupReport& report) {
    FSeconds += report.Seconds;
    FOverBudget.Add(report);
  });
  FSeparator.SetMPEGESReceiveFunctionObj([this](std::int32_t, std::int32_t, const std::uint8_t* data, std::int32_t n) {
    FIn.push_back({FSeparated, n, HeaderPart(data, n), FSeparator.FrameCodingType(), FSeparator.GOPStart()});
    FSeparated += n;
    return S_OK;
  });
}

void TVideoPass::FlushFeed() {
  if (FFed == 0) return;
  FEngine.AddData(FFeed.Data(), static_cast<std::int32_t>(FFed));
  FSeparator.AddData(FFeed.Data(), static_cast<std::int32_t>(FFed));
  FFed = 0;
}

void TVideoPass::Feed(std::span<const std::uint8_t> bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t take = std::min(bytes.size() - at, kFeedSize - FFed);
    std::memcpy(FFeed.Data() + FFed, bytes.data() + at, take);
    FFed += take;
    at += take;
    if (FFed == kFeedSize) FlushFeed();
  }
  FVideoIn += static_cast<std::int64_t>(bytes.size());
}

std::string TVideoPass::Finish(TTransrateResult& result) {
  FlushFeed();
  FEngine.Flush();
  FSeparator.Flush();
  result.PicturesIn = FEngine.PicturesIn();
  result.PicturesOut = FEngine.PicturesOut();
  result.VideoBytesIn = FVideoIn;
  result.VideoBytesOut = FOutTotal;
  FOverBudget.Fill(result);
  FillDeclaration(result, FEngine);
  result.Seconds = FSeconds;
  result.AverageBitrate = FSeconds > 0 ? static_cast<double>(FOutTotal) * 8 / FSeconds : 0;
  if (!FWriteError.empty()) return FWriteError;
  if (!FEngine.Error().empty()) return "The transrate stopped: " + FEngine.Error();
  if (result.PicturesIn == 0) return "No MPEG video picture from an intra picture on in the container's video";
  if (result.PicturesOut != result.PicturesIn)
    return std::to_string(result.PicturesIn - result.PicturesOut) + " of " + std::to_string(result.PicturesIn) +
           " pictures could not be written";
  // Bytes before the first unit (none in a stream that starts at a start code) belong to no unit.
  if (!FIn.empty() && FSeparated < FVideoIn) {
    const std::int64_t lead = FVideoIn - FSeparated;
    for (TVideoUnit& u : FIn) u.Start += lead;
    FIn.insert(FIn.begin(), TVideoUnit{0, lead, static_cast<std::int32_t>(std::min<std::int64_t>(lead, 1 << 30)), 0, false});
  }
  FMap = TPositionMap(std::move(FIn), std::move(FOut), FVideoIn, FOutTotal);
  return {};
}

TContainerRun::TContainerRun(std::int64_t inputSize, const std::string& outputPath, const TTransrateOptions& options,
                             const TTransrateProgressFunction& progress)
    : FSize(inputSize), FProgress(progress), FOutput(outputPath), FPass(options, outputPath), FWritten(FOutput) {
  FResult.InputBytes = inputSize;
}

bool TContainerRun::Report(std::int64_t done) {
  if (!FProgress) return true;
  TTransrateProgress progress;
  progress.InputSize = FSize;
  progress.InputRead = done;
  progress.PicturesOut = FPass.PicturesOut();
  progress.OutputBytes = FWritten.Written();
  return FProgress(progress);
}

bool TContainerRun::Progress(bool secondPass, std::int64_t offset) {
  if ((++FCalls & 0x3FF) != 0) return true;
  return Report((secondPass ? FSize / 2 : 0) + offset / 2);
}

TTransrateResult TContainerRun::Fail(std::string message, TTransrateStatus status) {
  FResult.Status = status;
  FResult.Message = std::move(message);
  return FResult;
}

TTransrateResult TContainerRun::Commit(std::string carried) {
  FWritten.Flush();
  FResult.Carried = std::move(carried);
  FResult.OutputBytes = FOutput.Written();
  if (!Report(FSize)) return Cancelled();
  FOutput.Commit();
  FResult.Status = TTransrateStatus::Succeeded;
  return FResult;
}

} // namespace varlow
