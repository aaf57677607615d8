// Small copies of the slice layer's code tables for the transcoder's walk: they stay in the
// first-level cache, where the 65,536-entry tables they come from do not.
#include <bit>
#include <stdexcept>

#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/RequantTables.h"

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

void TMPEGVideoTranscoder::BuildLevelTable(const TDctTableEntry* Table, TLevelTable& Levels) {
  constexpr int kPrefix = kLevelPrefixBits;
  constexpr std::uint32_t kRest = (1u << (16 - kPrefix)) - 1;
  for (std::uint32_t i = 0; i < Levels.size(); ++i) {
    Levels[i] = {0, 0, 0};
    const TDctTableEntry& e = Table[i << (16 - kPrefix)];
    const TDctTableEntry& last = Table[(i << (16 - kPrefix)) | kRest];
    // Decided when the code lies within the prefix: every longer index reads the same entry.
    if (e.Length == 0 || last.Run != e.Run || last.Length != e.Length || last.Level != e.Level) continue;
    if (e.Run == kEndOfBlockMarker && e.Length <= kPrefix) {
      Levels[i] = {0, e.Length, 0};
    } else if (e.Run < kEndOfBlockMarker && e.Length + 1 <= kPrefix) {
      // The sign bit follows the code: 1 is negative.
      const bool negative = (i >> (kPrefix - e.Length - 1)) & 1u;
      Levels[i] = {static_cast<std::int16_t>(negative ? -e.Level : e.Level), static_cast<std::uint8_t>(e.Length + 1),
                   e.Run};
    }
  }
}

void TMPEGVideoTranscoder::BuildRunLevelCodes(bool B15, TRunLevelCodes& Codes) {
  static_assert(kWriteRuns == TRequantCodes::kMaxRun + 1 && kWriteLevels == TRequantCodes::kMaxLevel + 1);
  const TRequantCodes& codes = TRequantCodes::Shared();
  for (int run = 0; run < kWriteRuns; ++run) {
    for (int level = 0; level < kWriteLevels; ++level) {
      const TVlcCode c = level == 0 ? TVlcCode{} : codes.RunLevel(B15, run, level);
      Codes[static_cast<std::size_t>(run * kWriteLevels + level)] =
          c.Length > 0 ? (c.Code << 1) << 8 | static_cast<std::uint32_t>(c.Length + 1) : 0u;
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
    BuildLevelTable(vlc.B14.Table(), t.LevelB14);
    BuildLevelTable(vlc.B15.Table(), t.LevelB15);
    BuildRunLevelCodes(false, t.WriteB14);
    BuildRunLevelCodes(true, t.WriteB15);
    return t;
  }();
  return tables;
}

} // namespace varlow
