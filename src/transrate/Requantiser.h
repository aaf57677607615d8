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
    if (mpeg1 && F != 0 && (F & 1) == 0) F -= 1;
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
  // InverseStep is 16 / WQ.
  static std::int32_t Requantise(std::int32_t F, std::int32_t WQ, float InverseStep, bool intra, bool mpeg1,
                                 float Bias, std::int32_t MaxLevel) {
    if (F == 0 || WQ <= 0) return 0;
    const std::int32_t a = F < 0 ? -F : F;
    const float x = static_cast<float>(a) * InverseStep;  // about m (intra) or m + 1/2
    std::int32_t lo = static_cast<std::int32_t>(intra ? x : x - 0.5f);
    if (lo < 0) lo = 0;
    if (lo > MaxLevel) lo = MaxLevel;
    const std::int32_t hi = lo < MaxLevel ? lo + 1 : lo;
    const auto error = [&](std::int32_t m) {
      const std::int32_t d = m == 0 ? a : Magnitude(m, WQ, intra, mpeg1) - a;
      return static_cast<float>(d < 0 ? -d : d);
    };
    const float slack = Bias * static_cast<float>(WQ) * (1.0f / 16.0f);
    std::int32_t best = hi;
    float bestError = error(hi);
    // Smaller magnitudes, the nearest first: each wins if its error is within the slack of the
    // smallest error so far.
    if (lo < hi) {
      const float e = error(lo);
      if (e <= bestError + slack) {
        bestError = e < bestError ? e : bestError;
        best = lo;
      }
    }
    if (best > 0 && static_cast<float>(a) <= bestError + slack) best = 0;
    return F < 0 ? -best : best;
  }
};

} // namespace varlow
