#include "syntax/CodedValueMeanings.h"

#include <array>
#include <span>

namespace varlow {

namespace {

// A table of meanings indexed by the coded value; values past its end are reserved.
using TTable = std::span<const char* const>;

std::string FromTable(TTable table, std::int64_t value) {
  if (value < 0) return {};
  if (static_cast<std::uint64_t>(value) >= table.size()) return "reserved";
  return table[static_cast<std::size_t>(value)];
}

// frame_rate_code (MPEG-2) and picture_rate (MPEG-1) share one table.
constexpr std::array<const char*, 9> kFrameRate = {"forbidden",   "23.976 frames/s", "24 frames/s",
                                                   "25 frames/s", "29.97 frames/s",  "30 frames/s",
                                                   "50 frames/s", "59.94 frames/s",  "60 frames/s"};

// aspect_ratio_information of MPEG-2: the sample aspect ratio, or the display's.
constexpr std::array<const char*, 5> kAspectRatio = {"forbidden", "square samples", "4:3 display", "16:9 display",
                                                     "2.21:1 display"};

// pel_aspect_ratio of MPEG-1 (the same four bits): the height of a pel over its width.
constexpr std::array<const char*, 15> kPelAspectRatio = {"forbidden",
                                                         "pel height/width 1.0000 (square pels)",
                                                         "pel height/width 0.6735",
                                                         "pel height/width 0.7031 (16:9, 625 lines)",
                                                         "pel height/width 0.7615",
                                                         "pel height/width 0.8055",
                                                         "pel height/width 0.8437 (16:9, 525 lines)",
                                                         "pel height/width 0.8935",
                                                         "pel height/width 0.9157 (CCIR 601, 625 lines)",
                                                         "pel height/width 0.9815",
                                                         "pel height/width 1.0255",
                                                         "pel height/width 1.0695",
                                                         "pel height/width 1.0950 (CCIR 601, 525 lines)",
                                                         "pel height/width 1.1575",
                                                         "pel height/width 1.2015"};

constexpr std::array<const char*, 4> kChromaFormat = {"reserved", "4:2:0", "4:2:2", "4:4:4"};

constexpr std::array<const char*, 5> kCodingTypeMpeg1 = {"forbidden", "I (intra-coded)", "P (predictive-coded)",
                                                         "B (bidirectionally-predictive-coded)", "D (DC intra-coded)"};
constexpr std::array<const char*, 5> kCodingTypeMpeg2 = {"forbidden", "I (intra-coded)", "P (predictive-coded)",
                                                         "B (bidirectionally-predictive-coded)",
                                                         "D (DC intra-coded): MPEG-1 only, not used in MPEG-2"};

constexpr std::array<const char*, 4> kPictureStructure = {"reserved", "top field", "bottom field", "frame picture"};

constexpr std::array<const char*, 4> kIntraDcPrecision = {"8 bits", "9 bits", "10 bits", "11 bits"};

constexpr std::array<const char*, 6> kVideoFormat = {"component", "PAL", "NTSC",
                                                     "SECAM",     "MAC", "unspecified video format"};

constexpr std::array<const char*, 8> kColourPrimaries = {"forbidden",
                                                         "ITU-R BT.709",
                                                         "unspecified video",
                                                         "reserved",
                                                         "ITU-R BT.470-2 System M",
                                                         "ITU-R BT.470-2 System B, G",
                                                         "SMPTE 170M",
                                                         "SMPTE 240M (1987)"};

constexpr std::array<const char*, 9> kTransferCharacteristics = {"forbidden",
                                                                 "ITU-R BT.709",
                                                                 "unspecified video",
                                                                 "reserved",
                                                                 "ITU-R BT.470-2 System M (gamma 2.2)",
                                                                 "ITU-R BT.470-2 System B, G (gamma 2.8)",
                                                                 "SMPTE 170M",
                                                                 "SMPTE 240M (1987)",
                                                                 "linear transfer characteristics"};

constexpr std::array<const char*, 8> kMatrixCoefficients = {
    "forbidden",  "ITU-R BT.709",     "unspecified video", "reserved", "FCC", "ITU-R BT.470-2 System B, G",
    "SMPTE 170M", "SMPTE 240M (1987)"};

constexpr std::array<const char*, 13> kExtensionId = {"reserved",
                                                      "sequence extension",
                                                      "sequence display extension",
                                                      "quant matrix extension",
                                                      "copyright extension",
                                                      "sequence scalable extension",
                                                      "reserved",
                                                      "picture display extension",
                                                      "picture coding extension",
                                                      "picture spatial scalable extension",
                                                      "picture temporal scalable extension",
                                                      "camera parameters extension",
                                                      "ITU-T extension"};

constexpr std::array<const char*, 2> kQScaleType = {"linear quantiser scale", "non-linear quantiser scale"};
constexpr std::array<const char*, 2> kIntraVlcFormat = {"intra blocks coded with table B-14",
                                                        "intra blocks coded with table B-15"};
constexpr std::array<const char*, 2> kAlternateScan = {"zigzag scan", "alternate scan"};

// profile_and_level_indication: an escape bit, three bits of profile, four of level. With the
// escape bit set the whole byte names one of the profiles outside that hierarchy.
std::string ProfileAndLevel(std::int64_t value) {
  if (value < 0 || value > 0xFF) return {};
  if (value & 0x80) {
    switch (value) {
      case 0x82:
        return "4:2:2 profile @ High level";
      case 0x85:
        return "4:2:2 profile @ Main level";
      case 0x8A:
        return "Multi-view profile @ High level";
      case 0x8B:
        return "Multi-view profile @ High 1440 level";
      case 0x8D:
        return "Multi-view profile @ Main level";
      case 0x8E:
        return "Multi-view profile @ Low level";
      default:
        return "escape: reserved";
    }
  }
  static constexpr std::array<const char*, 8> kProfiles = {
      nullptr, "High", "Spatially Scalable", "SNR Scalable", "Main", "Simple", nullptr, nullptr};
  static constexpr std::array<const char*, 16> kLevels = {nullptr,     nullptr, nullptr, nullptr, "High", nullptr,
                                                          "High 1440", nullptr, "Main",  nullptr, "Low",  nullptr,
                                                          nullptr,     nullptr, nullptr, nullptr};
  const int profile = static_cast<int>(value >> 4) & 7;
  const int level = static_cast<int>(value) & 15;
  const char* profileName = kProfiles[static_cast<std::size_t>(profile)];
  const char* levelName = kLevels[static_cast<std::size_t>(level)];
  const std::string profileText =
      profileName != nullptr ? std::string(profileName) + " profile" : "reserved profile " + std::to_string(profile);
  const std::string levelText =
      levelName != nullptr ? std::string(levelName) + " level" : "reserved level " + std::to_string(level);
  return profileText + " @ " + levelText;
}

}  // namespace

std::string CodedValueMeaning(std::string_view element, std::int64_t value, TCodingStandard standard) {
  const bool mpeg1 = standard == TCodingStandard::Mpeg1;
  if (element == "frame_rate_code" || element == "picture_rate") return FromTable(kFrameRate, value);
  if (element == "aspect_ratio_information")
    return FromTable(mpeg1 ? TTable(kPelAspectRatio) : TTable(kAspectRatio), value);
  if (element == "pel_aspect_ratio") return FromTable(kPelAspectRatio, value);
  if (element == "profile_and_level_indication") return ProfileAndLevel(value);
  if (element == "chroma_format") return FromTable(kChromaFormat, value);
  if (element == "picture_coding_type")
    return FromTable(mpeg1 ? TTable(kCodingTypeMpeg1) : TTable(kCodingTypeMpeg2), value);
  if (element == "picture_structure") return FromTable(kPictureStructure, value);
  if (element == "intra_dc_precision") return FromTable(kIntraDcPrecision, value);
  if (element == "video_format") return FromTable(kVideoFormat, value);
  if (element == "colour_primaries") return FromTable(kColourPrimaries, value);
  if (element == "transfer_characteristics") return FromTable(kTransferCharacteristics, value);
  if (element == "matrix_coefficients") return FromTable(kMatrixCoefficients, value);
  if (element == "extension_start_code_identifier") return FromTable(kExtensionId, value);
  if (element == "q_scale_type") return FromTable(kQScaleType, value);
  if (element == "intra_vlc_format") return FromTable(kIntraVlcFormat, value);
  if (element == "alternate_scan") return FromTable(kAlternateScan, value);
  return {};
}

}  // namespace varlow
