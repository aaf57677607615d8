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

} // namespace varlow
