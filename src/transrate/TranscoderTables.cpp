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
  constexpr int kPrefix = kScanPrefixBits;
  // The code at the top of a 16-bit index, when its first `width` bits decide it.
  const auto decided = [Table](std::uint32_t index16, int width) -> const TDctTableEntry* {
    const TDctTableEntry& e = Table[index16];
    const TDctTableEntry& last = Table[index16 | ((1u << (16 - width)) - 1)];
    const bool ok = e.Length > 0 && e.Length <= width && last.Run == e.Run && last.Length == e.Length;
    return ok ? &e : nullptr;
  };
  for (std::uint32_t i = 0; i < Scan.size(); ++i) {
    Scan[i] = {0, 0, 0, 0};
    // Escapes carry their run after the code, so they always take the long way.
    const TDctTableEntry* first = decided(i << (16 - kPrefix), kPrefix);
    if (first == nullptr || first->Run > kEndOfBlockMarker) continue;
    if (first->Run == kEndOfBlockMarker) {
      Scan[i] = {first->Length, 0, first->Length, 0};
      continue;
    }
    const auto bits = static_cast<std::uint8_t>(first->Length + 1);
    Scan[i] = {bits, static_cast<std::uint8_t>(first->Run + 1), bits, 0};
    // A second run/level code that lies wholly in the rest of the prefix (its sign may follow).
    const int used = first->Length + 1;
    const int rest = kPrefix - used;
    if (rest <= 0) continue;
    const std::uint32_t restBits = i & ((1u << rest) - 1);
    const TDctTableEntry* second = decided(restBits << (16 - rest), rest);
    if (second == nullptr || second->Run >= kEndOfBlockMarker) continue;
    Scan[i].BothBits = static_cast<std::uint8_t>(bits + second->Length + 1);
    Scan[i].PairAdvance = static_cast<std::uint8_t>(second->Run + 1);
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
