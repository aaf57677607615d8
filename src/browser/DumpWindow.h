#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace varlow {

class TSourcePlaces;

inline constexpr std::int32_t kHexDumpLimit = 1600;  // bytes of a pack dumped at once (and parsed)
inline constexpr std::int32_t kDumpBytesPerLine = 16;

// The hex dump shows a window of at most 1,600 bytes of the pack; by default its start. A
// selection beyond it (a slice, a tree node's bytes) moves the window so that it shows them.

// The dump lines of the window that starts `windowStart` bytes into the pack (a multiple of 16):
// "..." first when bytes of the pack lie before it, then the lines of up to 1,600 bytes
// numbered with their file offsets, then "..." when bytes of the pack follow.
std::vector<std::string> DumpWindowLines(const std::uint8_t* pack, std::int32_t length, std::int64_t packOffset,
                                         std::int32_t windowStart);

// The same for bytes gathered from scattered file offsets (a container's payloads): each line
// is numbered with the file offset `places` gives its first byte.
std::vector<std::string> DumpWindowLines(const std::uint8_t* pack, std::int32_t length, const TSourcePlaces& places,
                                         std::int32_t windowStart);

// The window start that shows the pack bytes firstByte..lastByte (or as many of them as fit,
// from the first): `current` when it already shows them, 0 when they lie in the first 1,600
// bytes, otherwise a window whose first line sits a few lines above firstByte.
std::int32_t DumpWindowFor(std::int32_t firstByte, std::int32_t lastByte, std::int32_t length,
                           std::int32_t current);

// Line index, in the lines of DumpWindowLines, of the pack byte `byte` (which the window shows).
std::int32_t DumpLineOfByte(std::int32_t byte, std::int32_t windowStart);

}  // namespace varlow
