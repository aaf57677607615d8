#pragma once
// Re-quantised levels of small input levels, remembered per (matrix, input quantiser_scale_code,
// output quantiser_scale_code) with the squared errors the shaping weighs. A picture
// re-quantises most coefficients with a handful of such pairs, and the levels that occur are
// mostly small: one look-up replaces the reconstructions and the rounding search of each
// coefficient.
#include <array>
#include <cstdint>
#include <vector>

namespace varlow {

// What an input level comes to: its output magnitude and the squared errors, against the
// input's reconstruction, of that magnitude, of one less, and of nothing.
struct TLevelEntry {
  std::int16_t Level = -1;
  std::int32_t ErrorKept = 0, ErrorLower = 0, ErrorZero = 0;
};

class TLevelCache {
public:
  // Magnitudes below this come from the tables; larger ones are computed each time.
  static constexpr int kSmallLevels = 32;
  // The Level of an entry not made yet.
  static constexpr std::int16_t kUnknown = -1;

  // Forgets every table; to be called whenever what a level maps to may change (matrices,
  // scan, quantiser table, rounding, MPEG-1 or not).
  void Clear() { FKeys.fill(-1); }

  // The table of a pair, entry [magnitude * 64 + scan position], its Level kUnknown until made:
  // the small magnitudes most coefficients have lie together. A pair shares its slot with others: taking over a slot empties it.
  TLevelEntry* Table(int Matrix, int QuantIn, int QuantOut) {
    const int key = ((Matrix & 3) << 10) | ((QuantIn & 31) << 5) | (QuantOut & 31);
    const auto slot = static_cast<std::size_t>(((key * 0x9E3779B1u) >> 16) & (kSlots - 1));
    if (FTables.empty()) FTables.resize(kSlots);  // on first use: the owner stays small
    if (FKeys[slot] != key) {
      FKeys[slot] = key;
      FTables[slot].fill(TLevelEntry{});
    }
    return FTables[slot].data();
  }

private:
  static constexpr int kSlots = 32;
  std::array<int, kSlots> FKeys = MakeEmptyKeys();
  std::vector<std::array<TLevelEntry, 64 * kSmallLevels>> FTables;

  static constexpr std::array<int, kSlots> MakeEmptyKeys() {
    std::array<int, kSlots> keys{};
    keys.fill(-1);
    return keys;
  }
};

} // namespace varlow
