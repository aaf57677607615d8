#include "browser/PackDetails.h"

#include <algorithm>
#include <cstring>

#include "browser/HeaderTree.h"
#include "container/ContainerTree.h"
#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace {

// Every slice start code (00 00 01 01 .. 00 00 01 AF) of the pack, in file order, with the bytes
// up to the next start code of any kind.
void ListSlices(const std::uint8_t* pack, std::int32_t length, TPackDetails& details) {
  TSliceSpan* open = nullptr;
  for (std::int32_t i = 0; i + 4 <= length; ++i) {
    if (pack[i + 2] != 0x01 || pack[i] != 0 || pack[i + 1] != 0) continue;
    if (open != nullptr) {
      open->Size = i - open->Offset;
      open = nullptr;
    }
    const std::uint8_t code = pack[i + 3];
    if (code < 0x01 || code > 0xAF) continue;
    details.Slices.push_back("$" + HexUpper(0x100u + code, 8));
    details.SliceSpans.push_back({0x100u + code, i, length - i});
    open = &details.SliceSpans.back();
  }
}

} // namespace

bool UpdatePack(TPackIndex& index, std::int64_t offset, TTreeSink& headerTree, TPackDetails& details) {
  Trap("TForm1.UpdatePack", [&] {
    details.Status = TPackStatus::NothingRead;
    details.HexLines.clear();
    details.Slices.clear();
    details.SliceSpans.clear();
    details.Bytes.clear();
    TByteSource* stream = index.Stream();
    if (stream == nullptr) return;
    // The header reader may look one byte past the shown part: the read zeroes that byte (and
    // the rest of the padding) instead of leaving whatever an earlier, longer read left there.
    const std::int64_t n = ReadBlockAt(*stream, offset, index.ScanBuffer(), kSearchReadSize, &details.Places);
    if (n <= 0) return;
    const std::uint8_t* buffer = index.ScanBuffer().Data();
    // Only a pack is explained: bytes that are not an indexed start code (a stale list over a
    // file changed on disk, or a wrong offset) would read as made-up header values.
    if (n < 4 || !IsIndexedStartCode(buffer)) {
      details.Status = TPackStatus::NoPackStarts;
      return;
    }

    TPackRec& pack = details.Pack;
    pack = TPackRec{};
    pack.Offset = offset;
    pack.Length = GetPackLength(buffer, static_cast<std::int32_t>(n));
    std::copy_n(buffer, 4, pack.StartCode.begin());
    const std::int32_t shown = std::min(pack.Length, kHexDumpLimit);
    details.Bytes.assign(buffer, buffer + pack.Length);
    details.HexLines = DumpWindowLines(buffer, pack.Length, offset, 0);

    BuildHeaderTree(index.BitStream(), buffer, shown, pack, headerTree);
    if (stream->IsContainer()) BuildContainerTree(*stream, offset, headerTree);
    if (pack.StartCode[3] == 0x00) ListSlices(buffer, pack.Length, details);
    details.Status = TPackStatus::Shown;
  });
  return details.Status == TPackStatus::Shown;
}

} // namespace varlow
