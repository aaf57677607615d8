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

#if defined(__x86_64__)
// 62 positions per step for processors with AVX2: one compare against 0 and one against 1 of
// 64 bytes give two bit masks, and a prefix starts at bit k when zero[k], zero[k + 1] and
// one[k + 2] are set. The last two positions of a step need the next bytes, so the next step
// begins there.
__attribute__((target("avx2"))) std::size_t FindAvx2(const std::uint8_t* data, std::size_t i, std::size_t size) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  constexpr std::uint64_t kWhole = (std::uint64_t{1} << 62) - 1;
  while (i + 65 <= size) {  // loads reach i + 63; a hit's code byte, at most i + 64
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32));
    const std::uint64_t z = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, zero))) |
                            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, zero)))} << 32;
    const std::uint64_t pairs = z & (z >> 1) & kWhole;
    if (pairs == 0) {  // coded data seldom holds two zero bytes in a row: most steps end here
      i += 62;
      continue;
    }
    const std::uint64_t o = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, one))) |
                            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, one)))} << 32;
    const std::uint64_t hits = pairs & (o >> 2);
    if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctzll(hits));
    i += 62;
  }
  return i;  // where the caller goes on
}

// Every hit of the 62-position steps, without leaving the loop.
__attribute__((target("avx2"))) std::size_t FindAllAvx2(const std::uint8_t* data, std::size_t size,
                                                        std::vector<std::uint32_t>& out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  constexpr std::uint64_t kWhole = (std::uint64_t{1} << 62) - 1;
  std::size_t i = 0;
  while (i + 65 <= size) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32));
    const std::uint64_t z = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, zero))) |
                            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, zero)))} << 32;
    const std::uint64_t pairs = z & (z >> 1) & kWhole;
    if (pairs == 0) {  // coded data seldom holds two zero bytes in a row: most steps end here
      i += 62;
      continue;
    }
    const std::uint64_t o = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, one))) |
                            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, one)))} << 32;
    for (std::uint64_t hits = pairs & (o >> 2); hits != 0; hits &= hits - 1)
      out.push_back(static_cast<std::uint32_t>(i + static_cast<std::size_t>(__builtin_ctzll(hits))));
    i += 62;
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
  for (std::size_t q = FindAnyStartCode(data, i, size); q < size; q = FindAnyStartCode(data, q + 3, size))
    if (out.empty() || q > out.back()) out.push_back(static_cast<std::uint32_t>(q));
}

} // namespace varlow
