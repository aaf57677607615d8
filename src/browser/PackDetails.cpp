#include "browser/PackDetails.h"

#include <algorithm>
#include <cstring>

#include "browser/HeaderTree.h"
#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace {

// Every slice start code (00 00 01 01 .. 00 00 01 AF) of the pack, in file order.
void ListSlices(const std::uint8_t* pack, std::int32_t length, std::vector<std::string>& slices) {
  for (std::int32_t i = 0; i + 4 <= length; ++i) {
    if (pack[i + 2] != 0x01 || pack[i] != 0 || pack[i + 1] != 0) continue;
    const std::uint8_t code = pack[i + 3];
    if (code >= 0x01 && code <= 0xAF) slices.push_back("$" + HexUpper(0x100u + code, 8));
  }
}

} // namespace

bool UpdatePack(TPackIndex& index, std::int64_t offset, TTreeSink& headerTree, TPackDetails& details) {
  bool result = false;
  Trap("TForm1.UpdatePack", [&] {
    details.HexLines.clear();
    TFileStream* stream = index.Stream();
    if (stream == nullptr) return;
    // The header reader may look one byte past the shown part: the read zeroes that byte (and
    // the rest of the padding) instead of leaving whatever an earlier, longer read left there.
    const std::int64_t n = ReadBlockAt(*stream, offset, index.ScanBuffer(), kSearchReadSize);
    if (n <= 0) return;
    const std::uint8_t* buffer = index.ScanBuffer().Data();

    TPackRec& pack = details.Pack;
    pack = TPackRec{};
    pack.Offset = offset;
    pack.Length = GetPackLength(buffer, static_cast<std::int32_t>(n));
    std::copy_n(buffer, 4, pack.StartCode.begin());
    const std::int32_t shown = std::min(pack.Length, kHexDumpLimit);

    MemToStrLines2(buffer, shown, &details.HexLines, offset);
    if (pack.Length > kHexDumpLimit) details.HexLines.emplace_back("...");

    details.Slices.clear();
    BuildHeaderTree(index.BitStream(), buffer, shown, pack, headerTree);
    if (pack.StartCode[3] == 0x00) ListSlices(buffer, pack.Length, details.Slices);
    result = true;
  });
  return result;
}

} // namespace varlow
