#pragma once
#include <cstdint>

namespace varlow {

// picture_coding_type values of the picture header.
inline constexpr std::int32_t kIntraPicture = 1;
inline constexpr std::int32_t kPredictedPicture = 2;
inline constexpr std::int32_t kBidirectionalPicture = 3;

// picture_structure value of a frame picture (1 and 2 are the top and bottom field).
inline constexpr std::int32_t kFramePicture = 3;

} // namespace varlow
