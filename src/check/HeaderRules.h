#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace varlow {

// The rules one header element's value can break on its own: forbidden and reserved values and
// marker bits. `header` is the structure the element belongs to ("sequence_header",
// "sequence_extension", "picture_header", "picture_coding_extension"), `element` its name in
// the standard's words with its indices ("f_code[0][1]"); `mpeg2`: the stream has a sequence
// extension. Returns the rule broken, or an empty text.
std::string BrokenHeaderRule(std::string_view header, std::string_view element, std::int64_t value, bool mpeg2);

}  // namespace varlow
