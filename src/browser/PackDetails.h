#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "browser/PackIndex.h"
#include "support/TreeSink.h"

namespace varlow {

inline constexpr std::int32_t kHexDumpLimit = 1600;  // bytes of a pack dumped and parsed

// What UpdatePack shows for one pack, apart from the header tree.
struct TPackDetails {
  TPackRec Pack;                    // Offset, Length (cut at the 2 MiB read), StartCode, headers
  std::vector<std::string> HexLines;  // the dump, "..." last when the pack is longer than 1,600 bytes
  std::vector<std::string> Slices;    // "$00000101" ... for a picture pack, in file order
};

// The dump of `count` bytes numbered from the file offset `startOffset`, appended to `lines`.
bool MemToStrLines2(const std::uint8_t* data, std::int32_t count, std::vector<std::string>* lines,
                    std::int64_t startOffset);

// The character shown for a byte in the text column of both hex views: "." for 0x00..0x13,
// the byte itself otherwise (a code page 1251 character; see Cp1251ToUtf8 for display).
char DisplayChar(std::uint8_t byte);
// UTF-8 text of a line whose bytes >= 0x80 are code page 1251 characters.
std::string Cp1251ToUtf8(std::string_view text);

// Reads the pack at `offset` (up to 2 MiB) and fills `details` and the header tree (nodes
// added to `headerTree`, which the caller cleared). Returns false when nothing could be read.
// Failures are trapped and logged as "wex: Error in TForm1.UpdatePack call...".
bool UpdatePack(TPackIndex& index, std::int64_t offset, TTreeSink& headerTree, TPackDetails& details);

} // namespace varlow
