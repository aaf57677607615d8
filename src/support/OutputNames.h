#pragma once
#include <string>
#include <string_view>

namespace varlow {

// The name an export or output dialog proposes for something made from the stream at
// `streamPath`: "<the stream's folder>/<its name without extension>-<what>.<extension>", so
// "/v/clip.m2v" with "overview" and "png" gives "/v/clip-overview.png". An empty `extension`
// keeps the stream's own ("clip.ts" gives "clip-transrated.ts"), or "m2v" when it has none.
// Without a stream the name alone: "overview.png".
std::string ProposedOutputName(std::string_view streamPath, std::string_view what, std::string_view extension = {});

}  // namespace varlow
