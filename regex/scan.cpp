// Fast forward searches: SSE2 compares eight units at a time where available.
#include "regex/scan.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/ascii_text.h"

namespace brevis {
namespace {

bool SameUnits(const char16_t* a, const char16_t* b, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

#if defined(__SSE2__)
inline __m128i Load8(const char16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline unsigned Mask(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
inline __m128i Splat(char16_t c) { return _mm_set1_epi16(static_cast<short>(c)); }
#endif

}  // namespace

const char16_t* FindUnit(const char16_t* begin, const char16_t* end, char16_t c) {
  const char16_t* p = begin;
#if defined(__SSE2__)
  const __m128i needle = Splat(c);
  while (end - p >= 16) {
    const unsigned m = Mask(_mm_cmpeq_epi16(Load8(p), needle)) |
                       (Mask(_mm_cmpeq_epi16(Load8(p + 8), needle)) << 16);
    if (m != 0) return p + __builtin_ctz(m) / 2;
    p += 16;
  }
  while (end - p >= 8) {
    const unsigned m = Mask(_mm_cmpeq_epi16(Load8(p), needle));
    if (m != 0) return p + __builtin_ctz(m) / 2;
    p += 8;
  }
  if (p < end && end - begin >= 8) {
    // The last eight units, overlapping units already known not to hold c.
    const unsigned m = Mask(_mm_cmpeq_epi16(Load8(end - 8), needle));
    return m != 0 ? end - 8 + __builtin_ctz(m) / 2 : nullptr;
  }
#endif
  for (; p < end; ++p) {
    if (*p == c) return p;
  }
  return nullptr;
}

const char16_t* SkipDigits(const char16_t* begin, const char16_t* end) {
  const char16_t* p = begin;
#if defined(__SSE2__)
  // c - '0' is a digit's value when it is at most 9 unsigned: subtracting 9 with saturation
  // leaves 0 exactly for the digits.
  const __m128i zero = _mm_setzero_si128();
  const __m128i digit0 = Splat(u'0');
  const __m128i nine = Splat(9);
  auto non_digits = [&](const char16_t* q) {
    const __m128i value = _mm_sub_epi16(Load8(q), digit0);
    return Mask(_mm_cmpeq_epi16(_mm_subs_epu16(value, nine), zero)) ^ 0xFFFFu;
  };
  while (end - p >= 8) {
    const unsigned m = non_digits(p);
    if (m != 0) return p + __builtin_ctz(m) / 2;
    p += 8;
  }
  if (p < end && end - begin >= 8) {
    // The last eight units, overlapping units already known to be digits.
    const unsigned m = non_digits(end - 8);
    return m != 0 ? end - 8 + __builtin_ctz(m) / 2 : end;
  }
#endif
  while (p < end && ascii::IsDigit(*p)) ++p;
  return p;
}

const char16_t* FindLiteral(const char16_t* begin, const char16_t* end, const char16_t* lit,
                            size_t len) {
  if (len == 0) return begin <= end ? begin : nullptr;  // the empty literal is everywhere
  if (len == 1) return FindUnit(begin, end, lit[0]);
  if (end - begin < static_cast<std::ptrdiff_t>(len)) return nullptr;
  const char16_t* const last_start = end - len;  // last position where lit fits
  // Filter candidates on two units: the first, and the next one that differs from it, so that
  // runs of one repeated unit do not flood the filter.
  size_t k = 1;
  while (k + 1 < len && lit[k] == lit[0]) ++k;
  const char16_t* p = begin;
#if defined(__SSE2__)
  const __m128i first = Splat(lit[0]);
  const __m128i second = Splat(lit[k]);
  // A block of 8 candidates p..p+7 needs units up to p + 7 + k, all before end.
  while (last_start - p >= 8 && end - (p + k) >= 8) {
    unsigned m = Mask(
        _mm_and_si128(_mm_cmpeq_epi16(Load8(p), first), _mm_cmpeq_epi16(Load8(p + k), second)));
    while (m != 0) {
      const char16_t* cand = p + __builtin_ctz(m) / 2;
      if (SameUnits(cand, lit, len)) return cand;
      m &= m - 1;
      m &= m - 1;  // each unit sets two mask bits
    }
    p += 8;
  }
#endif
  for (; p <= last_start; ++p) {
    if (p[0] == lit[0] && p[k] == lit[k] && SameUnits(p, lit, len)) return p;
  }
  return nullptr;
}

}  // namespace brevis
