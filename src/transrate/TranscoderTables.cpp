// Small copies of the slice layer's code tables for the transcoder's walk: they stay in the
// first-level cache, where the 65,536-entry tables they come from do not.
#include <bit>
#include <stdexcept>

#include "transrate/MPEGVideoTranscoder.h"

namespace varlow {

namespace {

// The table indexed by the first N bits, from a 16-bit table whose codes are at most N bits
// long: every entry of the full table that shares those bits is the same.
template <class Entry, std::size_t Size>
void Shorten(const Entry* Full, std::array<Entry, Size>& Short) {
  constexpr int kRest = 16 - std::countr_zero(Size);
  for (std::size_t i = 0; i < Size; ++i) {
    const Entry& e = Full[i << kRest];
    for (std::size_t j = 1; j < (std::size_t{1} << kRest); ++j) {
      const Entry& other = Full[(i << kRest) | j];
      if (other.Length != e.Length || other.Value != e.Value) throw std::logic_error("code longer than its short table");
    }
    Short[i] = e;
  }
}

} // namespace

void TMPEGVideoTranscoder::BuildScanTable(const TDctTableEntry* Table, TScanTable& Scan) {
  constexpr int kRest = 16 - kScanPrefixBits;
  for (std::uint32_t i = 0; i < Scan.size(); ++i) {
    const TDctTableEntry& e = Table[i << kRest];
    const TDctTableEntry& last = Table[(i << kRest) | ((1u << kRest) - 1)];
    // A prefix decides a code that lies wholly inside it (the sign bit may follow it). Escapes
    // carry their run after the code, so they always take the long way.
    const bool decided = e.Length > 0 && e.Length <= kScanPrefixBits && last.Run == e.Run && last.Length == e.Length;
    if (decided && e.Run < kEndOfBlockMarker) {
      Scan[i] = {static_cast<std::uint8_t>(e.Length + 1), static_cast<std::uint8_t>(e.Run + 1)};
    } else if (decided && e.Run == kEndOfBlockMarker) {
      Scan[i] = {e.Length, 0};
    } else {
      Scan[i] = {0, 0};
    }
  }
}

const TMPEGVideoTranscoder::TFastTables& TMPEGVideoTranscoder::SharedFastTables() {
  static const TFastTables tables = [] {
    TFastTables t;
    const TVlcTables& vlc = TVlcTables::Shared();
    BuildScanTable(vlc.B14.Table(), t.B14);
    BuildScanTable(vlc.B15.Table(), t.B15);
    Shorten(vlc.MV.Table(), t.MV);
    Shorten(vlc.CBP.Table(), t.CBP);
    return t;
  }();
  return tables;
}

} // namespace varlow
