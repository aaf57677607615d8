#pragma once
// Coefficient arithmetic of re-quantisation: what a level reconstructs to, and which level at
// a coarser quantiser comes closest to that.
#include <cstdint>
#include <cstdlib>

namespace varlow {

struct TLevelQuantiser {
  // The reconstructed coefficient of level QF (not 0) with weight W and quantiser_scale qs:
  // intra (2 QF W qs) / 32, non-intra ((2 QF + sign QF) W qs) / 32, truncated toward zero;
  // MPEG-1 then makes an even result odd toward zero. Saturated to -2048..2047.
  static std::int32_t Reconstruct(std::int32_t QF, std::int32_t W, std::int32_t qs, bool intra, bool mpeg1) {
    const std::int32_t sign = QF < 0 ? -1 : 1;
    const std::int32_t v = intra ? 2 * QF : 2 * QF + sign;
    std::int32_t F = v * W * qs / 32;
    if (mpeg1 && F != 0 && (F & 1) == 0) F -= sign;
    return F < -2048 ? -2048 : (F > 2047 ? 2047 : F);
  }

  // The level at quantiser_scale qs whose reconstruction is closest to F; a level of smaller
  // magnitude wins while its error exceeds the nearest one's by at most Bias steps (a dead zone
  // that trades a little error for shorter codes). Limited to +-MaxLevel.
  static std::int32_t Requantise(std::int32_t F, std::int32_t W, std::int32_t qs, bool intra, bool mpeg1, float Bias,
                                 std::int32_t MaxLevel) {
    if (F == 0) return 0;
    const std::int32_t a = std::abs(F);
    const std::int32_t wq = W * qs;
    if (wq <= 0) return 0;
    std::int32_t lo;
    if (intra) {
      lo = a * 16 / wq;
    } else {
      const std::int32_t t = a * 32 / wq;  // about 2 m + 1
      lo = t >= 1 ? (t - 1) / 2 : 0;
    }
    if (lo > MaxLevel) lo = MaxLevel;
    const std::int32_t hi = lo < MaxLevel ? lo + 1 : lo;
    const auto error = [&](std::int32_t m) { return m == 0 ? a : std::abs(Reconstruct(m, W, qs, intra, mpeg1) - a); };
    const float step = static_cast<float>(wq) / 16.0f;
    const float slack = Bias * step;
    std::int32_t best = hi;
    float bestError = static_cast<float>(error(hi));
    // Candidates of smaller magnitude, the nearest first: each wins if its error is within the
    // slack of the best so far.
    const std::int32_t candidates[2] = {lo, 0};
    for (std::int32_t m : candidates) {
      if (m >= best) continue;
      const float e = static_cast<float>(error(m));
      if (e <= bestError + slack) {
        bestError = e < bestError ? e : bestError;
        best = m;
      }
    }
    return F < 0 ? -best : best;
  }
};

} // namespace varlow
