// The kernel for AVX-512 (BW, VBMI, VBMI2, VNNI, BITALG and GFNI), eight
// blocks to a group (groups.h), classified by a transpose (classify.h).
//
// The sum weighs every digit by its place (weights.h). The place comes from
// the length of the digit run from each byte to the end of its integer, read
// from windows of the digit masks of the block and the next. Short integers
// take their weights byte by byte from 16-entry byte shuffles; longer ones go
// in pairs of digits with 16-bit weights, half as many lanes to weigh.
//
// The fold converts the integers in vector lanes (convert.h).
// docs/design.md, "AVX-512", draws the masks.
#include <cstdint>

#include "x86/avx512/classify.h"
#include "x86/avx512/convert.h"
#include "x86/avx512/groups.h"
#include "x86/avx512/intrinsics.h"

namespace intsum {
namespace {

using namespace block;

constexpr weight_planes weights = make_weight_planes();

// Entry x: the trailing ones of x, 0 to 7, for the 7 bits that a
// two-table byte permute reads of each index.
struct trailing_ones_table {
  alignas(64) unsigned char lo[64], hi[64];
};

constexpr trailing_ones_table make_trailing_ones() {
  trailing_ones_table t{};
  for (unsigned x = 0; x < 128; ++x) {
    unsigned char n = 0;
    while (n < 7 && (x >> n & 1) != 0) ++n;
    (x < 64 ? t.lo[x] : t.hi[x - 64]) = n;
  }
  return t;
}

constexpr trailing_ones_table trailing_ones = make_trailing_ones();

// Byte permute indexes and multishift controls for the windows of digit masks.
struct window_table {
  alignas(64) unsigned char qword_from[64];  // lane j: bytes j to j + 7 of the digit masks (in its 128 bits)
  alignas(64) unsigned char bits_from[64];   // byte b of a lane: bits b to b + 7 of it
  // 16-bit lane w: bits 2w + 1 to 2w + 16 of the digit masks, from the
  // lanes of weigh().
  alignas(64) unsigned char odd_window[64];
};

constexpr window_table make_window_table() {
  window_table t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.qword_from[i] = static_cast<unsigned char>(i / 8 + i % 8);
    t.bits_from[i] = static_cast<unsigned char>(i % 8);
    t.odd_window[i] = static_cast<unsigned char>((i % 8 & ~1u) + 1 + 8 * (i & 1));
  }
  return t;
}

constexpr window_table windows = make_window_table();

// The weight of a pair of digits by the run r of its second byte, split in
// two signed 16-bit halves, low + 2^16 high = 10^(r-1) mod 2^32. With r = 0
// the second byte is no digit and the first, if a digit, ends its integer.
struct pair_weight_table {
  alignas(64) std::int16_t low[32], high[32];
};

constexpr pair_weight_table make_pair_weights() {
  pair_weight_table t{};
  std::uint32_t power = 1;
  for (unsigned r = 0; r <= looked_up_runs; ++r) {
    const auto low = static_cast<std::int16_t>(power & 0xffff);
    t.low[r] = low;
    t.high[r] = static_cast<std::int16_t>((power - static_cast<std::uint32_t>(low)) >> 16);
    if (r != 0) power *= 10;
  }
  return t;
}

constexpr pair_weight_table pair_weights = make_pair_weights();
// A pair's run is the trailing ones of a 16-bit window: 16 stands for 16 or
// more, past the weights, and reads 0 from the table.
static_assert(looked_up_runs + 1 == 16 && sizeof pair_weights.low / sizeof pair_weights.low[0] > 16);

__m512i lanes16(const unsigned char* p) {
  return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}

struct avx512_blocks {
  struct constants {
    classifier512 classes;
    __m512i zero_char = splat8('0');
    __m512i ones_lo = load_table(trailing_ones.lo), ones_hi = load_table(trailing_ones.hi);
    __m512i qword_from = load_table(windows.qword_from), bits_from = load_table(windows.bits_from);
    // Weight bytes 0 and 1 for runs up to 15, in each 128-bit lane for byte shuffles.
    __m512i weight[2] = {lanes16(weights.byte[0]), lanes16(weights.byte[1])};
    __m512i one = splat8(1), ten = splat8(10), odd_window = load_table(windows.odd_window);
    __m512i one_word = _mm512_set1_epi16(1), sixteen = _mm512_set1_epi16(looked_up_runs + 1);
    __m512i pair_low = load_table(pair_weights.low), pair_high = load_table(pair_weights.high);

    constants() {
      opaque(zero_char, ones_lo, ones_hi, qword_from, bits_from, one, ten, odd_window, one_word, sixteen,
             pair_low, pair_high);
    }
  };

  struct accumulators {
    // Sums of digit times weight byte, one per byte of the weight below
    // 2^16; they wrap harmlessly, as only the sum mod 2^32 is wanted.
    __m512i byte[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    // Sums of digit pairs times the low and high halves of their weight.
    __m512i pair_low = _mm512_setzero_si512(), pair_high = _mm512_setzero_si512();
    // The longest pair run weighed since the last check, up to 16.
    __m512i longest = _mm512_setzero_si512();
  };

  // Adds the sum of a block weighed in words (weights.h), in one lane of a
  // sum that counts once: the accumulators stay all vectors, in registers.
  INTSUM_ALWAYS_INLINE static void add_weighed_in_words(accumulators& acc, std::uint32_t sum) {
    acc.byte[0] =
        _mm512_mask_add_epi32(acc.byte[0], 1, acc.byte[0], _mm512_set1_epi32(static_cast<int>(sum)));
  }

  INTSUM_ALWAYS_INLINE static classes classify(const unsigned char* p, const constants& k) {
    return k.classes.classify(p);
  }
  INTSUM_ALWAYS_INLINE static group_classes classify_group(const unsigned char* p, const constants& k) {
    return k.classes.classify_group(p);
  }

  // The block's live digits, signed when the group has negative integers.
  template <unsigned Needs>
  INTSUM_ALWAYS_INLINE static __m512i signed_digits(const unsigned char* p, std::uint64_t live,
                                                    std::uint64_t negative, const constants& k) {
    const __m512i digit = _mm512_maskz_sub_epi8(live, _mm512_loadu_si512(p), k.zero_char);
    if constexpr ((Needs & has_negative) == 0) return digit;
    return _mm512_mask_sub_epi8(digit, negative, _mm512_setzero_si512(), digit);
  }

  // Lane j holds bits 8j to 8j + 63 of the block's digit mask and the
  // next's, so a window read from byte i of a lane sees the digits from byte
  // 8j + i on, and no run stops at the block's end.
  INTSUM_ALWAYS_INLINE static __m512i digit_lanes(const group_masks& m, unsigned j, const constants& k) {
    return _mm512_shuffle_epi8(
        _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.pair(j)))), k.qword_from);
  }

  // The run from the second byte of each pair of bytes, in its 16-bit lane:
  // the trailing ones of a 16-bit window.
  INTSUM_ALWAYS_INLINE static __m512i pair_runs(__m512i lanes, const constants& k) {
    const __m512i window = _mm512_multishift_epi64_epi8(k.odd_window, lanes);
    return _mm512_popcnt_epi16(_mm512_andnot_si512(_mm512_add_epi16(window, k.one_word), window));
  }

  template <unsigned Needs>
  INTSUM_ALWAYS_INLINE static void weigh(const unsigned char* p, const group_masks& m, unsigned j,
                                         accumulators& acc, const constants& k) {
    const __m512i digit = signed_digits<Needs>(p, m.live[j], m.negative[j], k);
    const __m512i lanes = digit_lanes(m, j, k);
    if constexpr ((Needs & has_long) != 0) {
      // Long integers go in pairs of digits, each weighed by the run from
      // its second byte. The first byte counts ten times when the second is
      // a digit too, and so of the same integer. A run of 16 stands for 16
      // or more, past the table, and weighs 0 (see redo_long_runs).
      const __mmask64 tens = (m.pair(j)[0] >> 1) & 0x5555555555555555u;
      const __m512i pair = _mm512_maddubs_epi16(_mm512_mask_blend_epi8(tens, k.one, k.ten), digit);
      const __m512i run = pair_runs(lanes, k);
      acc.longest = _mm512_max_epu16(acc.longest, run);
      acc.pair_low = _mm512_dpwssd_epi32(acc.pair_low, pair, _mm512_permutexvar_epi16(run, k.pair_low));
      acc.pair_high = _mm512_dpwssd_epi32(acc.pair_high, pair, _mm512_permutexvar_epi16(run, k.pair_high));
    } else {
      // Shorter integers digit by digit: the trailing ones of 7 bits are the
      // run where it is at most 6. In a group without runs over 5, weights
      // are below 2^16; with none over 3, below 2^8. Each weight byte times
      // the signed digits, four bytes to a 32-bit lane.
      static_assert(runs_weighed_in(2) <= 6, "the runs weighed here must be exact");
      const __m512i index =
          _mm512_permutex2var_epi8(k.ones_lo, _mm512_multishift_epi64_epi8(k.bits_from, lanes), k.ones_hi);
      constexpr int planes = (Needs & has_medium) != 0 ? 2 : 1;
      for (int b = 0; b < planes; ++b)
        acc.byte[b] = _mm512_dpbusd_epi32(acc.byte[b], _mm512_shuffle_epi8(k.weight[b], index), digit);
    }
  }

  // After a group weighed in pairs: the rare block with a pair run of 16 or
  // more is weighed again, in words, less what its pairs gave. One check a
  // group costs less than one a block.
  INTSUM_ALWAYS_INLINE static void redo_long_runs(const unsigned char* p, const group_masks& m,
                                                  unsigned count, accumulators& acc, const constants& k) {
    if (_mm512_cmpeq_epi16_mask(acc.longest, k.sixteen) != 0) [[unlikely]]
      redo_blocks_with_long_runs(p, m, count, acc, k);
  }

  INTSUM_ALWAYS_INLINE static void redo_blocks_with_long_runs(const unsigned char* p, const group_masks& m,
                                                              unsigned count, accumulators& acc,
                                                              const constants& k) {
    acc.longest = _mm512_setzero_si512();
    constexpr unsigned all = has_negative | has_medium | has_long;
    for (unsigned j = 0; j < count; ++j, p += block_bytes) {
      if (_mm512_cmpeq_epi16_mask(pair_runs(digit_lanes(m, j, k), k), k.sixteen) == 0) continue;
      accumulators pairs;
      weigh<all>(p, m, j, pairs, k);
      acc.pair_low = _mm512_sub_epi32(acc.pair_low, pairs.pair_low);
      acc.pair_high = _mm512_sub_epi32(acc.pair_high, pairs.pair_high);
      add_weighed_in_words(acc, weigh_in_words(p, m.plan_of(j)));
    }
  }

  static constexpr unsigned converted_digits = 16;
  INTSUM_ALWAYS_INLINE static void convert(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch, const constants& k) {
    // signed_digits, but with the block loaded masked: with a plain load GCC
    // kept the fold's copy of the block in memory, while for the sum the
    // masked load costs 3%.
    __m512i digits = _mm512_maskz_sub_epi8(plan.live, _mm512_maskz_loadu_epi8(plan.live, p), k.zero_char);
    digits = _mm512_mask_sub_epi8(digits, plan.negative, _mm512_setzero_si512(), digits);
    convert_in_lanes(digits, plan.live, plan.negative, at, batch, k.one);
  }

  static std::uint32_t total(const accumulators& acc) {
    return sum_of_lanes<std::uint32_t>(acc.byte[0]) + (sum_of_lanes<std::uint32_t>(acc.byte[1]) << 8) +
           sum_of_lanes<std::uint32_t>(acc.pair_low) + (sum_of_lanes<std::uint32_t>(acc.pair_high) << 16);
  }
};

}  // namespace

chunk_result sum_avx512(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk_in_groups<summing<avx512_blocks>>(c, p, n, eof);
}

chunk_result fold_avx512(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk_in_groups<folding<avx512_blocks>>(c, p, n, eof);
}

}  // namespace intsum
