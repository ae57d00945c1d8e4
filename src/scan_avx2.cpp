// The summing kernel for AVX2, a 64-byte block at a time, held as two
// 32-byte halves: the classes and rules of block_plan.h, then every digit
// weighed by its place, as in the other vector kernels.
//
// The place of a digit comes from the position of the first byte after it
// that is no digit: a max-scan of 128 - position over the non-digit bytes,
// within each 8-byte lane by shifts (no shuffles), then across lanes. Byte
// shuffles look up 16 entries, so the common block, with integers of at most
// 15 digits, takes one lookup per weight byte, and none for the upper two
// when its integers have at most 5 digits; longer integers take a slower path.
//
// For other combiners than add, the integers are converted four at a time
// in vector lanes instead, from the bytes that end each one.
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

__m256i load(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

std::uint64_t to_mask(__m256i lo, __m256i hi) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
}

__m256i max8(__m256i a, __m256i b) { return _mm256_max_epu8(a, b); }

// _mm256_permute2x128_si256: the upper 128 bits of the first source, then the lower of the second.
constexpr int upper_then_lower = 0x21;
// The same: zeros, then the lower 128 bits of the first source.
constexpr int zero_then_lower = 0x08;
// _mm256_permute4x64_epi64: the 64-bit lanes named, from the lowest.
constexpr int lanes_1_2_3_3 = 0xf9, lanes_2_3_3_3 = 0xfe, lanes_0_0_0_0 = 0x00;
// _mm_shuffle_epi32: the two 64-bit halves swapped; each pair of 32-bit lanes swapped.
constexpr int swap_halves = 0x4e, swap_pairs = 0xb1;

struct avx2_blocks {
  struct constants {
    // Range checks by one signed compare: adding the bias moves the range to
    // the top of the signed bytes, just below 0x80.
    __m256i zero = splat('0'), digit_bias = splat(0x7f - '9'), digit_floor = splat(0x7f - 10);
    __m256i other_white_bias = splat(0x7f - '\r'), other_white_floor = splat(0x7f - 5);
    __m256i minus = splat('-'), plus = splat('+'), space = splat(' '), comma = splat(',');
    __m256i five = splat(5), fifteen = splat(15), thirty_one = splat(31), ones16 = _mm256_set1_epi16(1),
            shift8 = _mm256_set1_epi16(256);
    // Byte i holds 128 - i: a non-digit's mark. A digit's run, the count of
    // digits from it to the end of its integer, is its mark less that of the
    // first non-digit after it (0 at position 128).
    bytes64 mark = {
        _mm256_setr_epi8(-128, 127, 126, 125, 124, 123, 122, 121, 120, 119, 118, 117, 116, 115, 114, 113, 112,
                         111, 110, 109, 108, 107, 106, 105, 104, 103, 102, 101, 100, 99, 98, 97),
        _mm256_setr_epi8(96, 95, 94, 93, 92, 91, 90, 89, 88, 87, 86, 85, 84, 83, 82, 81, 80, 79, 78, 77, 76,
                         75, 74, 73, 72, 71, 70, 69, 68, 67, 66, 65)};
    // Byte 0 of each 8-byte lane, to all of the lane.
    __m256i lane_start = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0,
                                          0, 8, 8, 8, 8, 8, 8, 8, 8);
    // For turning bits into bytes: byte j of a half takes byte j / 8 of its
    // 32 bits of the mask, then its own bit.
    __m256i spread_lo = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2,
                                         2, 3, 3, 3, 3, 3, 3, 3, 3);
    __m256i spread_hi = _mm256_setr_epi8(4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6,
                                         6, 7, 7, 7, 7, 7, 7, 7, 7);
    __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
    // Weight byte b for runs 0 (no digit) to 15.
    __m256i low[4] = {table16(weights.byte[0]), table16(weights.byte[1]), table16(weights.byte[2]),
                      table16(weights.byte[3])};

    constants() {
      block::opaque(zero, digit_bias, digit_floor, other_white_bias, other_white_floor, minus, plus, space,
                    comma, five, fifteen, thirty_one, ones16, mark.lo, mark.hi, lane_start, spread_lo,
                    spread_hi, bit);
    }

    // 0xff in the bytes whose bit is set in m.
    bytes64 expand(std::uint64_t m) const {
      const __m256i x = _mm256_set1_epi64x(static_cast<long long>(m));
      auto half = [this, x](__m256i spread) {
        return _mm256_cmpeq_epi8(_mm256_and_si256(_mm256_shuffle_epi8(x, spread), bit), bit);
      };
      return {half(spread_lo), half(spread_hi)};
    }

    __m256i is_digit(__m256i v) const {
      return _mm256_cmpgt_epi8(_mm256_add_epi8(v, digit_bias), digit_floor);
    }
  };

  struct accumulators {
    // Sums of digit times weight, the low two bytes of the weight in 32-bit
    // lanes and the high two, needed only mod 2^16, in 16-bit lanes: two
    // sums leave the vector registers free for the rest.
    __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
  };

  // Folds the signed digits with their runs (0 for no digit) into the sums,
  // for runs up to `Most`: 5 (weights of 16 bits), 15 (one lookup per weight
  // byte) or any.
  template <int Most>
  [[gnu::always_inline]] static void add_weighted(const bytes64& run, const bytes64& digit, accumulators& acc,
                                                  const constants& k) {
    auto weight = [&k](int b, __m256i r) {
      if constexpr (Most > 15) {
        // Runs from 33 on weigh 0, as do the bytes that are no digit.
        const __m256i place = _mm256_add_epi8(r, _mm256_set1_epi8(-1));
        const __m256i index = _mm256_or_si256(place, _mm256_cmpgt_epi8(place, k.thirty_one));
        return _mm256_blendv_epi8(_mm256_shuffle_epi8(table16(weights.byte[b] + 1), index),
                                  _mm256_shuffle_epi8(table16(weights.byte[b] + 17), index),
                                  _mm256_slli_epi16(index, 3));
      } else {
        return _mm256_shuffle_epi8(k.low[b], r);
      }
    };
    // Each pair sum is at most 2 * 255 * 9, so two of them fit 16 bits.
    auto product = [&](int b) {
      return _mm256_add_epi16(_mm256_maddubs_epi16(weight(b, run.lo), digit.lo),
                              _mm256_maddubs_epi16(weight(b, run.hi), digit.hi));
    };
    acc.low = _mm256_add_epi32(acc.low, _mm256_add_epi32(_mm256_madd_epi16(product(0), k.ones16),
                                                         _mm256_madd_epi16(product(1), k.shift8)));
    if constexpr (Most > 5)
      acc.high = _mm256_add_epi16(acc.high, _mm256_add_epi16(product(2), _mm256_slli_epi16(product(3), 8)));
  }

  [[gnu::always_inline]] static block::classes classify(const unsigned char* p, const constants& k) {
    const bytes64 v = {load(p), load(p + 32)};
    const bytes64 is_digit = {k.is_digit(v.lo), k.is_digit(v.hi)};
    auto equal = [&v](__m256i c) { return bytes64{_mm256_cmpeq_epi8(v.lo, c), _mm256_cmpeq_epi8(v.hi, c)}; };
    auto either = [](const bytes64& a, const bytes64& b) {
      return bytes64{_mm256_or_si256(a.lo, b.lo), _mm256_or_si256(a.hi, b.hi)};
    };
    auto other_white = [&k](__m256i x) {
      return _mm256_cmpgt_epi8(_mm256_add_epi8(x, k.other_white_bias), k.other_white_floor);
    };
    // Three masks carry the five classes, as movemasks are what is scarce:
    // space or comma, sign, and minus or comma or other white space.
    const bytes64 minus = equal(k.minus), comma = equal(k.comma);
    const bytes64 sepchar = either(equal(k.space), comma), sign = either(equal(k.plus), minus);
    const bytes64 tail = either(either(minus, comma), bytes64{other_white(v.lo), other_white(v.hi)});
    const std::uint64_t separator = to_mask(sepchar.lo, sepchar.hi), signs = to_mask(sign.lo, sign.hi);
    const std::uint64_t t = to_mask(tail.lo, tail.hi);
    return block::classes::of_tail(to_mask(is_digit.lo, is_digit.hi), separator, signs, t);
  }

  // For each byte, the greatest mark from it to the end of its 8-byte lane:
  // for a digit, that of the first non-digit after it there, if any.
  [[gnu::always_inline]] static bytes64 lane_marks(const bytes64& is_digit, const constants& k) {
    bytes64 u = {_mm256_andnot_si256(is_digit.lo, k.mark.lo), _mm256_andnot_si256(is_digit.hi, k.mark.hi)};
    auto lane_scan = [&u](auto shift) { u = {max8(u.lo, shift(u.lo)), max8(u.hi, shift(u.hi))}; };
    lane_scan([](__m256i x) { return _mm256_srli_epi64(x, 8); });
    lane_scan([](__m256i x) { return _mm256_srli_epi64(x, 16); });
    lane_scan([](__m256i x) { return _mm256_srli_epi64(x, 32); });
    return u;
  }

  // The lane marks at the start of the next lane (`next`) and of the lane
  // after that (`second`), for every lane; past the block, the mark of the
  // first non-digit in the next block, 64 + next_run places on.
  struct lanes_ahead {
    bytes64 next, second;
  };

  [[gnu::always_inline]] static lanes_ahead marks_ahead(const bytes64& u, unsigned next_run,
                                                        const constants& k) {
    const __m256i after = splat(static_cast<int>(64 - next_run));
    const bytes64 start = {_mm256_shuffle_epi8(u.lo, k.lane_start), _mm256_shuffle_epi8(u.hi, k.lane_start)};
    const bytes64 second = {_mm256_permute2x128_si256(start.lo, start.hi, upper_then_lower),
                            _mm256_permute2x128_si256(start.hi, after, upper_then_lower)};
    return {{_mm256_alignr_epi8(second.lo, start.lo, 8), _mm256_alignr_epi8(second.hi, start.hi, 8)}, second};
  }

  // A digit's run is its mark less the greatest mark after it: that of the
  // first non-digit, from its own lane or `beyond` it.
  [[gnu::always_inline]] static bytes64 runs_to(const bytes64& u, const bytes64& beyond, const constants& k) {
    return {_mm256_sub_epi8(k.mark.lo, max8(u.lo, beyond.lo)),
            _mm256_sub_epi8(k.mark.hi, max8(u.hi, beyond.hi))};
  }

  // Runs past the next two lanes, for integers of 16 digits and more: every
  // lane takes the greatest of the starts of all lanes after it.
  [[gnu::always_inline]] static bytes64 long_runs(const bytes64& u, const lanes_ahead& ahead,
                                                  const constants& k) {
    auto suffix = [](__m256i x) {
      x = max8(x, _mm256_permute4x64_epi64(x, lanes_1_2_3_3));
      return max8(x, _mm256_permute4x64_epi64(x, lanes_2_3_3_3));
    };
    const __m256i hi = suffix(ahead.next.hi);
    return runs_to(u, {max8(suffix(ahead.next.lo), _mm256_permute4x64_epi64(hi, lanes_0_0_0_0)), hi}, k);
  }

  // The digits, signed; those past the end of the list count 0. Many files
  // have no negative integers at all.
  [[gnu::always_inline]] static bytes64 signed_live_digits(const bytes64& v, const block::plan& plan,
                                                           const constants& k) {
    bytes64 digit = {_mm256_sub_epi8(v.lo, k.zero), _mm256_sub_epi8(v.hi, k.zero)};
    if (plan.negative != 0) {
      const bytes64 negative = k.expand(plan.negative);
      digit = {_mm256_sub_epi8(_mm256_xor_si256(digit.lo, negative.lo), negative.lo),
               _mm256_sub_epi8(_mm256_xor_si256(digit.hi, negative.hi), negative.hi)};
    }
    if (plan.live != plan.digit) {
      const bytes64 live = k.expand(plan.live);
      digit = {_mm256_and_si256(digit.lo, live.lo), _mm256_and_si256(digit.hi, live.hi)};
    }
    return digit;
  }

  // Each digit's integer ends at the first non-digit after it, the one with
  // the greatest mark (128 - position) from the digit on. Marks are scanned
  // within each 8-byte lane; then each lane looks at the starts of the next
  // two lanes, which is enough for integers up to 17 digits. Where that
  // falls short the digits see no mark, get runs over 64, and take the long
  // path.
  [[gnu::always_inline]] static void weigh(const unsigned char* p, const block::plan& plan, accumulators& acc,
                                           const constants& k) {
    if (plan.live == 0) return;
    const bytes64 v = {load(p), load(p + 32)};
    const bytes64 u = lane_marks({k.is_digit(v.lo), k.is_digit(v.hi)}, k);
    const lanes_ahead ahead = marks_ahead(u, plan.next_run, k);
    const bytes64 run =
        runs_to(u, {max8(ahead.next.lo, ahead.second.lo), max8(ahead.next.hi, ahead.second.hi)}, k);
    const bytes64 digit = signed_live_digits(v, plan, k);

    const __m256i longest = _mm256_max_epu8(run.lo, run.hi);
    auto any_above = [&longest](__m256i limit) {
      const __m256i above = _mm256_subs_epu8(longest, limit);
      return !_mm256_testz_si256(above, above);
    };
    if (!any_above(k.five))
      add_weighted<5>(run, digit, acc, k);
    else if (!any_above(k.fifteen))
      add_weighted<15>(run, digit, acc, k);
    else
      add_weighted<64>(long_runs(u, ahead, k), digit, acc, k);
  }

  // The values when no integer has more than two digits in the block, as
  // in many files of counts: every digit's value plus ten times the one
  // before it, in bytes, read off at each integer's end.
  [[gnu::always_inline]] static void take_values_of_two(const unsigned char* p, std::uint64_t digit,
                                                        std::uint64_t live, std::uint64_t negative,
                                                        const block::integer_ends& at,
                                                        block::value_batch& batch, const constants& k) {
    const bytes64 v = {load(p), load(p + 32)};
    bytes64 d = signed_live_digits(v, {.digit = digit, .live = live, .negative = negative, .next_run = 0}, k);
    d = {_mm256_and_si256(d.lo, k.is_digit(v.lo)), _mm256_and_si256(d.hi, k.is_digit(v.hi))};
    // Each byte's digit before it; a non-digit has 0.
    const bytes64 before = {
        _mm256_alignr_epi8(d.lo, _mm256_permute2x128_si256(d.lo, d.lo, zero_then_lower), 15),
        _mm256_alignr_epi8(d.hi, _mm256_permute2x128_si256(d.lo, d.hi, upper_then_lower), 15)};
    auto times_ten = [](__m256i x) {
      const __m256i twice = _mm256_add_epi8(x, x),
                    eight = _mm256_add_epi8(_mm256_add_epi8(twice, twice), _mm256_add_epi8(twice, twice));
      return _mm256_add_epi8(eight, twice);
    };
    alignas(32) signed char value[64];
    _mm256_store_si256(reinterpret_cast<__m256i*>(value), _mm256_add_epi8(d.lo, times_ten(before.lo)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(value + 32), _mm256_add_epi8(d.hi, times_ten(before.hi)));
    std::uint32_t* out = batch.value + batch.count;
    for (std::uint64_t ends = at.ends; ends != 0; ends &= ends - 1)
      *out++ = static_cast<std::uint32_t>(value[std::countr_zero(ends)]);
    block::take_converted(batch, at, negative);
  }

  // For the fold with other combiners (block::values_of): takes the values
  // of the integers that end in the block at p into the batch, as
  // block::take_values does, but converted four at a time in vector lanes.
  // The last 16 bytes of each integer are gathered first, one integer at a
  // time; the integer that goes on into the next block is converted as
  // though it ended here, and waits.
  static constexpr unsigned converted_digits = 16;
  [[gnu::always_inline]] static void take_values(const unsigned char* p, std::uint64_t digit,
                                                 std::uint64_t live, std::uint64_t negative,
                                                 const block::integer_ends& at, block::value_batch& batch,
                                                 const constants& k) {
    const std::uint64_t pairs = live & (live >> 1);
    if ((pairs & (pairs >> 1)) == 0) return take_values_of_two(p, digit, live, negative, at, batch, k);
    const bool short_ones = !block::has_run<8>(pairs);
    // The 16 bytes before the block's first 16, for the integers that end
    // there, in one store, so that the loads from it see it at once.
    alignas(32) unsigned char front[32];
    _mm256_store_si256(
        reinterpret_cast<__m256i*>(front),
        _mm256_inserti128_si256(k.zero, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 1));
    // Where the 16 bytes that end at byte e start: from the block or the
    // front, picked without a branch, which would often be mispredicted.
    const auto in_block = reinterpret_cast<std::uintptr_t>(p) - 15,
               in_front = reinterpret_cast<std::uintptr_t>(front) + 1;
    const __m256i ones = _mm256_set1_epi64x(-1), one = _mm256_set1_epi64x(1);
    const __m256i tens = _mm256_set1_epi16(0x010a), hundreds = _mm256_set1_epi32(0x00010064);
    const __m256i signs = _mm256_set1_epi64x(static_cast<long long>(negative));
    const __m256i low_dwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    // The value of the digits in each 64-bit lane, the first in its lowest byte, in its low 32 bits.
    auto eight = [&](__m256i d) {
      const __m256i four = _mm256_madd_epi16(_mm256_maddubs_epi16(d, tens), hundreds);
      return _mm256_add_epi32(_mm256_mul_epu32(four, _mm256_set1_epi64x(10000)), _mm256_srli_epi64(four, 32));
    };
    // Digits outside the integer, the first `64 - keep` bits of the lane, are dropped.
    auto digits = [&](__m256i bytes, __m256i keep) {
      return _mm256_and_si256(_mm256_subs_epu8(bytes, k.zero), _mm256_sllv_epi64(ones, keep));
    };
    const auto count = static_cast<unsigned>(std::popcount(at.ends));
    std::uint32_t* out = batch.value + batch.count;
    std::uint64_t ends = at.ends, first = at.first;
    // One integer: its last 8 bytes, the 8 before, its length and its end.
    struct lane {
      long long low, high, length, end;
    };
    auto next = [&]() {
      const auto e = static_cast<unsigned>(std::countr_zero(ends));
      const auto* bytes = reinterpret_cast<const unsigned char*>((e < 15 ? in_front : in_block) + e);
      const lane l = {static_cast<long long>(block::load_le64(bytes + 8)),
                      short_ones ? 0 : static_cast<long long>(block::load_le64(bytes)),
                      static_cast<long long>(e + 1 - static_cast<unsigned>(std::countr_zero(first))), e};
      ends &= ends - 1;
      first &= first - 1;
      return l;
    };
    for (unsigned i = 0; i < count; i += 4) {
      // Four integers at a time, in registers. Past the last integer, lanes
      // read the bytes after the block, and are not taken.
      const lane a = next(), b = next(), c = next(), d = next();
      const __m256i len = _mm256_setr_epi64x(a.length, b.length, c.length, d.length);
      const __m256i low_kept = _mm256_slli_epi64(_mm256_min_epu32(len, _mm256_set1_epi64x(8)), 3);
      __m256i value = eight(digits(_mm256_setr_epi64x(a.low, b.low, c.low, d.low),
                                   _mm256_sub_epi64(_mm256_set1_epi64x(64), low_kept)));
      if (!short_ones) {
        const __m256i high_keep = _mm256_sub_epi64(_mm256_set1_epi64x(128), _mm256_slli_epi64(len, 3));
        value = _mm256_add_epi32(
            value,
            _mm256_mul_epu32(eight(digits(_mm256_setr_epi64x(a.high, b.high, c.high, d.high), high_keep)),
                             _mm256_set1_epi64x(100000000)));
      }
      const __m256i at_end = _mm256_setr_epi64x(a.end, b.end, c.end, d.end);
      const __m256i minus =
          _mm256_sub_epi64(_mm256_setzero_si256(), _mm256_and_si256(_mm256_srlv_epi64(signs, at_end), one));
      value = _mm256_sub_epi32(_mm256_xor_si256(value, minus), minus);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(value, low_dwords)));
    }
    block::take_converted(batch, at, negative);
  }

  static std::uint32_t total(const accumulators& acc) {
    auto lanes = [](__m256i x) {
      __m128i s = _mm_add_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
      s = _mm_add_epi32(s, _mm_shuffle_epi32(s, swap_halves));
      s = _mm_add_epi32(s, _mm_shuffle_epi32(s, swap_pairs));
      return static_cast<std::uint32_t>(_mm_cvtsi128_si32(s));
    };
    const __m256i ones16 = _mm256_set1_epi16(1);
    return lanes(acc.low) + (lanes(_mm256_madd_epi16(acc.high, ones16)) << 16);
  }
};

}  // namespace

chunk_result sum_avx2(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk<avx2_blocks>(c, p, n, eof);
}

chunk_result fold_avx2(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return block::sum_chunk<block::values_of<avx2_blocks>>(c, p, n, eof);
}

}  // namespace intsum
