#pragma once
// Rate-distortion shaping of a re-quantised block: after each coefficient has taken the level
// closest to its input reconstruction, a level is lowered by one, or dropped, wherever the bits
// that saves are worth more than the error it adds, at one Lagrange multiplier (bits are
// priced in squared coefficient error). The coefficients are orthonormal DCT terms, so squared
// coefficient error is squared picture error.
#include <algorithm>
#include <array>
#include <cstdint>

#include "transrate/RequantTables.h"
#include "transrate/Requantiser.h"

namespace varlow {

// A coefficient to shape, with the squared errors against the input's reconstruction of its
// level, of one less (used when the level is above 1) and of dropping it.
struct TShapedCoefficient {
  std::uint8_t Pos;         // scan position
  std::int16_t Level;       // signed output level, not 0
  std::int32_t ErrorKept;
  std::int32_t ErrorLower;
  std::int32_t ErrorZero;
};

class TBlockShaper {
public:
  // B15: intra_vlc_format applies; Mpeg1: MPEG-1 escapes and oddification.
  TBlockShaper(bool Intra, bool B15, bool Mpeg1)
      : FIntra(Intra), FMpeg1(Mpeg1), FEndOfBlockBits(B15 ? 4 : 2), FWideEscapeExtra(Mpeg1 ? 8 : 0),
        FBits(Tables()[(B15 ? 2u : 0u) + (Mpeg1 ? 1u : 0u)].data()) {}

  // Bits of a run/level pair with its sign; First: the first code of a non-intra block, which
  // has the short form "1s" for run 0, level 1.
  std::int32_t PairBits(std::int32_t Run, std::int32_t Magnitude, bool First) const {
    return PairBitsIn(FBits, FWideEscapeExtra, Run, Magnitude, First);
  }

  // The coefficient at level Level (not 0) of a block at WQ = weight x output quantiser_scale,
  // whose input reconstructs to magnitude Target.
  TShapedCoefficient Coefficient(std::uint8_t Pos, std::int32_t Level, std::int32_t Target, std::int32_t WQ) const {
    const std::int32_t m = Level < 0 ? -Level : Level;
    const auto error = [&](std::int32_t M) {
      const std::int32_t d = (M == 0 ? 0 : TLevelQuantiser::Magnitude(M, WQ, FIntra, FMpeg1)) - Target;
      return d * d;
    };
    return {Pos, static_cast<std::int16_t>(Level), error(m), error(m - 1), Target * Target};
  }

  // Shapes the Count coefficients in place (scan order) at multiplier Lambda and returns how
  // many remain. Greedy from the last coefficient to the first: the later choices are known
  // when a coefficient is weighed, and dropping it lengthens the next code's run. Every choice
  // lowers the block's cost. A non-intra block whose whole content is not worth its bits and
  // its end-of-block code is emptied.
  int Shape(TShapedCoefficient* Coef, int Count, double Lambda) const {
    std::array<std::uint8_t, 64> pos;
    std::array<std::int16_t, 64> level;
    const int first = ShapeInto(Coef, Count, Lambda, pos.data(), level.data());
    for (int k = first; k < Count; ++k) Coef[k - first] = {pos[static_cast<std::size_t>(k)], level[static_cast<std::size_t>(k)], 0, 0, 0};
    return Count - first;
  }

  // As Shape, but the kept coefficients' positions and levels go to Pos and Level (room for
  // Count each) at indices returned index .. Count - 1 (Count: none kept); Coef stays as it is.
  int ShapeInto(const TShapedCoefficient* Coef, int Count, double Lambda, std::uint8_t* Pos, std::int16_t* Level) const {
    return FIntra ? ShapeAs<true>(Coef, Count, Lambda, Pos, Level) : ShapeAs<false>(Coef, Count, Lambda, Pos, Level);
  }

private:
  // PairBits from a length table: levels from 63 on share its last column (an escape), and
  // MPEG-1 escapes of 128 and more take WideExtra (8) bits more.
  static std::int32_t PairBitsIn(const std::uint8_t* Table, std::int32_t WideExtra, std::int32_t Run,
                                 std::int32_t Magnitude, bool First) {
    if (First && Run == 0 && Magnitude == 1) return 2;
    const std::int32_t column = Magnitude < kTableLevels - 1 ? Magnitude : kTableLevels - 1;
    return Table[static_cast<std::size_t>(Run * kTableLevels + column)] + (Magnitude >= 128 ? WideExtra : 0);
  }

  template <bool Intra>
  int ShapeAs(const TShapedCoefficient* Coef, int Count, double Lambda, std::uint8_t* Pos, std::int16_t* Level) const {
    // Costs in 1/16 of a squared coefficient error, so that they stay integers.
    const auto price = static_cast<std::int64_t>(Lambda * 16.0 + 0.5);
    int kept = Count;                            // kept coefficients gather at the end
    std::int32_t nextPos = -1, nextM = 0;        // the nearest kept coefficient after i
    std::int32_t nextBits = 0;                   // its code's bits after coefficient i
    std::int32_t keptBits = 0;                   // the kept codes' bits as they stand
    std::int64_t keptError = 0, droppedError = 0;
    // The tables in locals: the byte-wide stores into Pos could alias the members, which the
    // compiler would then load again after every store.
    const std::uint8_t* const table = FBits;
    const std::int32_t wideExtra = FWideEscapeExtra;
    const std::int32_t endOfBlockBits = FEndOfBlockBits;
    const auto PairBits = [table, wideExtra](std::int32_t Run, std::int32_t Magnitude, bool First) {
      return PairBitsIn(table, wideExtra, Run, Magnitude, First);
    };
    for (int i = Count - 1; i >= 0; --i) {
      const TShapedCoefficient c = Coef[i];
      // -1: before the first position. Loaded in any case, so that the choice needs no branch.
      const std::int32_t previous = Coef[i > 0 ? i - 1 : 0].Pos;
      const std::int32_t before = i > 0 ? previous : Intra ? 0 : -1;
      const bool first = !Intra && i == 0;
      const std::int32_t run = c.Pos - before - 1;
      const std::int32_t m = c.Level < 0 ? -c.Level : c.Level;

      std::int64_t bestError = c.ErrorKept;
      std::int32_t bestBits = PairBits(run, m, first);
      std::int64_t bestCost = bestError * 16 + price * bestBits;
      std::int32_t best = m;
      // A smaller level is further from the target than the chosen one (which is the nearest,
      // or a smaller one within the dead zone): it can only pay with a shorter code.
      const std::int32_t lowerBits = m > 1 ? PairBits(run, m - 1, first) : bestBits;
      if (lowerBits < bestBits) {
        const std::int64_t cost = std::int64_t{c.ErrorLower} * 16 + price * lowerBits;
        if (cost < bestCost) {
          bestCost = cost;
          bestError = c.ErrorLower;
          bestBits = lowerBits;
          best = m - 1;
        }
      }
      // Dropped, the next kept code's run reaches back to the coefficient before this one.
      const std::int64_t zeroError = c.ErrorZero;
      const std::int32_t zeroBits = nextPos >= 0 ? PairBits(nextPos - before - 1, nextM, first) : 0;
      droppedError += zeroError;
      if (zeroError * 16 + price * zeroBits < bestCost + price * nextBits) {
        keptError += zeroError;
        keptBits += zeroBits - nextBits;
        nextBits = zeroBits;
        continue;
      }
      keptError += bestError;
      keptBits += bestBits;
      nextPos = c.Pos;
      nextM = best;
      nextBits = bestBits;
      --kept;
      Pos[kept] = c.Pos;
      Level[kept] = static_cast<std::int16_t>(c.Level < 0 ? -best : best);
    }
    if (!Intra && kept < Count && droppedError * 16 <= keptError * 16 + price * (keptBits + endOfBlockBits)) return Count;
    return kept;
  }

  // Pair lengths are looked up for levels below this; larger ones are always escaped.
  static constexpr std::int32_t kTableLevels = 64;
  using TBitsTable = std::array<std::uint8_t, 64 * kTableLevels>;

  static std::int32_t EscapeBits(std::int32_t Magnitude, bool Mpeg1) {
    if (!Mpeg1) return 24;               // escape, 6-bit run, 12-bit level
    return Magnitude < 128 ? 20 : 28;    // escape, 6-bit run, 8- or 16-bit level
  }
  // Lengths by [table B-15][MPEG-1][run * kTableLevels + magnitude], made once.
  static const std::array<TBitsTable, 4>& Tables() {
    static const std::array<TBitsTable, 4> tables = [] {
      std::array<TBitsTable, 4> t{};
      const TRequantCodes& codes = TRequantCodes::Shared();
      for (std::size_t k = 0; k < 4; ++k)
        for (std::int32_t run = 0; run < 64; ++run)
          for (std::int32_t m = 1; m < kTableLevels; ++m) {
            const TVlcCode code = codes.RunLevel(k >= 2, run, m);
            t[k][static_cast<std::size_t>(run * kTableLevels + m)] =
                static_cast<std::uint8_t>(code.Length > 0 ? code.Length + 1 : EscapeBits(m, (k & 1) != 0));
          }
      return t;
    }();
    return tables;
  }

  bool FIntra, FMpeg1;
  std::int32_t FEndOfBlockBits;
  std::int32_t FWideEscapeExtra;
  const std::uint8_t* FBits;
};

} // namespace varlow
