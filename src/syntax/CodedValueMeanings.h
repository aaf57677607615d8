#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace varlow {

// Which standard's tables a header was coded with: a sequence or picture header followed by
// its extension is MPEG-2 (ISO/IEC 13818-2), one without is MPEG-1 (ISO/IEC 11172-2). A few
// elements mean different things in the two (aspect_ratio_information is MPEG-1's
// pel_aspect_ratio; picture_coding_type 4, the D picture, exists only in MPEG-1).
enum class TCodingStandard : std::uint8_t { Mpeg1, Mpeg2 };

// What the coded `value` of the header element `element` (its name in the standard, as the
// header tree labels it) stands for: "25 frames/s" for frame_rate_code 3, "4:2:0" for
// chroma_format 1, "Main profile @ Main level" for profile_and_level_indication 72.
// Forbidden and reserved values say so. Empty for an element the standard gives no table of
// meanings for (sizes, counts, flags without named states).
std::string CodedValueMeaning(std::string_view element, std::int64_t value, TCodingStandard standard);

}  // namespace varlow
