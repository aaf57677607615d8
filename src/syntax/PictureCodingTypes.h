#pragma once
#include <cstdint>

namespace varlow {

// picture_coding_type values of the picture header.
inline constexpr std::int32_t kIntraPicture = 1;
inline constexpr std::int32_t kPredictedPicture = 2;
inline constexpr std::int32_t kBidirectionalPicture = 3;

// picture_structure values: one field of a frame, or a frame picture.
inline constexpr std::int32_t kTopField = 1;
inline constexpr std::int32_t kBottomField = 2;
inline constexpr std::int32_t kFramePicture = 3;

// How many frame periods a picture stays on show:
//  - a picture without a coding extension (MPEG-1): one;
//  - a field picture: half a frame, so the two fields of a frame make one;
//  - a frame picture of an interlaced sequence: two fields, three with repeat_first_field;
//  - a frame picture of a progressive sequence: one frame, two with repeat_first_field, three
//    with repeat_first_field and top_field_first.
constexpr double PictureFramePeriods(bool hasCodingExtension, bool fieldPicture, bool repeatFirstField,
                                     bool topFieldFirst, bool progressiveSequence) {
  if (!hasCodingExtension) return 1.0;
  if (fieldPicture) return 0.5;
  if (!repeatFirstField) return 1.0;
  if (progressiveSequence) return topFieldFirst ? 3.0 : 2.0;
  return 1.5;
}

} // namespace varlow
