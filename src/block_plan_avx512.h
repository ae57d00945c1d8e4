// The rules of block_plan.h for eight blocks at once, each block's masks in
// one 64-bit lane of an AVX-512 register (AVX-512 F only), and the chunk
// driver of the AVX-512 kernel. A chunk goes in three stages per group of
// eight blocks: the kernel classifies the blocks into masks; the rules run
// on all eight in a few vector operations, the two carry bits passing
// through the group in one scalar addition (as the carries of a sum do);
// then the kernel weighs each block. Only the first and last stages see
// bytes, and no block waits on the one before.
//
// The kernel provides, besides constants, accumulators and total() as for
// sum_chunk_with (block_plan.h):
//   classify(p, k)             the classes of the block at p (block_plan.h)
//   classify_group(p, k)       the classes of the eight blocks from p as
//                              group_classes, lane j for block j
//   weigh<Needs>(p, m, j, acc, k)
//                              adds the live digits of block j of the group
//                              whose masks are m (m.live, m.negative and
//                              m.pair(j)), the block being at p; Needs is
//                              m.needs, what the group may have: negative
//                              digits, runs over 3, runs over 5
//   weigh_long_runs(p, m, count, acc, k)
//                              after a group weighed with has_long: adds
//                              what weigh left to it
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "avx512.h"
#include "block_plan.h"

namespace intsum {
namespace block {
namespace {  // each kernel keeps its own copy, built with its own target flags

inline constexpr unsigned group_blocks = 8;

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
  // What the group's weighing needs: has_negative when some block has
  // negative digits, has_medium when some has a run of 4 digits or more,
  // has_long (with has_medium) when some has a run of 6 or more.
  unsigned needs;

  // The digit masks of block j and of the block after it, 16 bytes.
  const std::uint64_t* pair(unsigned j) const { return digit + j; }
};

// Masks in each 64-bit lane, one block to a lane, for the rules of
// block_plan.h; each operation is one instruction.
struct lanes {
  __m512i v;
  lanes() = default;
  lanes(__m512i x) : v(x) {}  // NOLINT: a vector is its lanes
  explicit lanes(std::uint64_t x) : v(_mm512_set1_epi64(static_cast<long long>(x))) {}
};

[[gnu::always_inline]] static inline lanes operator&(lanes a, lanes b) { return _mm512_and_si512(a.v, b.v); }
[[gnu::always_inline]] static inline lanes operator|(lanes a, lanes b) { return _mm512_or_si512(a.v, b.v); }
[[gnu::always_inline]] static inline lanes operator+(lanes a, lanes b) { return _mm512_add_epi64(a.v, b.v); }
[[gnu::always_inline]] static inline lanes operator-(lanes a, lanes b) { return _mm512_sub_epi64(a.v, b.v); }
[[gnu::always_inline]] static inline lanes operator<<(lanes a, unsigned n) {
  return _mm512_slli_epi64(a.v, n);
}
[[gnu::always_inline]] static inline lanes operator>>(lanes a, unsigned n) {
  return _mm512_srli_epi64(a.v, n);
}

// vpternlog truth tables over (a, b, c).
inline constexpr int a_andnot_b_and_c = 0x20;  // a & ~b & c
inline constexpr int a_or_b_and_c = 0xf8;      // a | (b & c)
inline constexpr int a_or_b_andnot_c = 0xf4;   // a | (b & ~c)
inline constexpr int a_and_b_or_c = 0xe0;      // a & (b | c)
inline constexpr int none_of_a_b_c = 0x01;     // ~(a | b | c)

[[gnu::always_inline]] static inline lanes and_not(lanes a, lanes b) { return _mm512_andnot_si512(b.v, a.v); }
[[gnu::always_inline]] static inline lanes and_not_and(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_andnot_b_and_c);
}
[[gnu::always_inline]] static inline lanes or_and(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_or_b_and_c);
}
[[gnu::always_inline]] static inline lanes and_or(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_and_b_or_c);
}
[[gnu::always_inline]] static inline lanes or_and_not(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, a_or_b_andnot_c);
}
[[gnu::always_inline]] static inline lanes none_of(lanes a, lanes b, lanes c) {
  return _mm512_ternarylogic_epi64(a.v, b.v, c.v, none_of_a_b_c);
}

// Bit j: the top bit of lane j.
[[gnu::always_inline]] static inline unsigned top_bits(lanes x) {
  return _mm512_test_epi64_mask(x.v, _mm512_set1_epi64(static_cast<long long>(1ull << 63)));
}

// Lane j of `one` where `which` has bit j, else of `zero`.
[[gnu::always_inline]] static inline lanes pick(unsigned which, lanes zero, lanes one) {
  return _mm512_mask_blend_epi64(static_cast<__mmask8>(which), zero.v, one.v);
}

// A group's classes, lane j for block j.
using group_classes = basic_classes<lanes>;

inline constexpr unsigned has_negative = 1, has_medium = 2, has_long = 4;

// The carries into each lane (bits 0 to 7) and out of the group (bit
// `count`), when a lane passes on 1 for carry 0 where `out0` has its bit and
// for carry 1 where `out1` has (out0 within out1): the carries of out0 + out1.
static inline unsigned carries(unsigned out0, unsigned out1, std::uint64_t in) {
  return (out0 + out1 + static_cast<unsigned>(in)) ^ out0 ^ out1;
}

// What the group's weighing needs (group_masks::needs), from its digits,
// the digits of the block after each, and its negative digits. Runs of 4
// and of 6 from bit i: pairs from i, i + 2 and i + 4, with the next block's
// bits above.
[[gnu::always_inline]] static inline unsigned weighing_needs(lanes d, lanes before_digit, lanes next_d,
                                                             lanes negative) {
  const lanes pair = d & before_digit, next_pair = next_d & (next_d >> 1);
  const lanes four = and_or(pair, pair >> 2, next_pair << 62), six = and_or(four, pair >> 4, next_pair << 60);
  auto any = [](lanes x) { return _mm512_test_epi64_mask(x.v, x.v) != 0; };
  return (any(negative) ? has_negative : 0) | (any(four) ? has_medium : 0) | (any(six) ? has_long : 0);
}

// The rules for the `count` blocks of c (lanes from `count` on are all 0),
// with next_d the digits of the block after each; fills m and leaves the
// carry after the last block. True when the list ends in the group. Each
// lane works out its masks for both values of each carry into it; the
// carries then pass through the group in one scalar addition, as those of a
// sum do, and pick one of each pair in every lane.
[[gnu::always_inline]] static inline bool plan_lanes(const group_classes& c, lanes next_d, unsigned count,
                                                     carry& s, group_masks& m) {
  const lanes one(std::uint64_t{1});
  const partial_rules<lanes> r = partial_rules_of(c, next_d);
  const lanes separator0 = separators(c, r, no_carry{}), separator1 = separators(c, r, one);
  const lanes negative0 = negatives(c, r, no_carry{}), negative1 = negatives(c, r, one);

  const unsigned after = carries(top_bits(passes_after_integer(c, separator0)),
                                 top_bits(passes_after_integer(c, separator1)), s.after_integer);
  const unsigned negative =
      carries(top_bits(passes_negative(c, negative0)), top_bits(passes_negative(c, negative1)), s.negative);
  s = {(after >> count) & 1, (negative >> count) & 1};

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

[[gnu::always_inline]] static inline bool plan_group(group_masks& m, unsigned count, carry& s) {
  const group_classes c{_mm512_load_si512(m.digit), _mm512_load_si512(m.minus),
                        _mm512_load_si512(m.sign),  _mm512_load_si512(m.separator),
                        _mm512_load_si512(m.comma), _mm512_load_si512(m.other)};
  return plan_lanes(c, _mm512_loadu_si512(m.digit + 1), count, s, m);
}

// Classifies the `count` blocks from p, at most a group, into m, and the
// digits of the block after them.
template <class Kernel>
[[gnu::always_inline]] static inline void classify_group(const unsigned char* p, unsigned count,
                                                         group_masks& m,
                                                         const typename Kernel::constants& k) {
  for (unsigned j = 0; j < group_blocks; ++j) {
    if (j < count) {
      const classes c = Kernel::classify(p + 64 * j, k);
      m.digit[j] = c.digit;
      m.minus[j] = c.minus;
      m.sign[j] = c.sign;
      m.separator[j] = c.separator;
      m.comma[j] = c.comma;
      m.other[j] = c.other;
    } else {
      m.digit[j] = m.minus[j] = m.sign[j] = m.separator[j] = m.comma[j] = m.other[j] = 0;
    }
  }
  m.digit[group_blocks] = 0;
  m.digit[count] = Kernel::classify(p + 64 * count, k).digit;
}

// Weighs the `count` blocks from p with their masks in m. Each block reads
// its masks from memory, and the loop is not unrolled: left to itself, GCC
// takes them out of vector registers lane by lane and keeps every block's
// constants live at once, spilling the accumulators.
template <class Kernel, unsigned Needs>
[[gnu::always_inline]] static inline void weigh_blocks(const unsigned char* p, const group_masks& m,
                                                       unsigned count, typename Kernel::accumulators& acc,
                                                       const typename Kernel::constants& k) {
#pragma GCC unroll 1
  for (unsigned j = 0; j < count; ++j) Kernel::template weigh<Needs>(p + 64 * j, m, j, acc, k);
  if constexpr ((Needs & has_long) != 0) Kernel::weigh_long_runs(p, m, count, acc, k);
}

// The weighing is picked once per group, on what is usually alike all
// through a file, so the choice is well predicted and costs no block a branch.
template <class Kernel>
[[gnu::always_inline]] static inline void weigh_group(const unsigned char* p, group_masks& m, unsigned count,
                                                      typename Kernel::accumulators& acc,
                                                      const typename Kernel::constants& k) {
  if constexpr (requires { Kernel::takes_values; }) {
    weigh_blocks<Kernel, 0>(p, m, count, acc, k);  // one way for all
  } else {
    const unsigned needs = m.needs;
    __asm__ volatile("" : : "r"(&m) : "memory");
    // Read before the barrier, so the choice needs no reload; the
    // usual mixed file comes first. has_long never comes without has_medium.
    constexpr unsigned all = has_negative | has_medium | has_long;
    if (needs == all) return weigh_blocks<Kernel, all>(p, m, count, acc, k);
    if (needs == (has_medium | has_long))
      return weigh_blocks<Kernel, has_medium | has_long>(p, m, count, acc, k);
    if (needs == 0) return weigh_blocks<Kernel, 0>(p, m, count, acc, k);
    if (needs == has_negative) return weigh_blocks<Kernel, has_negative>(p, m, count, acc, k);
    if (needs == has_medium) return weigh_blocks<Kernel, has_medium>(p, m, count, acc, k);
    return weigh_blocks<Kernel, has_negative | has_medium>(p, m, count, acc, k);
  }
}

// Runs the `count` blocks from p, at most a group, each seeing the digits
// of the next (so the block at p + 64 * count must be readable). True when
// the list ends.
template <class Kernel>
[[gnu::always_inline]] static inline bool sum_part_group(const unsigned char* p, unsigned count, carry& s,
                                                         typename Kernel::accumulators& acc,
                                                         const typename Kernel::constants& k) {
  group_masks m;
  classify_group<Kernel>(p, count, m, k);
  const bool ended = plan_group(m, count, s);
  weigh_group<Kernel>(p, m, count, acc, k);
  return ended;
}

inline constexpr std::size_t group_bytes = group_blocks * block_bytes;

// The classes of group g + 1 of the `groups` from p; past the last group,
// only the digits of the block after it, in every lane.
template <class Kernel>
[[gnu::always_inline]] static inline group_classes classes_after(const unsigned char* p, std::size_t g,
                                                                 std::size_t groups,
                                                                 const typename Kernel::constants& k) {
  const unsigned char* q = p + group_bytes * (g + 1);
  if (g + 1 < groups) return Kernel::classify_group(q, k);
  group_classes c;
  c.digit = lanes(Kernel::classify(q, k).digit);
  return c;
}

// The rules of a whole group, given its classes and those of the group after it.
[[gnu::always_inline]] static inline bool plan_whole_group(const group_classes& now,
                                                           const group_classes& next, carry& s,
                                                           group_masks& m) {
  return plan_lanes(now, _mm512_alignr_epi64(next.digit.v, now.digit.v, 1), group_blocks, s, m);
}

// Runs `groups` whole groups from p, the block after them readable. True
// when the list ends. The groups go through the three stages at once: while
// group g is weighed, the rules of group g + 1 have run, so that their chain
// of carries overlaps the weighing, and group g + 2 has been classified.
// At the top of iteration g: m[g % 2] is the plan of group g, `ended` says
// whether the list ends in it, `next` holds the classes of group g + 1
// (classes_after), and s is the carry after group g.
template <class Kernel>
[[gnu::always_inline]] static inline bool sum_whole_groups(const unsigned char* p, std::size_t groups,
                                                           carry& s, typename Kernel::accumulators& acc,
                                                           const typename Kernel::constants& k) {
  group_masks m[2];
  group_classes next = classes_after<Kernel>(p, 0, groups, k);
  bool ended = plan_whole_group(Kernel::classify_group(p, k), next, s, m[0]);
  for (std::size_t g = 0; g < groups; ++g) {
    bool next_ended = false;
    if (!ended && g + 1 < groups) {
      const group_classes after_next = classes_after<Kernel>(p, g + 1, groups, k);
      next_ended = plan_whole_group(next, after_next, s, m[(g + 1) % 2]);
      next = after_next;
    }
    weigh_group<Kernel>(p + group_bytes * g, m[g % 2], group_blocks, acc, k);
    if (ended) return true;
    ended = next_ended;
  }
  return false;
}

// Runs `count` blocks from p, each seeing the digits of the next (so the
// block at p + 64 * count must be readable). True when the list ends.
template <class Kernel>
[[gnu::always_inline]] static inline bool sum_blocks_in_lanes(const unsigned char* p, std::size_t count,
                                                              carry& s, typename Kernel::accumulators& acc,
                                                              const typename Kernel::constants& k) {
  const std::size_t groups = count / group_blocks;
  if (groups != 0 && sum_whole_groups<Kernel>(p, groups, s, acc, k)) return true;
  const auto rest = static_cast<unsigned>(count % group_blocks);
  return rest != 0 && sum_part_group<Kernel>(p + group_bytes * groups, rest, s, acc, k);
}

// sum_chunk of block_plan.h, a group at a time.
template <class Kernel, class Carry>
[[gnu::always_inline]] static inline chunk_result sum_chunk_grouped(Carry& c, const unsigned char* p,
                                                                    std::size_t n, bool eof) {
  return sum_chunk_with<Kernel>(
      c, p, n, eof,
      [](const unsigned char* q, std::size_t count, carry& t, auto& a, const auto& k) {
        return sum_blocks_in_lanes<Kernel>(q, count, t, a, k);
      },
      [](const unsigned char* q, std::size_t count, carry& t, auto& a, const auto& k) {
        return sum_part_group<Kernel>(q, static_cast<unsigned>(count), t, a, k);
      });
}

}  // namespace
}  // namespace block
}  // namespace intsum
