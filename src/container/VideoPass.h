#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "support/FileStream.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/TemporaryOutputFile.h"
#include "transrate/TransrateFile.h"

namespace varlow {

// One unit of the video as the engine cuts it: a picture with the headers in front of it.
struct TVideoUnit {
  std::int64_t Start = 0;   // in the video bytes
  std::int64_t Size = 0;
  std::int32_t Header = 0;  // bytes before the first slice
  std::int32_t Type = 0;    // picture_coding_type; 0 for what follows the last picture
  bool GroupStart = false;  // a group header lies in it
};

// Where a container's video lies, counted before a transrate aimed at a size: its elementary
// stream bytes, the file bytes of the packets that carry them (headers included), and how many
// packets end partly filled when the video is poured into fewer of them.
struct TVideoFootprint {
  std::int64_t VideoBytes = 0;
  std::int64_t CarrierBytes = 0;
  std::int64_t PartialPackets = 0;
  std::int32_t PartialWaste = 0;  // bytes a partial packet is taken to waste
  std::int64_t Reserve = 0;       // bytes kept in hand besides

  // The video bytes to aim at so that a file of FileBytes comes out at most SizeBytes: what
  // is not video stays as it is, the video's carriers shrink with it, and each partial packet
  // wastes PartialWaste; Reserve is kept free. Zero or less when the rest alone exceeds SizeBytes.
  std::int64_t VideoTarget(std::int64_t SizeBytes, std::int64_t FileBytes) const;
};

// The group start codes wholly inside `bytes`.
std::int64_t CountGroupStarts(std::span<const std::uint8_t> bytes);

// A scratch file beside the output for the transrated video, removed with the object.
class TScratchFile {
public:
  explicit TScratchFile(const std::string& beside);
  ~TScratchFile();
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;
  TFileStream& File() { return *FFile; }

private:
  std::string FPath;
  std::unique_ptr<TFileStream> FFile;
};

// Input video positions to output positions, unit by unit: a unit's headers come out as they
// went in, its slices shrink; the engine leaves out what comes before its first intra picture.
class TPositionMap {
public:
  TPositionMap() = default;
  TPositionMap(std::vector<TVideoUnit> in, std::vector<TVideoUnit> out, std::int64_t inTotal, std::int64_t outTotal);
  std::int64_t Map(std::int64_t pos) const;
  const std::vector<TVideoUnit>& Input() const { return FIn; }

private:
  std::vector<TVideoUnit> FIn, FOut;
  std::int64_t FInTotal = 0, FOutTotal = 0;
  std::int64_t FSkipped = 0;
};

// Reads the transrated video front to back.
class TSequentialReader {
public:
  explicit TSequentialReader(const TFileStream& file) : FFile(file), FBytes(1 << 20) {}
  // Appends the bytes [from, to) to `out`.
  void Append(std::int64_t from, std::int64_t to, std::vector<std::uint8_t>& out);

private:
  const TFileStream& FFile;
  std::vector<std::uint8_t> FBytes;
  std::int64_t FStart = 0;
  std::size_t FValid = 0;
};

// The output file behind a buffer, so that packets go out in large writes rather than one
// system call each.
class TPacketOutput {
public:
  explicit TPacketOutput(TTemporaryOutputFile& file) : FFile(file) { FBytes.reserve(kSize); }
  void Write(std::span<const std::uint8_t> bytes);
  void Flush();
  std::int64_t Written() const { return FFile.Written() + static_cast<std::int64_t>(FBytes.size()); }

private:
  static constexpr std::size_t kSize = 1 << 20;
  TTemporaryOutputFile& FFile;
  std::vector<std::uint8_t> FBytes;
};

// The first pass of a container transrate: the container's video through the engine, as an
// elementary-stream transrate with the same options would run, into a scratch file beside the
// output, with the units of input and output that map one onto the other.
class TVideoPass {
public:
  TVideoPass(const TTransrateOptions& options, const std::string& outputPath);
  void Feed(std::span<const std::uint8_t> bytes);
  // Aims the video at OutputBytes, VideoBytes being all the video the pass will be fed.
  void AimAt(std::int64_t VideoBytes, std::int64_t OutputBytes) { FEngine.SetSizeTarget(VideoBytes, OutputBytes); }
  // The end of the video: the engine's last units. An empty text, or why the pass failed;
  // `result` gets the pictures, groups and video sizes.
  std::string Finish(TTransrateResult& result);

  std::int64_t VideoIn() const { return FVideoIn; }
  std::int64_t VideoOut() const { return FOutTotal; }
  std::int64_t PicturesOut() const { return FEngine.PicturesOut(); }
  const TPositionMap& Map() const { return FMap; }
  TFileStream& Video() { return FScratch.File(); }

private:
  void FlushFeed();

  TScratchFile FScratch;
  TMPEG2VideoTransrateClass FEngine;
  TMPEGESVideoFrameSeparatorEx FSeparator;
  std::vector<TVideoUnit> FIn, FOut;
  std::int64_t FSeparated = 0;
  std::int64_t FOutTotal = 0;
  std::int64_t FVideoIn = 0;
  std::string FWriteError;
  TPaddedBuffer FFeed;
  std::size_t FFed = 0;
  double FSeconds = 0;
  TOverBudgetCount FOverBudget;
  TPositionMap FMap;
};

// What the two passes of a container transrate share: the output behind its buffer, the video
// pass, the progress (the first pass the first half of the input's share, the second the rest)
// and the result.
class TContainerRun {
public:
  TContainerRun(std::int64_t inputSize, const std::string& outputPath, const TTransrateOptions& options,
                const TTransrateProgressFunction& progress);

  TVideoPass& Pass() { return FPass; }
  TPacketOutput& Output() { return FWritten; }
  TTransrateResult& Result() { return FResult; }
  // Reports how far the pass has come (`offset` in the input) now and then; false asks to stop.
  bool Progress(bool secondPass, std::int64_t offset);
  // Ends the run: the result with its status and message; no output is left behind.
  TTransrateResult Fail(std::string message, TTransrateStatus status = TTransrateStatus::Failed);
  TTransrateResult Cancelled() { return Fail("Cancelled", TTransrateStatus::Cancelled); }
  // Writes out what is buffered, puts the output in place and returns the result.
  TTransrateResult Commit(std::string carried);

private:
  bool Report(std::int64_t done);

  const std::int64_t FSize;
  const TTransrateProgressFunction& FProgress;
  TTemporaryOutputFile FOutput;
  TVideoPass FPass;
  TPacketOutput FWritten;
  TTransrateResult FResult;
  std::int64_t FCalls = 0;
};

} // namespace varlow
