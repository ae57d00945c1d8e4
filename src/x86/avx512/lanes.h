// The rules of rules.h for eight blocks at once, each block's masks in one
// 64-bit lane of an AVX-512 register (AVX-512 F only): each lane works out
// its masks for both values of each carry into it, and the carries then pass
// through the group in one scalar addition, as those of a sum do
// (docs/design.md, "Eight blocks at once").
#pragma once

#include <bit>
#include <cstdint>

#include "block/rules.h"
#include "block/weights.h"
#include "x86/avx512/intrinsics.h"

namespace intsum {
namespace block {
namespace {

inline constexpr unsigned group_blocks = 8;

// What a group's weighing needs (group_masks::needs): has_negative when
// some block has negative digits, has_medium when some has a run of 4
// digits or more, has_long (with has_medium) when some has a run of 6 or
// more.
inline constexpr unsigned has_negative = 1, has_medium = 2, has_long = 4;
// Runs of 4 and more weigh in more than a byte, of 6 and more in more than
// two (weights.h), which is what the kernel's weighings take.
static_assert(runs_weighed_in(1) + 1 == 4 && runs_weighed_in(2) + 1 == 6);

// One group's masks, lane j for the block at p + 64 j; digit[group_blocks]
// is the block after the group. The rules fill live and negative, and the
// digits (those of whole groups come to them in registers).
struct group_masks {
  alignas(64) std::uint64_t digit[2 * group_blocks];
  alignas(64) std::uint64_t minus[group_blocks];
  alignas(64) std::uint64_t sign[group_blocks];
  alignas(64) std::uint64_t separator[group_blocks];
  alignas(64) std::uint64_t comma[group_blocks];
  alignas(64) std::uint64_t other[group_blocks];
  alignas(64) std::uint64_t live[group_blocks];
  alignas(64) std::uint64_t negative[group_blocks];
  unsigned needs;  // of the sum's weighing

  // The digit masks of block j and of the block after it, 16 bytes.
  const std::uint64_t* pair(unsigned j) const { return digit + j; }
  // Block j's plan, as plan_block gives it.
  block_plan plan_of(unsigned j) const { return {digit[j], live[j], negative[j], digit[j + 1]}; }
};

// Masks in each 64-bit lane, one block to a lane; each operation is one
// instruction.
struct lanes {
  __m512i v;
  lanes() = default;
  lanes(__m512i x) : v(x) {}  // NOLINT: a vector is its lanes
  explicit lanes(std::uint64_t x) : v(_mm512_set1_epi64(static_cast<long long>(x))) {}
};

INTSUM_ALWAYS_INLINE lanes operator&(lanes a, lanes b) { return _mm512_and_si512(a.v, b.v); }
INTSUM_ALWAYS_INLINE lanes operator|(lanes a, lanes b) { return _mm512_or_si512(a.v, b.v); }
INTSUM_ALWAYS_INLINE lanes operator+(lanes a, lanes b) { return _mm512_add_epi64(a.v, b.v); }
INTSUM_ALWAYS_INLINE lanes operator-(lanes a, lanes b) { return _mm512_sub_epi64(a.v, b.v); }
INTSUM_ALWAYS_INLINE lanes operator<<(lanes a, unsigned n) { return _mm512_slli_epi64(a.v, n); }
INTSUM_ALWAYS_INLINE lanes operator>>(lanes a, unsigned n) { return _mm512_srli_epi64(a.v, n); }

// vpternlog truth tables over (a, b, c).
inline constexpr int a_andnot_b_and_c = 0x20;  // a & ~b & c
inline constexpr int a_or_b_and_c = 0xf8;      // a | (b & c)
inline constexpr int a_or_b_andnot_c = 0xf4;   // a | (b & ~c)
inline constexpr int a_and_b_or_c = 0xe0;      // a & (b | c)
inline constexpr int none_of_a_b_c = 0x01;     // ~(a | b | c)

INTSUM_ALWAYS_INLINE lanes and_not(lanes a, lanes b) { return _mm512_andnot_si512(b.v, a.v); }
INTSUM_ALWAYS_INLINE lanes and_not_and(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_andnot_b_and_c);
}
INTSUM_ALWAYS_INLINE lanes or_and(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_or_b_and_c);
}
INTSUM_ALWAYS_INLINE lanes and_or(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_and_b_or_c);
}
INTSUM_ALWAYS_INLINE lanes or_and_not(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_or_b_andnot_c);
}
INTSUM_ALWAYS_INLINE lanes none_of(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, none_of_a_b_c);
}

// Bit j: the top bit of lane j.
INTSUM_ALWAYS_INLINE unsigned top_bits(lanes x) {
  return _mm512_test_epi64_mask(x.v, _mm512_set1_epi64(static_cast<long long>(1ull << 63)));
}

// Lane j of `one` where `which` has bit j, else of `zero`.
INTSUM_ALWAYS_INLINE lanes pick(unsigned which, lanes zero, lanes one) {
  return _mm512_mask_blend_epi64(static_cast<__mmask8>(which), zero.v, one.v);
}

// A group's classes, lane j for block j.
using group_classes = basic_classes<lanes>;

// The carries into each lane (bits 0 to 7) and out of the group (bit
// `count`), when a lane passes on 1 for carry 0 where `out0` has its bit and
// for carry 1 where `out1` has (out0 within out1): the carries of out0 + out1.
inline unsigned carries(unsigned out0, unsigned out1, std::uint64_t in) {
  return (out0 + out1 + static_cast<unsigned>(in)) ^ out0 ^ out1;
}

// What the group's weighing needs, from its digits, the digits of the
// block after each, and its negative digits, worked out with the rules from
// their registers: from the masks in memory, at the weighing, it cost the
// sum 3.5% on short integers. Runs of 4 and of 6 from bit i: pairs from i,
// i + 2 and i + 4, with the next block's bits above.
INTSUM_ALWAYS_INLINE unsigned weighing_needs(lanes d, lanes before_digit, lanes next_d, lanes negative) {
  const lanes pair = d & before_digit, next_pair = next_d & (next_d >> 1);
  const lanes four = and_or(pair, pair >> 2, next_pair << 62), six = and_or(four, pair >> 4, next_pair << 60);
  auto any = [](lanes x) { return _mm512_test_epi64_mask(x.v, x.v) != 0; };
  return (any(negative) ? has_negative : 0) | (any(four) ? has_medium : 0) | (any(six) ? has_long : 0);
}

// The rules for the `count` blocks of c (lanes from `count` on are all 0),
// with next_d the digits of the block after each; fills m and leaves the
// carry after the last block. True when the list ends in the group.
INTSUM_ALWAYS_INLINE bool plan_lanes(const group_classes& c, lanes next_d, unsigned count, carry_bits& carry,
                                     group_masks& m) {
  const lanes one(std::uint64_t{1});
  const partial_rules<lanes> r = partial_rules_of(c, next_d);
  const lanes separator0 = separators(c, r, no_carry{}), separator1 = separators(c, r, one);
  const lanes negative0 = negatives(c, r, no_carry{}), negative1 = negatives(c, r, one);

  const unsigned after = carries(top_bits(passes_after_integer(c, separator0)),
                                 top_bits(passes_after_integer(c, separator1)), carry.after_integer);
  const unsigned negative = carries(top_bits(passes_negative(c, negative0)),
                                    top_bits(passes_negative(c, negative1)), carry.negative);
  carry = {(after >> count) & 1, (negative >> count) & 1};

  // Lanes up to the first with a stop; each keeps its digits below its first stop.
  const lanes stop = pick(after, stops(c, r, separator0), stops(c, r, separator1));
  const unsigned stopped = _mm512_test_epi64_mask(stop.v, stop.v);
  const auto keep = static_cast<__mmask8>(stopped ^ (stopped - 1));
  _mm512_store_si512(m.live, _mm512_maskz_mov_epi64(keep, live_digits(c.digit, stop).v));
  const lanes negatives_of_group = pick(negative, negative0, negative1);
  _mm512_store_si512(m.negative, negatives_of_group.v);
  m.needs = weighing_needs(c.digit, r.before_digit, next_d, negatives_of_group);
  _mm512_store_si512(m.digit, c.digit.v);
  _mm512_storeu_si512(m.digit + 1, next_d.v);
  return stopped != 0;
}

}  // namespace
}  // namespace block
}  // namespace intsum
