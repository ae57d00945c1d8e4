// Integers of up to 16 digits converted in 128-bit lanes, four at a time,
// for the fold of the AVX2 and SSE4 kernels (docs/design.md, "Mark scan:
// AVX2 and SSE4"): each integer's last 16 bytes in a vector of their own,
// its digits times a row of block/lane_rows.h, which clears the bytes of the
// integer before it and gives its pairs of digits and its sign, in one
// pmaddubsw; then fours, eights and the values by pmaddwd and pmulld.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "block/lane_rows.h"
#include "block/values.h"

namespace intsum {
namespace block {
namespace {

// An integer's signed fours of digits, up to 9999 either way, in 32-bit lanes.
INTSUM_ALWAYS_INLINE __m128i lane_fours(lane_integer x, __m128i zero_char) {
  const __m128i digits = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x.bytes)), zero_char);
  const __m128i pairs = _mm_maddubs_epi16(digits, _mm_load_si128(reinterpret_cast<const __m128i*>(x.row)));
  return _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
}

// Two integers' eights: 10^4 times each even four plus the odd, a's then b's.
INTSUM_ALWAYS_INLINE __m128i lane_eights(__m128i a, __m128i b) {
  return _mm_madd_epi16(_mm_packs_epi32(a, b), _mm_set1_epi32(0x00012710));
}

// The values of the integers whose eights are in e01 and e23, in order:
// 10^8 times each even eight plus the odd, mod 2^32.
INTSUM_ALWAYS_INLINE __m128i lane_values(__m128i e01, __m128i e23) {
  const __m128 x = _mm_castsi128_ps(e01), y = _mm_castsi128_ps(e23);
  const __m128i even = _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_add_epi32(_mm_mullo_epi32(even, _mm_set1_epi32(100000000)), odd);
}

// Converts the integers of a block whose digit runs are at most 16 long
// into the batch, four at a time and the last one or two as a pair; the
// last four may write past them.
template <bool FirstOfRun>
INTSUM_ALWAYS_INLINE void convert_lanes(const unsigned char* p, const block_plan& plan,
                                        const integer_ends& at, value_batch& batch) {
  alignas(16) unsigned char front[32] = {};
  auto integers = lane_cursor<FirstOfRun>::over(p, front, at.ends, plan.negative);
  const auto count = static_cast<unsigned>(std::popcount(at.ends));
  std::uint32_t* const out = batch.value + batch.count;
  const __m128i zero_char = _mm_set1_epi8('0');
  unsigned i = 0;
  for (; i + 2 < count; i += 4) {
    const __m128i f0 = lane_fours(integers.next(), zero_char), f1 = lane_fours(integers.next(), zero_char);
    const __m128i f2 = lane_fours(integers.next(), zero_char), f3 = lane_fours(integers.next(), zero_char);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     lane_values(lane_eights(f0, f1), lane_eights(f2, f3)));
  }
  if (i < count) {
    const __m128i f0 = lane_fours(integers.next(), zero_char), f1 = lane_fours(integers.next(), zero_char);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i),
                     lane_values(lane_eights(f0, f1), _mm_setzero_si128()));
  }
  take_converted(batch, out, at, plan.negative);
}

// The same, reading before the block but for the first of a run.
INTSUM_ALWAYS_INLINE void convert_in_lanes(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch) {
  if (p == batch.run) [[unlikely]]
    return convert_lanes<true>(p, plan, at, batch);
  convert_lanes<false>(p, plan, at, batch);
}

}  // namespace
}  // namespace block
}  // namespace intsum
