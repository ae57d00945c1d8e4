// The summing kernel for AVX2: the method of the AVX-512 kernel, each 64-byte
// block held as two 32-byte halves. Byte shuffles look up 16 entries, so the
// weights come from two tables, by place k = run - 1.
#include <immintrin.h>

#include "block_plan.h"

namespace intsum {
namespace {

constexpr block::weight_planes weights = block::make_weight_planes();

struct bytes64 {
  __m256i lo, hi;
};

__m256i splat(int c) { return _mm256_set1_epi8(static_cast<char>(c)); }

__m256i table16(const unsigned char* p) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

std::uint64_t to_mask(__m256i lo, __m256i hi) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
}

// 0xff where x <= limit, unsigned.
__m256i at_most(__m256i x, __m256i limit) { return _mm256_cmpeq_epi8(_mm256_min_epu8(x, limit), x); }

// Bytes moved S places toward byte 0, zeros coming in at the top.
template <int S>
bytes64 shift_down(const bytes64& x) {
  if constexpr (S == 32) {
    return {x.hi, _mm256_setzero_si256()};
  } else {
    const __m256i mid = _mm256_permute2x128_si256(x.lo, x.hi, 0x21);
    const __m256i top = _mm256_permute2x128_si256(x.hi, x.hi, 0x81);
    if constexpr (S == 16)
      return {mid, top};
    else
      return {_mm256_alignr_epi8(mid, x.lo, S), _mm256_alignr_epi8(top, x.hi, S)};
  }
}

struct avx2_blocks {
  struct constants {
    __m256i zero = splat('0'), tab = splat('\t'), minus = splat('-'), plus = splat('+');
    __m256i space = splat(' '), comma = splat(','), nine = splat(9), four = splat(4);
    __m256i one = splat(1), two = splat(2), eight = splat(8), sixteen = splat(16), thirty_two = splat(32);
    __m256i last_weighted = splat(block::weighted_places), ones16 = _mm256_set1_epi16(1);
    // Byte i holds 64 - i: a run that long from byte i reaches the block's end.
    bytes64 to_end = {_mm256_setr_epi8(64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                                       46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33),
                      _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                                       14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1)};
    // For turning bits into bytes: byte j takes byte j / 8 of the mask, then its own bit.
    __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                                      3, 3, 3, 3, 3, 3, 3, 3);
    __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
    // Weight byte b for places 0 to 15 and 16 to 31.
    __m256i low[4] = {table16(weights.byte[0] + 1), table16(weights.byte[1] + 1),
                      table16(weights.byte[2] + 1), table16(weights.byte[3] + 1)};
    __m256i high[4] = {table16(weights.byte[0] + 17), table16(weights.byte[1] + 17),
                       table16(weights.byte[2] + 17), table16(weights.byte[3] + 17)};

    constants() {
      block::opaque(zero, tab, minus, plus, space, comma, nine, four, one, two, eight, sixteen, thirty_two,
                    last_weighted, ones16, to_end.lo, to_end.hi, spread, bit);
    }

    // 0xff in the bytes whose bit is set in m.
    bytes64 expand(std::uint64_t m) const {
      auto half = [this](std::uint32_t h) {
        const __m256i x = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(h)), spread);
        return _mm256_cmpeq_epi8(_mm256_and_si256(x, bit), bit);
      };
      return {half(static_cast<std::uint32_t>(m)), half(static_cast<std::uint32_t>(m >> 32))};
    }
  };

  struct accumulators {
    // Sums of digit times weight byte, one per byte of the weight. Bytes 2
    // and 3 are needed only mod 2^16 and 2^8, so they stay in 16-bit lanes.
    __m256i byte[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                       _mm256_setzero_si256()};
  };

  static block::classes classify(const unsigned char* p, const constants& k) {
    const bytes64 v = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32))};
    auto equal = [&v](__m256i c) { return to_mask(_mm256_cmpeq_epi8(v.lo, c), _mm256_cmpeq_epi8(v.hi, c)); };
    auto in_range = [&v](__m256i first, __m256i span) {
      return to_mask(at_most(_mm256_sub_epi8(v.lo, first), span),
                     at_most(_mm256_sub_epi8(v.hi, first), span));
    };
    return block::classes::of(in_range(k.zero, k.nine), equal(k.minus), equal(k.plus), equal(k.space),
                              equal(k.comma), in_range(k.tab, k.four));
  }

  static void weigh(const unsigned char* p, const block::plan& plan, accumulators& acc, const constants& k) {
    if (plan.live == 0) return;
    const bytes64 digit = {
        _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), k.zero),
        _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), k.zero)};
    const bytes64 is_digit = {at_most(digit.lo, k.nine), at_most(digit.hi, k.nine)};

    // Run lengths by doubling: where the run from a byte is known to be at
    // least S long, add the run from S bytes further on. Integers of 16
    // digits and more are rare enough for a branch.
    bytes64 runs = {_mm256_and_si256(is_digit.lo, k.one), _mm256_and_si256(is_digit.hi, k.one)};
    auto extend = [&runs](__m256i s_bytes, const bytes64& shifted) {
      auto step = [s_bytes](__m256i r, __m256i n) {
        return _mm256_add_epi8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, s_bytes), n));
      };
      runs = {step(runs.lo, shifted.lo), step(runs.hi, shifted.hi)};
    };
    extend(k.one, shift_down<1>(runs));
    extend(k.two, shift_down<2>(runs));
    extend(k.four, shift_down<4>(runs));
    extend(k.eight, shift_down<8>(runs));
    if (to_mask(_mm256_cmpeq_epi8(runs.lo, k.sixteen), _mm256_cmpeq_epi8(runs.hi, k.sixteen)) != 0) {
      extend(k.sixteen, shift_down<16>(runs));
      extend(k.thirty_two, shift_down<32>(runs));
    }

    const bytes64 live = k.expand(plan.live), negative = k.expand(plan.negative);
    const __m256i next_run = splat(static_cast<int>(plan.next_run));
    auto half = [&](__m256i r, __m256i to_end, __m256i live, __m256i negative, __m256i digit) {
      // A run that reaches the end of the block goes on into the next one.
      r = _mm256_add_epi8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, to_end), next_run));
      r = _mm256_and_si256(r, live);
      // Places from 32 on weigh 0, as do the bytes that are no digit (k = 0xff).
      const __m256i place = _mm256_sub_epi8(_mm256_and_si256(r, at_most(r, k.last_weighted)), k.one);
      const __m256i signed_digit = _mm256_sub_epi8(_mm256_xor_si256(digit, negative), negative);
      const __m256i upper = _mm256_slli_epi16(place, 3);  // bit 4 of each place to bit 7
      __m256i product[4];
      for (int b = 0; b < 4; ++b) {
        const __m256i w = _mm256_blendv_epi8(_mm256_shuffle_epi8(k.low[b], place),
                                             _mm256_shuffle_epi8(k.high[b], place), upper);
        product[b] = _mm256_maddubs_epi16(w, signed_digit);
      }
      acc.byte[0] = _mm256_add_epi32(acc.byte[0], _mm256_madd_epi16(product[0], k.ones16));
      acc.byte[1] = _mm256_add_epi32(acc.byte[1], _mm256_madd_epi16(product[1], k.ones16));
      acc.byte[2] = _mm256_add_epi16(acc.byte[2], product[2]);
      acc.byte[3] = _mm256_add_epi16(acc.byte[3], product[3]);
    };
    half(runs.lo, k.to_end.lo, live.lo, negative.lo, digit.lo);
    half(runs.hi, k.to_end.hi, live.hi, negative.hi, digit.hi);
  }

  static std::uint32_t total(const accumulators& acc) {
    auto lanes = [](__m256i x) {
      __m128i s = _mm_add_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
      s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
      s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
      return static_cast<std::uint32_t>(_mm_cvtsi128_si32(s));
    };
    const __m256i ones16 = _mm256_set1_epi16(1);
    return lanes(acc.byte[0]) + (lanes(acc.byte[1]) << 8) +
           (lanes(_mm256_madd_epi16(acc.byte[2], ones16)) << 16) +
           (lanes(_mm256_madd_epi16(acc.byte[3], ones16)) << 24);
  }
};

}  // namespace

chunk_result sum_avx2(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk<avx2_blocks>(c, p, n, eof);
}

}  // namespace intsum
