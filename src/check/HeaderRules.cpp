#include "check/HeaderRules.h"

namespace varlow {

namespace {

bool Is(std::string_view a, std::string_view b) { return a == b; }

std::string FCodeRule(std::int64_t value) {
  if (value == 0) return "f_code 0 is forbidden";
  if (value >= 10 && value <= 14) return "f_code 10 to 14 are reserved";
  return {};
}

}  // namespace

std::string BrokenHeaderRule(std::string_view header, std::string_view element, std::int64_t value, bool mpeg2) {
  if (Is(element, "marker_bit")) return value == 1 ? std::string() : "marker_bit must be 1";
  if (Is(header, "sequence_header")) {
    if ((Is(element, "horizontal_size_value") || Is(element, "vertical_size_value")) && value == 0)
      return std::string(element) + " 0 is forbidden";
    if (Is(element, "aspect_ratio_information")) {
      if (value == 0) return "aspect_ratio_information 0 is forbidden";
      if (mpeg2 && value >= 5) return "aspect_ratio_information 5 to 15 are reserved";
      if (!mpeg2 && value == 15) return "aspect_ratio_information 15 is reserved";
    }
    if (Is(element, "frame_rate_code")) {
      if (value == 0) return "frame_rate_code 0 is forbidden";
      if (value >= 9) return "frame_rate_code 9 to 15 are reserved";
    }
    if (Is(element, "bit_rate_value") && value == 0) return "bit_rate_value 0 is forbidden";
    if (Is(element, "vbv_buffer_size_value") && value == 0) return "vbv_buffer_size_value 0 gives no buffer";
    return {};
  }
  if (Is(header, "sequence_extension")) {
    if (Is(element, "chroma_format") && value == 0) return "chroma_format 0 is reserved";
    return {};
  }
  if (Is(header, "picture_header")) {
    if (Is(element, "picture_coding_type")) {
      if (value == 0) return "picture_coding_type 0 is forbidden";
      if (value == 4 && mpeg2) return "picture_coding_type 4 (D) is not used in MPEG-2";
      if (value >= 5) return "picture_coding_type 5 to 7 are reserved";
    }
    if (Is(element, "forward_f_code") || Is(element, "backward_f_code")) {
      if (mpeg2 && value != 7) return std::string(element) + " must be 7 in MPEG-2";
      if (!mpeg2 && value == 0) return std::string(element) + " 0 is forbidden";
    }
    return {};
  }
  if (Is(header, "picture_coding_extension")) {
    if (element.starts_with("f_code[")) return FCodeRule(value);
    if (Is(element, "picture_structure") && value == 0) return "picture_structure 0 is reserved";
    return {};
  }
  return {};
}

}  // namespace varlow
