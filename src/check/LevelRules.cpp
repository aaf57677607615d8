#include "check/LevelRules.h"

#include <array>

#include "support/Format.h"

namespace varlow {

namespace {

// By profile_and_level_indication.
struct TKnownLevel {
  std::int32_t Indication;
  TLevelLimits Limits;
};
constexpr std::array<TKnownLevel, 7> kLevels{{
    {0x58, {"Simple profile @ Main level", 720, 576, 30, 10'368'000, 15'000'000, 1'835'008, 8, 5, false}},
    {0x4A, {"Main profile @ Low level", 352, 288, 30, 3'041'280, 4'000'000, 475'136, 7, 4, true}},
    {0x48, {"Main profile @ Main level", 720, 576, 30, 10'368'000, 15'000'000, 1'835'008, 8, 5, true}},
    {0x46, {"Main profile @ High 1440 level", 1440, 1152, 60, 47'001'600, 60'000'000, 7'340'032, 9, 5, true}},
    {0x44, {"Main profile @ High level", 1920, 1152, 60, 62'668'800, 80'000'000, 9'781'248, 9, 5, true}},
    {0x85, {"4:2:2 profile @ Main level", 720, 608, 30, 11'059'200, 50'000'000, 9'437'184, 8, 5, true}},
    {0x82, {"4:2:2 profile @ High level", 1920, 1088, 60, 62'668'800, 300'000'000, 47'185'920, 9, 5, true}},
}};

std::string Above(const char* what, std::int64_t value, std::int64_t limit, const TLevelLimits& l) {
  return Format("%s %d is above the %d %s allows", {std::string(what), value, limit, std::string(l.Name)});
}

}  // namespace

std::optional<TLevelLimits> LimitsOf(std::int32_t ProfileAndLevel) {
  for (const TKnownLevel& known : kLevels)
    if (known.Indication == ProfileAndLevel) return known.Limits;
  return std::nullopt;
}

std::vector<TLevelBreach> SequenceBreaches(const TSequenceFigures& f, const TLevelLimits& l) {
  std::vector<TLevelBreach> out;
  if (f.HorizontalSize > l.SamplesPerLine)
    out.push_back({"horizontal_size_value", f.HorizontalBit, f.HorizontalSize,
                   Above("horizontal_size", f.HorizontalSize, l.SamplesPerLine, l)});
  if (f.VerticalSize > l.LinesPerFrame)
    out.push_back({"vertical_size_value", f.VerticalBit, f.VerticalSize,
                   Above("vertical_size", f.VerticalSize, l.LinesPerFrame, l)});
  if (f.FrameRate > l.FramesPerSecond + 1e-6)
    out.push_back({"frame_rate_code", f.FrameRateBit, static_cast<std::int64_t>(f.FrameRate + 0.5),
                   Format("a frame rate of %.3f frames/s is above the %.0f %s allows",
                          {f.FrameRate, l.FramesPerSecond, std::string(l.Name)})});
  // Rounded up to whole macroblocks, as a decoder holds them.
  const std::int64_t width = (f.HorizontalSize + 15) / 16 * 16;
  const std::int64_t height = (f.VerticalSize + 15) / 16 * 16;
  const auto sampleRate = static_cast<std::int64_t>(static_cast<double>(width * height) * f.FrameRate);
  if (f.HorizontalSize <= l.SamplesPerLine && f.VerticalSize <= l.LinesPerFrame && sampleRate > l.LumaSampleRate)
    out.push_back({"frame_rate_code", f.FrameRateBit, sampleRate,
                   Above("a luminance sample rate of", sampleRate, l.LumaSampleRate, l)});
  if (f.BitRate > l.BitRate)
    out.push_back({"bit_rate_value", f.BitRateBit, f.BitRate, Above("bit_rate", f.BitRate, l.BitRate, l)});
  if (f.VbvBufferBits > l.VbvBufferBits)
    out.push_back({"vbv_buffer_size_value", f.VbvBit, f.VbvBufferBits,
                   Above("a VBV buffer of", f.VbvBufferBits, l.VbvBufferBits, l)});
  return out;
}

std::string FCodeRule(std::int32_t s, std::int32_t t, std::int64_t value, std::int32_t type, bool concealment,
                      const TLevelLimits* limits) {
  if (value == 0 || (value >= 10 && value <= 14)) return {};  // forbidden and reserved: a rule of their own
  const bool unused = (s == 1 && (type == 1 || type == 2)) || (s == 0 && type == 1 && !concealment);
  if (unused) {
    if (value == 15) return {};
    return s == 1 ? std::string(type == 1 ? "an I" : "a P") + " picture has no backward vectors: f_code[1][" +
                        std::to_string(t) + "] must be 15"
                  : "an I picture without concealment motion vectors has no forward vectors: f_code[0][" +
                        std::to_string(t) + "] must be 15";
  }
  if (limits == nullptr || value == 15 || value == 0 || value > 9) return {};
  const std::int32_t most = t == 0 ? limits->HorizontalFCode : limits->VerticalFCode;
  if (value <= most) return {};
  return Format("f_code %d is above the %d %s allows for %s vectors",
                {value, static_cast<std::int64_t>(most), std::string(limits->Name),
                 std::string(t == 0 ? "horizontal" : "vertical")});
}

}  // namespace varlow
