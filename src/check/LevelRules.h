#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varlow {

// What a profile and level allow (the Simple, Main and 4:2:2 profiles at their levels).
struct TLevelLimits {
  const char* Name;               // "Main profile @ Main level"
  std::int64_t SamplesPerLine;    // horizontal_size
  std::int64_t LinesPerFrame;     // vertical_size
  double FramesPerSecond;
  std::int64_t LumaSampleRate;    // luminance samples per second
  std::int64_t BitRate;           // bit/s
  std::int64_t VbvBufferBits;
  std::int32_t HorizontalFCode;   // f_code[s][0] at most
  std::int32_t VerticalFCode;     // f_code[s][1] at most
  bool BPictures;
};

// The limits of a profile_and_level_indication; none for the profiles and levels not checked
// (High, SNR and Spatial scalable, multi-view, reserved values).
std::optional<TLevelLimits> LimitsOf(std::int32_t ProfileAndLevel);

// A sequence's figures as its sequence header and extension give them, with where each is.
struct TSequenceFigures {
  std::int64_t HorizontalSize = 0, VerticalSize = 0;  // with the extension's high bits
  double FrameRate = 0;                               // with the extension's factor
  std::int64_t BitRate = 0;                           // bit/s
  std::int64_t VbvBufferBits = 0;
  // The bit (from the sequence header's start code) of the element each figure is reported at.
  std::int64_t HorizontalBit = 0, VerticalBit = 0, FrameRateBit = 0, BitRateBit = 0, VbvBit = 0;
};

struct TLevelBreach {
  std::string Element;
  std::int64_t Bit = 0;
  std::int64_t Value = 0;
  std::string Rule;
};

// What the sequence breaks of Limits: sizes, frame rate, luminance sample rate, bit rate and
// buffer size.
std::vector<TLevelBreach> SequenceBreaches(const TSequenceFigures& Figures, const TLevelLimits& Limits);

// The rule a picture's f_code[s][t] breaks, or an empty text: an f_code a picture does not use
// must be 15 (backward ones in I and P pictures, forward ones in I pictures without concealment
// motion vectors); one in use may not exceed its level's range.
std::string FCodeRule(std::int32_t s, std::int32_t t, std::int64_t value, std::int32_t pictureCodingType,
                      bool concealmentVectors, const TLevelLimits* limits);

}  // namespace varlow
