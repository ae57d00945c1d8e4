// The summing kernel for AVX-512 (BW, VBMI, VNNI and BITALG), 64 bytes at a time.
//
// Instead of converting integers one by one, every digit adds its value
// times its weight, 10^k mod 2^32 for a digit k places from the end of its
// integer, with the sign of its integer. The place k comes from the length
// of the digit run from each byte to the end of its integer; the lookahead
// of one block tells how far an integer at the end of a block runs on.
#include <immintrin.h>

#include <array>

// GCC 12's AVX-512 headers start some results from an undefined vector and
// then warn about it (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "block_plan.h"

namespace intsum {
namespace {

constexpr block::weight_planes weights = block::make_weight_planes();

__m512i splat(int c) { return _mm512_set1_epi8(static_cast<char>(c)); }

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

// Class bits of the bytes below 0x40, looked up by one byte permute; every
// byte from 0x40 on is of no class, as is any byte whose entry is 0.
enum : unsigned char { is_digit = 1, is_minus = 2, is_plus = 4, is_space = 8, is_comma = 16, is_blank = 32 };

constexpr std::array<unsigned char, 64> make_class_table() {
  std::array<unsigned char, 64> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = is_digit;
  t['-'] = is_minus;
  t['+'] = is_plus;
  t[' '] = is_space;
  t[','] = is_comma;
  for (int c = '\t'; c <= '\r'; ++c) t[c] = is_blank;
  return t;
}

alignas(64) constexpr std::array<unsigned char, 64> class_table = make_class_table();

struct avx512_blocks {
  struct constants {
    __m512i zero = splat('0'), below_class = splat(0x40), digit_bit = splat(is_digit),
            minus_bit = splat(is_minus);
    __m512i sign_bits = splat(is_minus | is_plus), separator_bits = splat(is_space | is_comma);
    __m512i comma_bit = splat(is_comma), one = splat(1), eight = splat(8);
    __m512i sixteen = splat(16), thirty_two = splat(32), past_weights = splat(block::weighted_places + 1);
    __m512i class_of = _mm512_load_si512(class_table.data());
    // Byte i holds 64 - i: a run that long from byte i reaches the block's end.
    __m512i to_end =
        _mm512_set_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                        25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45,
                        46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64);
    __m512i byte_index =
        _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43,
                        42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22,
                        21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    // Byte i keeps the bits of its window that lie in the block.
    __m512i window_in_block =
        _mm512_set_epi8(1, 3, 7, 15, 31, 63, 127, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    __m512i weight[4] = {_mm512_load_si512(weights.byte[0]), _mm512_load_si512(weights.byte[1]),
                         _mm512_load_si512(weights.byte[2]), _mm512_load_si512(weights.byte[3])};

    constants() {
      block::opaque(zero, below_class, digit_bit, minus_bit, sign_bits, separator_bits, comma_bit, one, eight,
                    sixteen, thirty_two, past_weights, class_of, to_end, byte_index, window_in_block);
    }
  };

  struct accumulators {
    // Sums of digit times weight byte, one per byte of the weight; they
    // wrap harmlessly, as only the sum mod 2^32 is wanted.
    __m512i byte[4] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                       _mm512_setzero_si512()};
  };

  static block::classes classify(const unsigned char* p, const constants& k) {
    const __m512i v = _mm512_loadu_si512(p);
    const __m512i c = _mm512_maskz_permutexvar_epi8(_mm512_cmplt_epu8_mask(v, k.below_class), v, k.class_of);
    return {_mm512_test_epi8_mask(c, k.digit_bit), _mm512_test_epi8_mask(c, k.minus_bit),
            _mm512_test_epi8_mask(c, k.sign_bits), _mm512_test_epi8_mask(c, k.separator_bits),
            _mm512_test_epi8_mask(c, k.comma_bit), _mm512_testn_epi8_mask(c, c)};
  }

  static void weigh(const unsigned char* p, const block::plan& plan, accumulators& acc, const constants& k) {
    const __m512i digit = _mm512_sub_epi8(_mm512_loadu_si512(p), k.zero);

    // Run lengths, from each byte to the end of its run within the block.
    // Byte i first gets bits i to i + 7 of the digit mask (bits past 63 read
    // as 0), whose trailing ones count the run up to 8; then doubling: where
    // the run from a byte is known to be at least S long, add the run from S
    // bytes further on. Integers of 16 digits and more are rare enough for a
    // branch.
    const __m512i window = _mm512_and_si512(
        _mm512_multishift_epi64_epi8(k.byte_index, _mm512_set1_epi64(static_cast<long long>(plan.digit))),
        k.window_in_block);
    __m512i runs = _mm512_popcnt_epi8(_mm512_andnot_si512(_mm512_add_epi8(window, k.one), window));
    auto extend = [&runs](__m512i s_bytes, __m512i shifted) {
      runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, s_bytes), runs, shifted);
    };
    extend(k.eight, shift_down<8>(runs));
    if (_mm512_cmpeq_epi8_mask(runs, k.sixteen) != 0) [[unlikely]] {
      extend(k.sixteen, shift_down<16>(runs));
      extend(k.thirty_two, shift_down<32>(runs));
    }
    // A run that reaches the end of the block goes on into the next one.
    runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, k.to_end), runs,
                                _mm512_set1_epi8(static_cast<char>(plan.next_run)));

    const __m512i index = _mm512_min_epu8(_mm512_maskz_mov_epi8(plan.live, runs), k.past_weights);
    const __m512i signed_digit = _mm512_mask_sub_epi8(digit, plan.negative, _mm512_setzero_si512(), digit);
    // Each weight byte times the signed digits, four bytes to a 32-bit lane.
    for (int b = 0; b < 4; ++b)
      acc.byte[b] =
          _mm512_dpbusd_epi32(acc.byte[b], _mm512_permutexvar_epi8(index, k.weight[b]), signed_digit);
  }

  static std::uint32_t total(const accumulators& acc) {
    std::uint32_t sum = 0;
    for (int b = 0; b < 4; ++b)
      sum += static_cast<std::uint32_t>(_mm512_reduce_add_epi32(acc.byte[b])) << (8 * b);
    return sum;
  }
};

}  // namespace

chunk_result sum_avx512(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk<avx512_blocks>(c, p, n, eof);
}

}  // namespace intsum
