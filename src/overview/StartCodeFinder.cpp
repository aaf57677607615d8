#include "overview/StartCodeFinder.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varlow {

namespace {

std::size_t FindScalar(const std::uint8_t* data, std::size_t i, std::size_t size) {
  for (; i + 4 <= size; ++i)
    if (data[i + 2] == 1 && data[i] == 0 && data[i + 1] == 0) return i;
  return size;
}

// Lists the start codes found from `from` on with the byte walk, applying the slice-run rule
// when `inSliceRun` is given; positions already listed are not listed again.
void ListScalar(const std::uint8_t* data, std::size_t from, std::size_t size, std::vector<std::uint32_t>& out,
                bool* inSliceRun) {
  for (std::size_t q = FindAnyStartCode(data, from, size); q < size; q = FindAnyStartCode(data, q + 3, size)) {
    if (!out.empty() && q <= out.back()) continue;
    if (inSliceRun != nullptr) {
      const bool slice = IsSliceCode(data[q + 3]);
      const bool skip = slice && *inSliceRun;
      *inSliceRun = slice;
      if (skip) continue;
    }
    out.push_back(static_cast<std::uint32_t>(q));
  }
}

#if defined(__x86_64__)
// Bit k of each mask stands for byte i + k of a 64-byte window.
struct TWindowMasks {
  std::uint64_t Zero;
  std::uint64_t One;
};

__attribute__((target("avx2"))) inline std::uint64_t Mask64(__m256i lo, __m256i hi) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
         std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))} << 32;
}

// Positions k of the window at which two zero bytes begin (k + 1 within the window), and where
// the window holds 01s. Coded data seldom holds two zero bytes in a row, so most windows stop at
// the zero pairs and never need the ones.
__attribute__((target("avx2"))) inline std::uint64_t ZeroPairs(__m256i lo, __m256i hi) {
  const __m256i zero = _mm256_setzero_si256();
  const std::uint64_t z = Mask64(_mm256_cmpeq_epi8(lo, zero), _mm256_cmpeq_epi8(hi, zero));
  return z & (z >> 1);
}

__attribute__((target("avx2"))) inline std::uint64_t Ones(__m256i lo, __m256i hi) {
  const __m256i one = _mm256_set1_epi8(1);
  return Mask64(_mm256_cmpeq_epi8(lo, one), _mm256_cmpeq_epi8(hi, one));
}

// Bytes 01 to AF: the codes of slices.
__attribute__((target("avx2"))) inline std::uint64_t SliceCodes(__m256i lo, __m256i hi) {
  const __m256i one = _mm256_set1_epi8(1);
  const __m256i last = _mm256_set1_epi8(static_cast<char>(0xAE));
  const __m256i a = _mm256_sub_epi8(lo, one);  // 01..AF become 00..AE, 00 becomes FF
  const __m256i b = _mm256_sub_epi8(hi, one);
  return Mask64(_mm256_cmpeq_epi8(_mm256_min_epu8(a, last), a), _mm256_cmpeq_epi8(_mm256_min_epu8(b, last), b));
}

__attribute__((target("avx2"))) inline void Load(const std::uint8_t* p, __m256i& lo, __m256i& hi) {
  lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
}

// A prefix starts at bit k when zero[k], zero[k + 1] and one[k + 2] are set: 62 positions per
// 64-byte window, so the next window begins two bytes before this one ends.
constexpr std::uint64_t kPrefixPositions = (std::uint64_t{1} << 62) - 1;
// With the code byte at k + 3 looked at too: 61 positions.
constexpr std::uint64_t kCodePositions = (std::uint64_t{1} << 61) - 1;

__attribute__((target("avx2"))) std::size_t FindAvx2(const std::uint8_t* data, std::size_t i, std::size_t size) {
  while (i + 65 <= size) {  // loads reach i + 63; a hit's code byte, at most i + 64
    __m256i lo, hi;
    Load(data + i, lo, hi);
    const std::uint64_t pairs = ZeroPairs(lo, hi) & kPrefixPositions;
    if (pairs != 0) {
      const std::uint64_t hits = pairs & (Ones(lo, hi) >> 2);
      if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctzll(hits));
    }
    i += 62;
  }
  return i;  // where the caller goes on
}

// Every hit of the 62-position windows, without leaving the loop.
__attribute__((target("avx2"))) std::size_t FindAllAvx2(const std::uint8_t* data, std::size_t size,
                                                        std::vector<std::uint32_t>& out) {
  std::size_t i = 0;
  while (i + 65 <= size) {
    __m256i lo, hi;
    Load(data + i, lo, hi);
    const std::uint64_t pairs = ZeroPairs(lo, hi) & kPrefixPositions;
    if (pairs != 0)
      for (std::uint64_t hits = pairs & (Ones(lo, hi) >> 2); hits != 0; hits &= hits - 1)
        out.push_back(static_cast<std::uint32_t>(i + static_cast<std::size_t>(__builtin_ctzll(hits))));
    i += 62;
  }
  return i;
}

// The slice-run rule over 61-position windows. Slices begin every hundred bytes or so, so half
// of all windows hold a code: every mask is computed each time, and the one branch taken per
// window is whether it holds a code that is listed, which is seldom.
__attribute__((target("avx2"))) std::size_t FindButSliceRunsAvx2(const std::uint8_t* data, std::size_t size,
                                                                 std::vector<std::uint32_t>& out, bool& inSliceRun) {
  std::size_t i = 0;
  while (i + 64 <= size) {  // a hit's code byte is at most i + 63
    __m256i lo, hi;
    Load(data + i, lo, hi);
    const std::uint64_t hits = ZeroPairs(lo, hi) & (Ones(lo, hi) >> 2) & kCodePositions;
    const std::uint64_t slices = SliceCodes(lo, hi) >> 3;
    // Inside a run of slices only a code of another kind is news; outside one, any code is.
    const std::uint64_t news = inSliceRun ? hits & ~slices : hits;
    if (news != 0) {
      for (std::uint64_t rest = hits; rest != 0; rest &= rest - 1) {
        const int k = __builtin_ctzll(rest);
        const bool slice = (slices >> k & 1) != 0;
        if (!slice || !inSliceRun) out.push_back(static_cast<std::uint32_t>(i + static_cast<std::size_t>(k)));
        inSliceRun = slice;
      }
    }
    i += 61;
  }
  return i;
}

// Asked once; the processor's features must be read before the first question.
const bool kHasAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

} // namespace

std::size_t FindAnyStartCode(const std::uint8_t* data, std::size_t from, std::size_t size) {
  if (size < 4 || from > size - 4) return size;
  std::size_t i = from;
#if defined(__x86_64__)
  if (kHasAvx2) {
    i = FindAvx2(data, i, size);
    if (i + 4 <= size && data[i + 2] == 1 && data[i] == 0 && data[i + 1] == 0) return i;
  }
#endif
#if defined(__SSE2__)
  // Sixteen positions per step: position k is a prefix when bytes k and k + 1 are zero and
  // byte k + 2 is one, so three overlapping loads compared at once mark every prefix. Coded
  // pictures hold a 01 every few dozen bytes, which makes a memchr for it stop far too often.
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  while (i + 19 <= size) {  // loads reach i + 17; a hit's code byte, at most i + 18
    const auto* p = reinterpret_cast<const __m128i*>(data + i);
    const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(p), zero);
    const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1)), zero);
    const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 2)), one);
    const int mask = _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), c));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    i += 16;
  }
#endif
  return FindScalar(data, i, size);
}

void FindAllStartCodes(const std::uint8_t* data, std::size_t size, std::vector<std::uint32_t>& out) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (kHasAvx2) i = FindAllAvx2(data, size, out);
#endif
  // Prefixes never overlap, so a hit found by the fast loop cannot hide one that starts in the
  // rest; but the rest must not report a position the fast loop already gave.
  ListScalar(data, i, size, out, nullptr);
}

void FindStartCodesButSliceRuns(const std::uint8_t* data, std::size_t size, std::vector<std::uint32_t>& out) {
  bool inSliceRun = false;
  std::size_t i = 0;
#if defined(__x86_64__)
  if (kHasAvx2) i = FindButSliceRunsAvx2(data, size, out, inSliceRun);
#endif
  ListScalar(data, i, size, out, &inSliceRun);
}

} // namespace varlow
