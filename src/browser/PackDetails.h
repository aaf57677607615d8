#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "browser/DumpWindow.h"
#include "browser/PackIndex.h"
#include "container/ByteSource.h"
#include "support/TreeSink.h"

namespace varlow {

// Where one slice of a picture pack lies: its start code and its bytes up to the next start
// code (or the end of the pack), counted from the pack's first byte.
struct TSliceSpan {
  std::uint32_t Code = 0;   // 0x101 .. 0x1AF
  std::int32_t Offset = 0;  // of the slice start code, in the pack
  std::int32_t Size = 0;    // bytes, start code and trailing stuffing included
};

// What UpdatePack found at the offset it was given.
enum class TPackStatus {
  Shown,         // a pack starts there: details and tree filled
  NothingRead,   // no byte could be read there (past the end, or no file)
  NoPackStarts,  // bytes were read, but no indexed start code begins there: nothing is shown
};

// What UpdatePack shows for one pack, apart from the header tree.
struct TPackDetails {
  TPackStatus Status = TPackStatus::NothingRead;
  TPackRec Pack;                      // Offset, Length (cut at the 2 MiB read), StartCode, headers
  std::vector<std::uint8_t> Bytes;    // the pack's bytes, Length of them
  std::vector<std::string> HexLines;  // the dump, "..." last when the pack is longer than 1,600 bytes
  std::vector<std::string> Slices;    // "$00000101" ... for a picture pack, in file order
  std::vector<TSliceSpan> SliceSpans; // the same slices: where each lies in the pack
  // Where the bytes read from the pack's offset lie in the file (one run in a plain file; one
  // per packet payload in a container), the pack's first Length bytes among them.
  TSourcePlaces Places;
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
// added to `headerTree`, which the caller cleared). Returns true when a pack was shown; false
// when nothing could be read, or when no indexed start code begins at `offset` (the file may
// have changed since the list was filled): then nothing is shown and details.Status says which.
// Failures are trapped and logged as "wex: Error in TForm1.UpdatePack call...".
bool UpdatePack(TPackIndex& index, std::int64_t offset, TTreeSink& headerTree, TPackDetails& details);

} // namespace varlow
