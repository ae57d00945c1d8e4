// The summing kernel for AVX-512 F and BW alone (Skylake-SP, Cascade Lake):
// the method of the AVX-512 kernel, without its byte permutes, multishift,
// byte popcount and dot products. Classes come from two 16-entry lookups,
// by the low and the high half of each byte; run lengths by doubling; the
// weights from 16-entry lookups, and the products from byte and word
// multiply-adds, as in the AVX2 kernel, 64 bytes at a time.
#include <immintrin.h>

// GCC 12's AVX-512 headers start some results from an undefined vector and
// then warn about it (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include "block_plan_avx512.h"

namespace intsum {
namespace {

constexpr block::weight_planes weights = block::make_weight_planes();

__m512i splat(int c) { return _mm512_set1_epi8(static_cast<char>(c)); }

__m512i lanes16(const unsigned char* p) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Bytes moved S places toward byte 0, zeros coming in at the top.
template <int S>
__m512i shift_down(__m512i x) {
  const __m512i zero = _mm512_setzero_si512();
  if constexpr (S % 4 == 0) {
    return _mm512_alignr_epi32(zero, x, S / 4);
  } else {
    return _mm512_alignr_epi8(_mm512_alignr_epi32(zero, x, 4), x, S);
  }
}

// A byte's classes are those of its low half and its high half both.
enum : unsigned char { is_digit = 1, is_minus = 2, is_plus = 4, is_space = 8, is_comma = 16, is_blank = 32 };

struct nibble_tables {
  alignas(16) unsigned char low[16], high[16];
};

constexpr nibble_tables make_nibble_tables() {
  nibble_tables t{};
  for (int n = 0; n < 16; ++n) {
    t.low[n] = static_cast<unsigned char>((n <= 9 ? is_digit : 0) | (n == 0 ? is_space : 0) |
                                          (n == 0xb ? is_plus : 0) | (n == 0xc ? is_comma : 0) |
                                          (n == 0xd ? is_minus : 0) | (n >= 9 && n <= 0xd ? is_blank : 0));
  }
  t.high[0] = is_blank;                                  // tab to carriage return
  t.high[2] = is_minus | is_plus | is_space | is_comma;  // 0x20 to 0x2f
  t.high[3] = is_digit;                                  // 0x30 to 0x3f
  return t;
}

constexpr nibble_tables nibbles = make_nibble_tables();

struct avx512bw_blocks {
  struct constants {
    __m512i zero = splat('0'), low_nibble = splat(0x0f), digit_bit = splat(is_digit),
            minus_bit = splat(is_minus);
    __m512i sign_bits = splat(is_minus | is_plus), separator_bits = splat(is_space | is_comma);
    __m512i comma_bit = splat(is_comma), one = splat(1), two = splat(2), four = splat(4), eight = splat(8);
    __m512i fifteen = splat(15), ones16 = _mm512_set1_epi16(1);
    // Byte i holds 64 - i: a run that long from byte i reaches the block's end.
    __m512i to_end =
        _mm512_set_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                        25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45,
                        46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64);
    __m512i class_low = lanes16(nibbles.low), class_high = lanes16(nibbles.high);
    __m512i weight[4] = {lanes16(weights.byte[0]), lanes16(weights.byte[1]), lanes16(weights.byte[2]),
                         lanes16(weights.byte[3])};

    constants() {
      block::opaque(zero, low_nibble, digit_bit, minus_bit, sign_bits, separator_bits, comma_bit, one, two,
                    four, eight, fifteen, ones16, to_end, class_low, class_high);
    }
  };

  struct accumulators {
    // Sums of digit times weight byte, one per byte of the weight. Bytes 2
    // and 3 are needed only mod 2^16 and 2^8, so they stay in 16-bit lanes.
    __m512i byte[4] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                       _mm512_setzero_si512()};
  };

  static block::classes classify(const unsigned char* p, const constants& k) {
    const __m512i v = _mm512_loadu_si512(p);
    const __m512i low = _mm512_shuffle_epi8(k.class_low, _mm512_and_si512(v, k.low_nibble));
    const __m512i high =
        _mm512_shuffle_epi8(k.class_high, _mm512_and_si512(_mm512_srli_epi16(v, 4), k.low_nibble));
    const __m512i c = _mm512_and_si512(low, high);
    return {_mm512_test_epi8_mask(c, k.digit_bit), _mm512_test_epi8_mask(c, k.minus_bit),
            _mm512_test_epi8_mask(c, k.sign_bits), _mm512_test_epi8_mask(c, k.separator_bits),
            _mm512_test_epi8_mask(c, k.comma_bit), _mm512_testn_epi8_mask(c, c)};
  }

  // Weights for runs of 16 and more: runs by doubling up to the block's
  // end, plus the run at the start of the next block where they reach it;
  // the weight byte from one of two 16-entry tables, by the place's bit 4.
  [[gnu::noinline]] static void long_runs(__m512i runs, std::uint64_t next_digit, __m512i to_end,
                                          __m512i (&w)[4]) {
    auto extend = [&runs](int s, __m512i shifted) {
      runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, splat(s)), runs, shifted);
    };
    extend(16, shift_down<16>(runs));
    extend(32, shift_down<32>(runs));
    runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, to_end), runs,
                                splat(std::countr_one(next_digit)));
    // Place = run - 1; places from 32 on (and no digit) weigh 0.
    const __mmask64 weighed = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(runs, splat(1)), splat(32));
    const __m512i place = _mm512_sub_epi8(runs, splat(1));
    const __mmask64 upper = _mm512_test_epi8_mask(place, splat(16));
    for (int b = 0; b < 4; ++b) {
      const __m512i low = _mm512_shuffle_epi8(lanes16(weights.byte[b] + 1), place);
      const __m512i high = _mm512_shuffle_epi8(lanes16(weights.byte[b] + 17), place);
      w[b] = _mm512_maskz_mov_epi8(weighed, _mm512_mask_blend_epi8(upper, low, high));
    }
  }

  static void weigh(const unsigned char* p, const block::group_masks& m, unsigned j, accumulators& acc,
                    const constants& k) {
    const __mmask64 live = m.live[j], negative = m.negative[j];
    const __m512i digit = _mm512_maskz_sub_epi8(live, _mm512_loadu_si512(p), k.zero);
    const __m512i signed_digit = _mm512_mask_sub_epi8(digit, negative, _mm512_setzero_si512(), digit);

    // Run lengths by doubling: where the run from a byte is known to be at
    // least S long, add the run from S bytes further on; then the run at
    // the start of the next block where a run reaches the end of this one.
    const std::uint64_t* pair = m.pair(j);
    __m512i runs = _mm512_maskz_mov_epi8(pair[0], k.one);
    auto extend = [&runs](__m512i s_bytes, __m512i shifted) {
      runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, s_bytes), runs, shifted);
    };
    extend(k.one, shift_down<1>(runs));
    extend(k.two, shift_down<2>(runs));
    extend(k.four, shift_down<4>(runs));
    extend(k.eight, shift_down<8>(runs));

    // A run that reaches the end of the block goes on into the next one.
    const __m512i in_block = runs;
    runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, k.to_end), runs,
                                _mm512_set1_epi8(static_cast<char>(std::countr_one(pair[1]))));

    __m512i w[4];
    if (_mm512_mask_cmpgt_epu8_mask(live, runs, k.fifteen) != 0) [[unlikely]] {
      long_runs(in_block, pair[1], k.to_end, w);
    } else {
      // Runs under 16, the common case: 16-entry tables.
      for (int b = 0; b < 4; ++b) w[b] = _mm512_shuffle_epi8(k.weight[b], runs);
    }
    __m512i product[4];
    for (int b = 0; b < 4; ++b) product[b] = _mm512_maddubs_epi16(w[b], signed_digit);
    acc.byte[0] = _mm512_add_epi32(acc.byte[0], _mm512_madd_epi16(product[0], k.ones16));
    acc.byte[1] = _mm512_add_epi32(acc.byte[1], _mm512_madd_epi16(product[1], k.ones16));
    acc.byte[2] = _mm512_add_epi16(acc.byte[2], product[2]);
    acc.byte[3] = _mm512_add_epi16(acc.byte[3], product[3]);
  }

  static std::uint32_t total(const accumulators& acc) {
    const __m512i ones16 = _mm512_set1_epi16(1);
    return static_cast<std::uint32_t>(_mm512_reduce_add_epi32(acc.byte[0])) +
           (static_cast<std::uint32_t>(_mm512_reduce_add_epi32(acc.byte[1])) << 8) +
           (static_cast<std::uint32_t>(_mm512_reduce_add_epi32(_mm512_madd_epi16(acc.byte[2], ones16)))
            << 16) +
           (static_cast<std::uint32_t>(_mm512_reduce_add_epi32(_mm512_madd_epi16(acc.byte[3], ones16)))
            << 24);
  }
};

}  // namespace

chunk_result sum_avx512bw(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk_grouped<avx512bw_blocks>(c, p, n, eof);
}

}  // namespace intsum
