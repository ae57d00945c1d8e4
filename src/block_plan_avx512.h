// The rules of block_plan.h for eight blocks at once, each block's masks in
// one 64-bit lane of an AVX-512 register (AVX-512 F only). A chunk goes in
// three stages per group of eight blocks: the kernel classifies the blocks
// into masks; the rules run on all eight in a few vector operations, the
// two carry bits passing through the group in one scalar addition (as the
// carries of a sum do); then the kernel weighs each block. Only the first and
// last stages see bytes, and no block waits on the one before.
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

#include "avx512.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "block_plan.h"

namespace intsum {
namespace block {

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

// A group's classes, lane j for block j (AVX-512 F).
struct group_classes {
  __m512i digit, minus, sign, separator, comma, other;
};

inline constexpr unsigned has_negative = 1, has_medium = 2, has_long = 4;

// vpternlog truth tables over (a, b, c).
inline constexpr int a_andnot_b_and_c = 0x20;  // a & ~b & c
inline constexpr int a_and_b_or_c = 0xe0;      // a & (b | c)
inline constexpr int a_or_b_and_c = 0xf8;      // a | (b & c)
inline constexpr int a_or_b_andnot_c = 0xf4;   // a | (b & ~c)

// The carries into each lane (bits 0 to 7) and out of the group (bit
// `count`), when a lane passes on 1 for carry 0 where `out0` has its bit and
// for carry 1 where `out1` has (out0 within out1): the carries of out0 + out1.
inline unsigned carries(unsigned out0, unsigned out1, std::uint64_t in) {
  return (out0 + out1 + static_cast<unsigned>(in)) ^ out0 ^ out1;
}

// The rules for the `count` blocks of c (lanes from `count` on are all 0),
// with next_d the digits of the block after each; fills m.live, m.negative
// and m.digit and leaves the carry after the last block.
// True when the list ends in the group.
[[gnu::always_inline]] static inline bool plan_lanes(const group_classes& c, __m512i next_d, unsigned count,
                                                     carry& s, group_masks& m) {
  const __m512i one = _mm512_set1_epi64(1), top = _mm512_set1_epi64(static_cast<long long>(1ull << 63));
  const __m512i d = c.digit, minus = c.minus, sign = c.sign, sep = c.separator, comma = c.comma;
  const __m512i other = c.other;
  const __m512i d_after = _mm512_slli_epi64(d, 1);

  // Separators: runs of spaces and commas right after a digit, or at byte 0
  // after the last block's integer (the `1` variant).
  const __m512i starts = _mm512_ternarylogic_epi64(sep, _mm512_slli_epi64(sep, 1), d_after, a_andnot_b_and_c);
  const __m512i separator0 = _mm512_andnot_si512(_mm512_add_epi64(sep, starts), sep);
  const __m512i separator1 = _mm512_andnot_si512(
      _mm512_add_epi64(sep, _mm512_ternarylogic_epi64(starts, sep, one, a_or_b_and_c)), sep);

  // Stops: other bytes, signs without a digit after them, stray commas.
  const __m512i digit_next = _mm512_or_si512(_mm512_srli_epi64(d, 1), _mm512_slli_epi64(next_d, 63));
  const __m512i stops = _mm512_ternarylogic_epi64(other, sign, digit_next, a_or_b_andnot_c);
  const __m512i stop0 = _mm512_ternarylogic_epi64(stops, comma, separator0, a_or_b_andnot_c);
  const __m512i stop1 = _mm512_ternarylogic_epi64(stops, comma, separator1, a_or_b_andnot_c);

  // Negative integers: runs after a minus, or at byte 0 going on from the
  // last block's negative integer (the `1` variant).
  const __m512i negative_start =
      _mm512_ternarylogic_epi64(d, d_after, _mm512_slli_epi64(minus, 1), a_andnot_b_and_c);
  const __m512i negative0 = _mm512_andnot_si512(_mm512_add_epi64(d, negative_start), d);
  const __m512i negative1 = _mm512_or_si512(negative0, _mm512_andnot_si512(_mm512_add_epi64(d, one), d));

  // What each lane passes on, for carry 0 and 1, from its last byte.
  const unsigned after =
      carries(_mm512_test_epi64_mask(_mm512_or_si512(d, separator0), top),
              _mm512_test_epi64_mask(_mm512_or_si512(d, separator1), top), s.after_integer);
  const unsigned negative =
      carries(_mm512_test_epi64_mask(_mm512_or_si512(negative0, minus), top),
              _mm512_test_epi64_mask(_mm512_or_si512(negative1, minus), top), s.negative);
  s = {(after >> count) & 1, (negative >> count) & 1};

  const __m512i stop = _mm512_mask_blend_epi64(static_cast<__mmask8>(after), stop0, stop1);
  // Lanes up to the first with a stop; each keeps its digits below its first stop.
  const unsigned stopped = _mm512_test_epi64_mask(stop, stop);
  const __mmask8 keep = static_cast<__mmask8>(stopped ^ (stopped - 1));
  _mm512_store_si512(
      m.live, _mm512_maskz_ternarylogic_epi64(keep, d, stop, _mm512_sub_epi64(stop, one), a_andnot_b_and_c));
  const __m512i negatives = _mm512_mask_blend_epi64(static_cast<__mmask8>(negative), negative0, negative1);
  _mm512_store_si512(m.negative, negatives);
  // Runs of 4 and of 6 from bit i: pairs from i, i + 2 and i + 4, with the
  // next block's bits above.
  const __m512i pair = _mm512_and_si512(d, digit_next);
  const __m512i next_pair = _mm512_and_si512(next_d, _mm512_srli_epi64(next_d, 1));
  const __m512i four = _mm512_ternarylogic_epi64(pair, _mm512_srli_epi64(pair, 2),
                                                 _mm512_slli_epi64(next_pair, 62), a_and_b_or_c);
  const __m512i six = _mm512_ternarylogic_epi64(four, _mm512_srli_epi64(pair, 4),
                                                _mm512_slli_epi64(next_pair, 60), a_and_b_or_c);
  m.needs = (_mm512_test_epi64_mask(negatives, negatives) != 0 ? has_negative : 0) |
            (_mm512_test_epi64_mask(four, four) != 0 ? has_medium : 0) |
            (_mm512_test_epi64_mask(six, six) != 0 ? has_long : 0);
  _mm512_store_si512(m.digit, d);
  _mm512_storeu_si512(m.digit + 1, next_d);
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

// Runs `count` blocks from p, each seeing the digits of the next (so the
// block at p + 64 * count must be readable). True when the list ends. Whole
// groups keep their classes in registers and go through three stages at
// once: one group is classified while the one before it goes through the
// rules and the one before that is weighed.
template <class Kernel>
[[gnu::always_inline]] static inline bool sum_blocks_in_lanes(const unsigned char* p, std::size_t count,
                                                              carry& s, typename Kernel::accumulators& acc,
                                                              const typename Kernel::constants& k) {
  const std::size_t groups = count / group_blocks;
  if (groups != 0) {
    // The classes of the group after `now` (or, past the last group, the
    // digits of the block after it).
    auto classify_after = [&](std::size_t g) {
      const unsigned char* q = p + 64 * group_blocks * (g + 1);
      group_classes c;
      if (g + 1 < groups)
        c = Kernel::classify_group(q, k);
      else
        c.digit = _mm512_set1_epi64(static_cast<long long>(Kernel::classify(q, k).digit));
      return c;
    };
    group_masks m[2];
    group_classes now = Kernel::classify_group(p, k), next = classify_after(0);
    bool ended = plan_lanes(now, _mm512_alignr_epi64(next.digit, now.digit, 1), group_blocks, s, m[0]);
    for (std::size_t g = 0; g < groups; ++g) {
      // The rules of the next group run before this one is weighed, so that
      // their chain of carries overlaps the weighing.
      bool next_ended = false;
      if (!ended && g + 1 < groups) {
        now = next;
        next = classify_after(g + 1);
        next_ended =
            plan_lanes(now, _mm512_alignr_epi64(next.digit, now.digit, 1), group_blocks, s, m[(g + 1) & 1]);
      }
      weigh_group<Kernel>(p + 64 * group_blocks * g, m[g & 1], group_blocks, acc, k);
      if (ended) return true;
      ended = next_ended;
    }
    p += 64 * group_blocks * groups;
  }
  const auto rest = static_cast<unsigned>(count % group_blocks);
  return rest != 0 && sum_part_group<Kernel>(p, rest, s, acc, k);
}

// sum_chunk of block_plan.h, a group at a time.
template <class Kernel>
[[gnu::always_inline]] static inline chunk_result sum_chunk_grouped(sum_carry& c, const unsigned char* p,
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

}  // namespace block
}  // namespace intsum
