#pragma once
// Coefficient arithmetic of re-quantisation: what a level reconstructs to, and which level at
// a coarser quantiser comes closest to that.
#include <cstdint>
#include <cstdlib>

namespace varlow {

struct TLevelQuantiser {
  // The magnitude a level of magnitude m (not 0) reconstructs to, with WQ = weight x
  // quantiser_scale: intra (2 m WQ) / 32, non-intra ((2 m + 1) WQ) / 32, truncated toward zero
  // like the signed formula; MPEG-1 then makes an even result odd toward zero. Saturated at
  // 2047.
  static std::int32_t Magnitude(std::int32_t m, std::int32_t WQ, bool intra, bool mpeg1) {
    std::int32_t F = ((2 * m + (intra ? 0 : 1)) * WQ) >> 5;
    F -= static_cast<std::int32_t>(mpeg1 & (F != 0) & ((F & 1) == 0));
    return F > 2047 ? 2047 : F;
  }

  // The signed reconstruction of level QF (not 0).
  static std::int32_t Reconstruct(std::int32_t QF, std::int32_t W, std::int32_t qs, bool intra, bool mpeg1) {
    const std::int32_t F = Magnitude(QF < 0 ? -QF : QF, W * qs, intra, mpeg1);
    return QF < 0 ? -F : F;
  }

  // The level at WQ = weight x quantiser_scale whose reconstruction is closest to F; a level
  // of smaller magnitude wins while its error exceeds the nearest one's by at most Bias steps
  // (a dead zone that trades a little error for shorter codes). Limited to +-MaxLevel.
  // InverseStep is 16 / WQ. Written with selects rather than branches: the choices depend on
  // the data and would be mispredicted often.
  static std::int32_t Requantise(std::int32_t F, std::int32_t WQ, float InverseStep, bool intra, bool mpeg1,
                                 float Bias, std::int32_t MaxLevel) {
    if (WQ <= 0) return 0;
    const std::int32_t a = F < 0 ? -F : F;
    const float x = static_cast<float>(a) * InverseStep;  // about m (intra) or m + 1/2
    std::int32_t lo = static_cast<std::int32_t>(intra ? x : x - 0.5f);
    lo = lo < 0 ? 0 : (lo > MaxLevel ? MaxLevel : lo);
    const std::int32_t hi = lo < MaxLevel ? lo + 1 : lo;
    const std::int32_t recLo = lo == 0 ? 0 : Magnitude(lo, WQ, intra, mpeg1);
    const std::int32_t errorLo = recLo > a ? recLo - a : a - recLo;
    const std::int32_t recHi = Magnitude(hi, WQ, intra, mpeg1);
    const std::int32_t errorHi = recHi > a ? recHi - a : a - recHi;
    const std::int32_t slack = static_cast<std::int32_t>(Bias * static_cast<float>(WQ) * (1.0f / 16.0f));
    // The smaller magnitudes, the nearest first: each wins within the slack of the smallest
    // error so far.
    std::int32_t best = errorLo <= errorHi + slack ? lo : hi;
    const std::int32_t bestError = errorLo < errorHi ? errorLo : errorHi;
    best = a <= bestError + slack ? 0 : best;
    return F < 0 ? -best : best;
  }
};

} // namespace varlow
