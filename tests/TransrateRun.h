#pragma once
// Runs the transrate controller over a stream held in memory, the way the command does.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/PaddedBuffer.h"
#include "transrate/MPEG2VideoTransrateClass.h"

namespace varlow::test {

struct TTransrateRun {
  std::vector<std::uint8_t> Output;
  std::vector<TGroupReport> Groups;
  std::vector<std::int64_t> GroupOutputBits;  // bits delivered per group, counted by the receiver
  std::vector<std::vector<std::int32_t>> CutLevels;
  std::vector<int> FrameTypes;
  std::int64_t PicturesIn = 0;
  std::int64_t PicturesOut = 0;
};

inline TTransrateRun Transrate(const std::vector<std::uint8_t>& stream, std::int32_t bitrate,
                               std::size_t blockSize = 2 * 1024 * 1024,
                               TTransrateMethod method = TTransrateMethod::Requant) {
  TTransrateRun run;
  TMPEG2VideoTransrateClass transrate;
  transrate.SetMethod(method);
  std::int64_t groupBits = 0;
  transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* Data, std::int32_t Size, std::int32_t Type) {
    run.Output.insert(run.Output.end(), Data, Data + Size);
    run.FrameTypes.push_back(Type);
    if (Type != 0) groupBits += std::int64_t{Size} * 8;
    return S_OK;
  });
  transrate.SetGroupReportFunction([&](const TGroupReport& report) {
    run.Groups.push_back(report);
    run.GroupOutputBits.push_back(groupBits);
    run.CutLevels.push_back(transrate.LastCutLevels());
    groupBits = 0;
  });
  transrate.SetMaxOutputBitrate(bitrate);
  TPaddedBuffer block(blockSize);
  for (std::size_t at = 0; at < stream.size(); at += blockSize) {
    const std::size_t n = std::min(blockSize, stream.size() - at);
    block.Assign({stream.data() + at, n});
    transrate.AddData(block.Data(), static_cast<std::int32_t>(n));
  }
  transrate.Flush();
  run.PicturesIn = transrate.PicturesIn();
  run.PicturesOut = transrate.PicturesOut();
  return run;
}

// Offsets of the picture start codes of a stream.
inline std::vector<std::size_t> PictureOffsets(const std::vector<std::uint8_t>& s) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i + 5 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0) out.push_back(i);
  return out;
}

// The stream's own rate: its bits over its pictures' duration at its first sequence's rate.
inline std::int32_t OwnRate(const std::vector<std::uint8_t>& stream) {
  double fps = 0;
  bool progressive = false;
  TMPEG2VideoTransrateClass::GetParams(stream.data(), static_cast<std::int32_t>(stream.size()), fps, progressive);
  const auto pictures = static_cast<double>(PictureOffsets(stream).size());
  return static_cast<std::int32_t>(static_cast<double>(stream.size()) * 8 * fps / std::max(pictures, 1.0));
}

// The stream from its first intra picture's unit on: from the sequence header or GOP header
// that precedes the first I picture (or the picture itself).
inline std::size_t FirstIntraUnitStart(const std::vector<std::uint8_t>& s) {
  std::size_t unitStart = 0;
  bool afterPicture = false;
  for (std::size_t i = 0; i + 5 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const std::uint8_t code = s[i + 3];
    if (code == 0) {
      if (((s[i + 5] >> 3) & 7) == 1) return afterPicture ? i : unitStart;
      afterPicture = true;
    } else if ((code == 0xB3 || code == 0xB8 || code == 0xB7) && afterPicture) {
      unitStart = i;
      afterPicture = false;
    }
  }
  return s.size();
}

// Bytes as the transrater sends them once it has changed a stream: every picture header's
// vbv_delay 0xFFFF, since its pictures no longer arrive as a constant-rate encoder timed them.
inline std::vector<std::uint8_t> WithVariableDelays(std::vector<std::uint8_t> s) {
  for (std::size_t i = 0; i + 8 <= s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1 || s[i + 3] != 0) continue;
    s[i + 5] |= 0x07;  // vbv_delay: bits 45 to 60 from the start code
    s[i + 6] = 0xFF;
    s[i + 7] |= 0xF8;
  }
  return s;
}

// A file in the test folder; the process id in its name keeps runs side by side (two builds'
// tests at once) from writing over each other's files.
inline std::string WriteTemp(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "_" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
  return path;
}

inline int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// ffmpeg decodes the file without a single error.
inline bool FfmpegDecodesCleanly(const std::string& path) {
  return Shell("out=$(ffmpeg -nostdin -v error -xerror -err_detect +explode -i '" + path +
               "' -f null - 2>&1) && test -z \"$out\"") == 0;
}

// libmpeg2 decodes the file to the same pictures as ffmpeg.
inline bool Mpeg2decAgrees(const std::string& path) {
  return Shell(std::string("python3 ") + VARLOW_SOURCE_DIR + "/tests/tools/decoder_agreement.py '" + path + "'") == 0;
}

} // namespace varlow::test
