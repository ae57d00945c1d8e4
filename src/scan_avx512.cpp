// The summing kernel for AVX-512 (BW, VBMI, VBMI2, VNNI, BITALG and GFNI), 64 bytes
// at a time, eight blocks to a group (block_plan_avx512.h).
//
// Instead of converting integers one by one, every digit adds its value
// times its weight, 10^k mod 2^32 for a digit k places from the end of its
// integer, with the sign of its integer. The place k comes from the length
// of the digit run from each byte to the end of its integer, read from the
// digit masks of the block and the next. Short integers take their weights
// byte by byte from 16-entry byte shuffles; long ones go in pairs of digits
// with 16-bit weights, half as many lanes to weigh; integers of 16 digits and
// more, rare, take a slower path.
//
// For other combiners than add, the same masks give each integer's start
// and end, and each integer up to 16 digits long in the block is converted
// in a vector lane of its own, eight or four of them at a time; integers
// of one or two digits, from every byte at once.
#include <array>

#include "avx512.h"
#include "block_plan_avx512.h"

namespace intsum {
namespace {

constexpr block::weight_planes weights = block::make_weight_planes();

__m512i splat(int c) { return _mm512_set1_epi8(static_cast<char>(c)); }

// Bytes moved S places toward byte 0, zeros coming in at the top.
template <int S>
__m512i shift_down(__m512i x) {
  static_assert(S % 4 == 0, "whole 32-bit lanes");
  return _mm512_alignr_epi32(_mm512_setzero_si512(), x, S / 4);
}

// Four class bits for the bytes below 0x40, looked up by one byte permute;
// every byte from 0x40 on is other, in none of the classes. Minus, comma
// and other white space share one bit, "tail", which with the others tells all
// apart (block::classes::of_tail): four bits let two blocks share one class
// byte, the second block's bits four places up.
enum : unsigned char { is_digit = 1, is_separator = 2, is_sign = 4, is_tail = 8 };

constexpr unsigned char class_bits(block::byte_class c) {
  using block::byte_class;
  switch (c) {
    case byte_class::digit:
      return is_digit;
    case byte_class::minus:
      return is_sign | is_tail;
    case byte_class::plus:
      return is_sign;
    case byte_class::space:
      return is_separator;
    case byte_class::comma:
      return is_separator | is_tail;
    case byte_class::other_white:
      return is_tail;
    case byte_class::other:
      break;
  }
  return 0;
}

constexpr std::array<unsigned char, 64> make_class_table(unsigned shift) {
  std::array<unsigned char, 64> t{};
  for (unsigned c = 0; c < t.size(); ++c)
    t[c] = static_cast<unsigned char>(class_bits(block::class_of(static_cast<unsigned char>(c))) << shift);
  return t;
}

struct class_tables {
  alignas(64) std::array<unsigned char, 64> low = make_class_table(0), high = make_class_table(4);
};

constexpr class_tables class_table{};
static_assert(class_table.low[0] == 0, "bytes from 0x40 on are looked up as NUL, which is other");

// For the transpose of a group's class bytes into masks.
struct transpose_table {
  alignas(64) unsigned char reverse[64];   // the bytes of each 64-bit lane in reverse order
  alignas(64) unsigned char one_hot[64];   // byte i of each lane: bit i
  alignas(64) unsigned char by_class[64];  // lane b: byte b of each lane
  // Class lanes b and b + 4 of two vectors, then b + 1 and b + 5: b = 0, 2.
  alignas(64) std::uint64_t gather[2][8];
};

constexpr transpose_table make_transpose_table() {
  transpose_table t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.reverse[i] = static_cast<unsigned char>((i & ~7u) + 7 - (i & 7) - (i & ~15u));
    t.one_hot[i] = static_cast<unsigned char>(1u << (i & 7));
    t.by_class[i] = static_cast<unsigned char>(8 * (i & 7) + i / 8);
  }
  for (unsigned b = 0; b < 2; ++b)
    for (unsigned i = 0; i < 8; ++i) t.gather[b][i] = 2 * b + i / 4 + 4 * (i % 2) + 8 * (i / 2 % 2);
  return t;
}

constexpr transpose_table transposes = make_transpose_table();

// _mm512_shuffle_i64x2 controls: the lower or upper 256 bits of each source.
constexpr int lower_halves = 0x44, upper_halves = 0xee;
// The byte that the GF(2) affine map adds: none.
constexpr int no_constant = 0;
// _mm_shuffle_epi32 controls: the two 64-bit halves swapped; each pair of 32-bit lanes swapped.
constexpr int swap_halves = 0x4e, swap_pairs = 0xb1;

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

// Byte permute indexes and multishift controls for the windows below, and
// the vectors of the rare path.
struct window_table {
  alignas(64) unsigned char qword_from[64];  // lane j: bytes j to j + 7 of the digit masks (in its 128 bits)
  alignas(64) unsigned char bits_from[64];   // byte b of a lane: bits b to b + 7 of it
  alignas(64) unsigned char byte_index[64];
  alignas(64) unsigned char window_in_block[64];  // byte i keeps the bits of its window in the block
  alignas(64) unsigned char to_end[64];           // byte i holds 64 - i
  // 16-bit lane w: bits 2w + 1 to 2w + 16 of the digit masks, from the
  // lanes of weigh().
  alignas(64) unsigned char odd_window[64];
};

constexpr window_table make_window_table() {
  window_table t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.qword_from[i] = static_cast<unsigned char>(i / 8 + i % 8);
    t.bits_from[i] = static_cast<unsigned char>(i % 8);
    t.byte_index[i] = static_cast<unsigned char>(i);
    t.window_in_block[i] = static_cast<unsigned char>(i <= 56 ? 0xff : 0xff >> (i - 56));
    t.to_end[i] = static_cast<unsigned char>(64 - i);
    t.odd_window[i] = static_cast<unsigned char>((i % 8 & ~1u) + 1 + 8 * (i & 1));
  }
  return t;
}

constexpr window_table windows = make_window_table();

// The weight of a pair of digits by the run r of its second byte, split in
// two signed 16-bit halves, low + 2^16 high = 10^(r-1) mod 2^32. With r = 0
// the second byte is no digit and the first, if a digit, ends its integer.
// Runs from 16 on, not exact, weigh 0.
struct pair_weight_table {
  alignas(64) std::int16_t low[32], high[32];
};

constexpr pair_weight_table make_pair_weights() {
  pair_weight_table t{};
  std::uint32_t power = 1;
  for (unsigned r = 0; r < 16; ++r) {
    const auto low = static_cast<std::int16_t>(power & 0xffff);
    t.low[r] = low;
    t.high[r] = static_cast<std::int16_t>((power - static_cast<std::uint32_t>(low)) >> 16);
    if (r != 0) power *= 10;
  }
  return t;
}

constexpr pair_weight_table pair_weights = make_pair_weights();

__m512i load(const unsigned char* p) { return _mm512_load_si512(p); }

__m512i lanes16(const unsigned char* p) {
  return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}

// For the values of a block's integers, each converted in a lane of its
// own from the bytes that end it: 8 bytes to a 64-bit lane for integers of up
// to 8 digits in the block, 16 to a 128-bit lane for up to 16.
struct value_lane_table {
  alignas(64) unsigned char of_qword[64];  // byte i: i / 8, the lane's integer
  alignas(64) unsigned char back8[64];     // byte i: its place before the last, i % 8 - 7 (mod 256)
  alignas(64) unsigned char of_xmm[64];    // byte i: i / 16
  alignas(64) unsigned char back16[64];    // i % 16 - 15
  alignas(64) unsigned char tens[64];      // 10, 1, 10, 1, ...: pairs of digits
  alignas(64) std::int16_t hundreds[32];   // 100, 1, ...: pairs of pairs
  alignas(64) std::int16_t ten_thousands[32];
  alignas(64) std::uint32_t first_of_xmm[16];  // dword 4i: the value of lane i
};

constexpr value_lane_table make_value_lanes() {
  value_lane_table t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.of_qword[i] = static_cast<unsigned char>(i / 8);
    t.back8[i] = static_cast<unsigned char>(i % 8 - 7);
    t.of_xmm[i] = static_cast<unsigned char>(i / 16);
    t.back16[i] = static_cast<unsigned char>(i % 16 - 15);
    t.tens[i] = i % 2 == 0 ? 10 : 1;
  }
  for (unsigned i = 0; i < 32; ++i) {
    t.hundreds[i] = i % 2 == 0 ? 100 : 1;
    t.ten_thousands[i] = i % 2 == 0 ? 10000 : 1;
  }
  for (unsigned i = 0; i < 16; ++i) t.first_of_xmm[i] = 4 * (i % 4);
  return t;
}

constexpr value_lane_table value_lanes = make_value_lanes();

struct avx512_blocks {
  struct constants {
    __m512i zero = splat('0'), below_class = splat(0x40);
    __m512i class_low = load(class_table.low.data()), class_high = load(class_table.high.data());
    __m512i reverse = load(transposes.reverse), one_hot = load(transposes.one_hot),
            by_class = load(transposes.by_class);
    __m512i gather01 = _mm512_load_si512(transposes.gather[0]),
            gather23 = _mm512_load_si512(transposes.gather[1]);
    __m512i ones_lo = load(trailing_ones.lo), ones_hi = load(trailing_ones.hi);
    __m512i qword_from = load(windows.qword_from), bits_from = load(windows.bits_from);
    // Weight bytes 0 and 1 for runs up to 15, in each 128-bit lane for byte shuffles.
    __m512i weight[2] = {lanes16(weights.byte[0]), lanes16(weights.byte[1])};
    __m512i one = splat(1), ten = splat(10), odd_window = load(windows.odd_window);
    __m512i one_word = _mm512_set1_epi16(1), sixteen = _mm512_set1_epi16(16);
    __m512i pair_low = _mm512_load_si512(pair_weights.low), pair_high = _mm512_load_si512(pair_weights.high);

    constants() {
      block::opaque(zero, below_class, class_low, class_high, reverse, one_hot, by_class, gather01, gather23,
                    ones_lo, ones_hi, qword_from, bits_from, one, ten, odd_window, one_word, sixteen,
                    pair_low, pair_high);
    }
  };

  struct accumulators {
    // Sums of digit times weight byte, one per byte of the weight; they
    // wrap harmlessly, as only the sum mod 2^32 is wanted.
    __m512i byte[4] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                       _mm512_setzero_si512()};
    // Sums of digit pairs times the low and high halves of their weight.
    __m512i pair_low = _mm512_setzero_si512(), pair_high = _mm512_setzero_si512();
    // The longest pair run weighed since the last check, up to 16.
    __m512i longest = _mm512_setzero_si512();
  };

  // Bytes from 0x40 on become 0x40, which the permute reads as entry 0,
  // NUL's: other, as they are. An unsigned min costs less than a compare
  // into a mask register.
  static __m512i class_bytes(__m512i v, __m512i table, const constants& k) {
    return _mm512_permutexvar_epi8(_mm512_min_epu8(v, k.below_class), table);
  }

  static block::classes classify(const unsigned char* p, const constants& k) {
    const __m512i c = class_bytes(_mm512_loadu_si512(p), k.class_low, k);
    auto has = [&c](int bits) { return _mm512_test_epi8_mask(c, splat(bits)); };
    return block::classes::of_tail(has(is_digit), has(is_separator), has(is_sign), has(is_tail));
  }

  // The classes of eight blocks, lane j for block j, with no mask register
  // in between. Two blocks share each class byte. The bit matrix of each
  // 64-bit lane (its bytes in reverse order) is transposed by a GF(2)
  // affine map with the lane as the matrix, so that byte b of lane q holds
  // class bit b of bytes 8q to 8q + 7; those bytes gathered by class bit
  // make lane b the mask of class b of the first block and lane b + 4 that
  // of the second. Then the lanes of the eight blocks are gathered by class.
  static block::group_classes classify_group(const unsigned char* p, const constants& k) {
    __m512i u[4];
    for (int h = 0; h < 4; ++h) {
      const __m512i c = _mm512_or_si512(class_bytes(_mm512_loadu_si512(p + 128 * h), k.class_low, k),
                                        class_bytes(_mm512_loadu_si512(p + 128 * h + 64), k.class_high, k));
      u[h] = _mm512_permutexvar_epi8(
          k.by_class,
          _mm512_gf2p8affine_epi64_epi8(k.one_hot, _mm512_shuffle_epi8(c, k.reverse), no_constant));
    }
    // Classes b and b + 1 of blocks 0 to 3, then of blocks 4 to 7.
    const __m512i first01 = _mm512_permutex2var_epi64(u[0], k.gather01, u[1]),
                  last01 = _mm512_permutex2var_epi64(u[2], k.gather01, u[3]),
                  first23 = _mm512_permutex2var_epi64(u[0], k.gather23, u[1]),
                  last23 = _mm512_permutex2var_epi64(u[2], k.gather23, u[3]);
    const __m512i digit = _mm512_shuffle_i64x2(first01, last01, lower_halves),
                  separator = _mm512_shuffle_i64x2(first01, last01, upper_halves),
                  sign = _mm512_shuffle_i64x2(first23, last23, lower_halves),
                  tail = _mm512_shuffle_i64x2(first23, last23, upper_halves);
    return block::group_classes::of_tail(digit, separator, sign, tail);
  }

  // Every byte's run, exactly, up to 33: runs within the block by doubling,
  // then the run at the start of the next block added to those that reach
  // its end. Only blocks with integers of 16 digits and more come here.
  [[gnu::noinline]] static __m512i long_runs(std::uint64_t digit, std::uint64_t next_digit) {
    const __m512i window =
        _mm512_and_si512(_mm512_multishift_epi64_epi8(load(windows.byte_index),
                                                      _mm512_set1_epi64(static_cast<long long>(digit))),
                         load(windows.window_in_block));
    __m512i runs = _mm512_popcnt_epi8(_mm512_andnot_si512(_mm512_add_epi8(window, splat(1)), window));
    auto extend = [&runs](int s, __m512i shifted) {
      runs = _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, splat(s)), runs, shifted);
    };
    extend(8, shift_down<8>(runs));
    extend(16, shift_down<16>(runs));
    extend(32, shift_down<32>(runs));
    const int next_run = std::countr_one(next_digit);
    runs =
        _mm512_mask_add_epi8(runs, _mm512_cmpeq_epi8_mask(runs, load(windows.to_end)), runs, splat(next_run));
    return _mm512_min_epu8(runs, splat(block::weighted_places + 1));
  }

  // The block's live digits, signed when the group has negative integers.
  template <unsigned Needs>
  static __m512i signed_digits(const unsigned char* p, const block::group_masks& m, unsigned j,
                               const constants& k) {
    const __m512i digit = _mm512_maskz_sub_epi8(m.live[j], _mm512_loadu_si512(p), k.zero);
    if constexpr ((Needs & block::has_negative) == 0) return digit;
    return _mm512_mask_sub_epi8(digit, m.negative[j], _mm512_setzero_si512(), digit);
  }

  // Lane j holds bits 8j to 8j + 63 of the block's digit mask and the
  // next's, so a window read from byte i of a lane sees the digits from byte
  // 8j + i on, and no run stops at the block's end.
  static __m512i digit_lanes(const block::group_masks& m, unsigned j, const constants& k) {
    return _mm512_shuffle_epi8(
        _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.pair(j)))), k.qword_from);
  }

  // The run from the second byte of each pair of bytes, in its 16-bit lane:
  // the trailing ones of a 16-bit window, so 16 stands for 16 or more.
  static __m512i pair_runs(__m512i lanes, const constants& k) {
    const __m512i window = _mm512_multishift_epi64_epi8(k.odd_window, lanes);
    return _mm512_popcnt_epi16(_mm512_andnot_si512(_mm512_add_epi16(window, k.one_word), window));
  }

  template <unsigned Needs>
  static void weigh(const unsigned char* p, const block::group_masks& m, unsigned j, accumulators& acc,
                    const constants& k) {
    const __m512i digit = signed_digits<Needs>(p, m, j, k);
    const __m512i lanes = digit_lanes(m, j, k);
    if constexpr ((Needs & block::has_long) != 0) {
      // Long integers go in pairs of digits, each weighed by the run from
      // its second byte. The first byte counts ten times when the second is
      // a digit too, and so of the same integer. Pairs with runs of 16 and
      // more weigh 0 here, and are left to weigh_long_runs.
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
      const __m512i index =
          _mm512_permutex2var_epi8(k.ones_lo, _mm512_multishift_epi64_epi8(k.bits_from, lanes), k.ones_hi);
      constexpr int planes = (Needs & block::has_medium) != 0 ? 2 : 1;
      for (int b = 0; b < planes; ++b)
        acc.byte[b] = _mm512_dpbusd_epi32(acc.byte[b], _mm512_shuffle_epi8(k.weight[b], index), digit);
    }
  }

  // After a group weighed in pairs: weighs exactly the pairs left out for
  // runs of 16 and more, in the rare group that has them. One check a group
  // costs less than one a block.
  static void weigh_long_runs(const unsigned char* p, const block::group_masks& m, unsigned count,
                              accumulators& acc, const constants& k) {
    if (_mm512_cmpeq_epi16_mask(acc.longest, k.sixteen) == 0) [[likely]]
      return;
    acc.longest = _mm512_setzero_si512();
    for (unsigned j = 0; j < count; ++j, p += 64) {
      const __mmask32 left_out = _mm512_cmpeq_epi16_mask(pair_runs(digit_lanes(m, j, k), k), k.sixteen);
      if (left_out == 0) continue;
      const __m512i digit =
          _mm512_and_si512(signed_digits<block::has_negative>(p, m, j, k), _mm512_movm_epi16(left_out));
      const __m512i index = long_runs(m.pair(j)[0], m.pair(j)[1]);
      for (int b = 0; b < 4; ++b)
        acc.byte[b] =
            _mm512_dpbusd_epi32(acc.byte[b], _mm512_permutexvar_epi8(index, load(weights.byte[b])), digit);
    }
  }

  // For the fold with other combiners (block::values_of): takes the values
  // of the integers that end in the block at p into the batch, as
  // block::take_values does, but each integer converted in a lane of its
  // own from its signed digits. The integer that goes on into the next block
  // is converted as though it ended here, and waits.
  static constexpr unsigned converted_digits = 16;
  [[gnu::always_inline]] static void take_values(const unsigned char* p, std::uint64_t, std::uint64_t live,
                                                 std::uint64_t negative, const block::integer_ends& at,
                                                 block::value_batch& batch, const constants& k) {
    const std::uint64_t pairs = live & (live >> 1);
    const __m512i index = load(windows.byte_index);
    const __m512i end_at = _mm512_maskz_compress_epi8(at.ends, index),
                  start_at = _mm512_maskz_compress_epi8(at.first, index);
    __m512i digits = _mm512_maskz_sub_epi8(live, _mm512_loadu_si512(p), k.zero);
    digits = _mm512_mask_sub_epi8(digits, negative, _mm512_setzero_si512(), digits);
    std::uint32_t* out = batch.value + batch.count;
    if ((pairs & (pairs >> 1)) == 0) {
      // No integer of more than two digits in the block, as in many files of
      // counts: each byte's digit plus ten times the one before it, all at
      // once, then those at the integers' ends.
      const __m512i before =
          _mm512_maskz_permutexvar_epi8(~std::uint64_t{1}, _mm512_sub_epi8(index, k.one), digits);
      const __m512i twice = _mm512_add_epi8(before, before), four = _mm512_add_epi8(twice, twice);
      const __m512i value = _mm512_maskz_compress_epi8(
          at.ends, _mm512_add_epi8(digits, _mm512_add_epi8(_mm512_add_epi8(four, four), twice)));
      _mm512_storeu_si512(out, _mm512_cvtepi8_epi32(_mm512_castsi512_si128(value)));
      _mm512_storeu_si512(out + 16, _mm512_cvtepi8_epi32(_mm512_extracti32x4_epi32(value, 1)));
      return block::take_converted(batch, at, negative);
    }
    const auto count = static_cast<unsigned>(std::popcount(at.ends));
    // The digits of lane integer i, from its start to its end, as the last
    // bytes of the lane; those before its start, zeros.
    auto lane_digits = [&](__m512i of_lane, __m512i back, int i) {
      const __m512i select = _mm512_add_epi8(of_lane, splat(i));
      const __m512i from = _mm512_add_epi8(_mm512_permutexvar_epi8(select, end_at), back);
      const __mmask64 in = _mm512_cmpge_epi8_mask(from, _mm512_permutexvar_epi8(select, start_at));
      return _mm512_maddubs_epi16(load(value_lanes.tens), _mm512_maskz_permutexvar_epi8(in, from, digits));
    };
    const __m512i hundreds = _mm512_load_si512(value_lanes.hundreds);
    if (!block::has_run<8>(pairs)) [[likely]] {
      // Eight integers to a vector, the value of four digits in each half
      // of a 64-bit lane.
      for (unsigned i = 0; i < count; i += 8) {
        const __m512i four = _mm512_madd_epi16(
            lane_digits(load(value_lanes.of_qword), load(value_lanes.back8), static_cast<int>(i)), hundreds);
        const __m512i eight =
            _mm512_add_epi32(_mm512_mul_epu32(four, _mm512_set1_epi64(10000)), _mm512_srli_epi64(four, 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi64_epi32(eight));
      }
    } else {
      // Four to a vector: in each 128-bit lane, four values of four digits,
      // then two of eight, then one.
      for (unsigned i = 0; i < count; i += 4) {
        const __m512i four = _mm512_madd_epi16(
            lane_digits(load(value_lanes.of_xmm), load(value_lanes.back16), static_cast<int>(i)), hundreds);
        const __m512i eight =
            _mm512_madd_epi16(_mm512_packs_epi32(four, four), _mm512_load_si512(value_lanes.ten_thousands));
        const __m512i sixteen = _mm512_add_epi32(_mm512_mul_epu32(eight, _mm512_set1_epi64(100000000)),
                                                 _mm512_srli_epi64(eight, 32));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm512_castsi512_si128(
                             _mm512_permutexvar_epi32(_mm512_load_si512(value_lanes.first_of_xmm), sixteen)));
      }
    }
    block::take_converted(batch, at, negative);
  }

  // All in vector lanes, which wrap: _mm512_reduce_add_epi32 adds as int,
  // whose overflow is undefined.
  static std::uint32_t total(const accumulators& acc) {
    __m512i sum = _mm512_add_epi32(acc.pair_low, _mm512_slli_epi32(acc.pair_high, 16));
    sum = _mm512_add_epi32(sum, acc.byte[0]);
    sum = _mm512_add_epi32(sum, _mm512_slli_epi32(acc.byte[1], 8));
    sum = _mm512_add_epi32(sum, _mm512_slli_epi32(acc.byte[2], 16));
    sum = _mm512_add_epi32(sum, _mm512_slli_epi32(acc.byte[3], 24));
    const __m256i half = _mm256_add_epi32(_mm512_castsi512_si256(sum), _mm512_extracti64x4_epi64(sum, 1));
    __m128i quarter = _mm_add_epi32(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
    quarter = _mm_add_epi32(quarter, _mm_shuffle_epi32(quarter, swap_halves));
    quarter = _mm_add_epi32(quarter, _mm_shuffle_epi32(quarter, swap_pairs));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(quarter));
  }
};

}  // namespace

chunk_result sum_avx512(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk_grouped<avx512_blocks>(c, p, n, eof);
}

chunk_result fold_avx512(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk_grouped<block::values_of<avx512_blocks>>(c, p, n, eof);
}

}  // namespace intsum
