// Any bytes as a stream to check, and as the buffer model's pictures: the check must end, name
// only places inside the file, and the model must stay finite whatever values it is given.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "buffer/VbvModel.h"
#include "check/StreamCheck.h"
#include "FuzzTempFile.h"
#include "container/OpenSource.h"

namespace {

using namespace varlow;

using varlow::fuzz::TTempFile;

// Every 24 bytes of the input as one picture's values, nonsense included.
void FeedModel(const std::uint8_t* data, std::size_t size) {
  std::vector<TVbvPicture> pictures;
  for (std::size_t at = 0; at + 24 <= size && pictures.size() < 4096; at += 24) {
    std::int32_t words[6];
    std::memcpy(words, data + at, sizeof words);
    TVbvPicture p;
    p.UnitBits = words[0];
    p.StartCodeEndBits = words[1];
    p.VbvDelay = static_cast<std::uint16_t>(words[2]);
    p.CodingType = static_cast<std::uint8_t>(words[2] >> 16 & 7);
    p.FieldPicture = (words[2] >> 19 & 1) != 0;
    p.LowDelay = (words[2] >> 20 & 1) != 0;
    p.FramePeriods = (words[2] >> 21 & 7) * 0.5;
    p.BitRate = words[3];
    p.BufferBits = words[4];
    p.FrameRate = (words[5] & 0xFFFF) / 16.0;
    pictures.push_back(p);
  }
  for (TVbvMode mode : {TVbvMode::Constant, TVbvMode::Variable}) {
    std::vector<TVbvPoint> points;
    const TVbvSummary s = RunVbv(mode, pictures, &points);
    if (points.size() != pictures.size() || s.Pictures != static_cast<std::int64_t>(pictures.size())) __builtin_trap();
    for (const TVbvPoint& point : points)
      if (!std::isfinite(point.Time)) __builtin_trap();
    if (s.Events.size() > static_cast<std::size_t>(s.Underflows + s.Overflows)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FeedModel(data, size);
  if (size < 4) return 0;
  const TTempFile temp(data, size, "/tmp/varlow_fuzz_check_XXXXXX");
  if (temp.Path().empty()) return 0;
  TOpenedSource opened = OpenVideoSource(temp.Path(), TFileStream::Mode::ReadOnly);
  if (!opened.Source) return 0;
  const TCheckReport report = CheckStream(*opened.Source);
  if (report.Count < static_cast<std::int64_t>(report.Violations.size())) __builtin_trap();
  for (const TViolation& v : report.Violations)
    if (v.Offset < 0 || v.Offset >= static_cast<std::int64_t>(size) || v.Bit < 0 || v.Rule.empty()) __builtin_trap();
  if (CheckReportText(report).empty() || CheckReportJson(report).empty()) __builtin_trap();
  return 0;
}
