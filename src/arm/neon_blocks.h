// The NEON kernel, written once for Advanced SIMD, part of every aarch64
// CPU (scan_neon.cpp), and for the CPUs that add its dot products
// (scan_dotprod.cpp): the classes and rules of rules.h, then the live digits
// weighed by their place, two digits at a time (docs/design.md, "NEON").
//
// A block is loaded once with ld4, so vector j holds bytes j, j + 4, j + 8,
// ...: lane i of vector j is byte 4i + j, and each lane holds a group of four
// bytes. Masks come out in block order from a few shift-and-insert steps, two
// classes at once; the weighing works on the groups, by 16-entry lookups of
// each group's nibble of live digits.
//
// What bounds it, on Neoverse N2 and V2 alike by the estimates (bench/mca.sh,
// docs/performance.md), is its vector micro-ops and how long each waits in
// the reorder buffer, so what pays on both is fewer of them and shorter
// chains: pairs of digits halve the weight lookups and multiplies; runs come
// from nibble tables and a min-scan of four lanes, not per-byte windows;
// each block is loaded and classified once, a pipeline of three blocks
// overlaps the chain through the rules in general registers, and the rules
// stay there. (Splitting the accumulators, preparing the pairs a block
// earlier, or loading a block again to weigh it all cost more there.)
#pragma once

#include <arm_neon.h>

#include <bit>
#include <type_traits>

#include "arm/lane_values.h"
#include "arm/tables.h"
#include "block/chunk.h"

namespace intsum {
namespace {

using namespace block;
using namespace neon;

using quad = uint8x16x4_t;

// Calls f(j) for j = 0 to 3, as constants: GCC keeps loops over the four
// vectors of a block rolled, with the vectors in memory.
template <class F>
INTSUM_ALWAYS_INLINE void each4(F&& f) {
  f(std::integral_constant<int, 0>{});
  f(std::integral_constant<int, 1>{});
  f(std::integral_constant<int, 2>{});
  f(std::integral_constant<int, 3>{});
}

// 16 lanes of nibbles, the low of each byte then the high, to a 64-bit mask
// in a general register: the rules are scalar arithmetic, which GCC would
// otherwise do in vector registers.
INTSUM_ALWAYS_INLINE std::uint64_t in_general(uint8x8_t v) {
  std::uint64_t m = vget_lane_u64(vreinterpret_u64_u8(v), 0);
  __asm__("" : "+r"(m));
  return m;
}

INTSUM_ALWAYS_INLINE std::uint64_t mask_of_both(uint8x16_t both) {
  return in_general(vshrn_n_u16(vreinterpretq_u16_u8(both), 4));
}

// The classes from the code bits x, y and z (see code_of).
INTSUM_ALWAYS_INLINE classes classes_of_code_bits(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  const std::uint64_t y_or_z = y | z;
  return {.digit = x & ~y_or_z,
          .minus = x & y,
          .sign = x & y_or_z,
          .separator = z & ~x,
          .comma = y & z,
          .other = ~(x | y_or_z)};
}

// The operations of convert_values_of_two (values.h) on a block as ld4
// loads it. Byte 4i + j - 1 is lane i of vector j - 1, or lane i - 1 of
// vector 3.
struct quad_bytes {
  INTSUM_ALWAYS_INLINE static quad byte_before(const quad& x) {
    return {{vextq_u8(vdupq_n_u8(0), x.val[3], 15), x.val[0], x.val[1], x.val[2]}};
  }
  INTSUM_ALWAYS_INLINE static quad times_ten(const quad& x) {
    quad r;
    each4([&](auto j) { r.val[j] = vmulq_u8(x.val[j], vdupq_n_u8(10)); });
    return r;
  }
  INTSUM_ALWAYS_INLINE static quad add(const quad& x, const quad& y) {
    quad r;
    each4([&](auto j) { r.val[j] = vaddq_u8(x.val[j], y.val[j]); });
    return r;
  }
  INTSUM_ALWAYS_INLINE static void read_off(const quad& x, std::uint64_t ends, std::uint32_t* out) {
    alignas(16) std::int8_t value[block_bytes];
    vst4q_u8(reinterpret_cast<std::uint8_t*>(value), x);
    read_off_each(value, ends, out);
  }
};

struct neon_blocks {
  struct constants {
    uint8x16_t zero_char = vdupq_n_u8('0'), low_nibble = vdupq_n_u8(0x0f), high_pairs = vdupq_n_u8(0xcc),
               two = vdupq_n_u8(2);
    uint8x16x3_t classes;
    // Lane i takes byte i / 2 of a mask; its nibble is the low for even i.
    uint8x16_t this_byte = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7};
    int8x16_t nibble_down = {0, -4, 0, -4, 0, -4, 0, -4, 0, -4, 0, -4, 0, -4, 0, -4};
    // The bits of pair a and of pair b in lane i's byte of a mask.
    uint8x16_t pair_a = {3, 0x30, 3, 0x30, 3, 0x30, 3, 0x30, 3, 0x30, 3, 0x30, 3, 0x30, 3, 0x30};
    uint8x16_t pair_b = {12, 0xc0, 12, 0xc0, 12, 0xc0, 12, 0xc0, 12, 0xc0, 12, 0xc0, 12, 0xc0, 12, 0xc0};
    uint8x16_t group = {0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 56, 60};  // 4i
    uint8x16_t last = {3, 7, 11, 15, 19, 23, 27, 31, 35, 39, 43, 47, 51, 55, 59, 63};  // 4i + 3
    uint8x16_t lookup[nibble_tables];
    int8x16_t weight_by_run[4];  // signed weight byte b
    uint8x16_t bit[4];           // for the fold: 1 << (p % 8) for byte p = 4i + j
    lane_constants lanes;        // for the fold

    constants() {
      // Loads are macros in Clang, which it does not take in member initializers.
      for (int j = 0; j < 3; ++j) classes.val[j] = vld1q_u8(classes_of.code + 16 * j);
      for (int t = 0; t < nibble_tables; ++t) lookup[t] = vld1q_u8(nibbles.of[t]);
      for (int j = 0; j < 4; ++j) {
        alignas(16) std::uint8_t b[16];
        for (int i = 0; i < 16; ++i) b[i] = static_cast<std::uint8_t>(1u << ((4 * i + j) % 8));
        bit[j] = vld1q_u8(b);
        weight_by_run[j] = vld1q_s8(weights.by_run[j]);
      }
      // Kept in registers, or reloaded: GCC would rebuild the broadcasts in every block.
      opaque(zero_char, low_nibble, high_pairs, two, this_byte, nibble_down, pair_a, pair_b, group, last);
      lanes.keep();
    }

    INTSUM_ALWAYS_INLINE uint8x16_t spread(std::uint64_t m) const {
      return vqtbl1q_u8(vreinterpretq_u8_u64(vdupq_n_u64(m)), this_byte);
    }
    INTSUM_ALWAYS_INLINE uint8x16_t nibbles_of(std::uint64_t m) const {
      return vandq_u8(vshlq_u8(spread(m), nibble_down), low_nibble);
    }
    INTSUM_ALWAYS_INLINE uint8x16_t look_up(nibble_table t, uint8x16_t n) const {
      return vqtbl1q_u8(lookup[t], n);
    }
    // 0xff in the bytes whose bit is set in m.
    INTSUM_ALWAYS_INLINE quad expand(std::uint64_t m) const {
      const uint8x16_t s = spread(m);
      return {{vtstq_u8(s, bit[0]), vtstq_u8(s, bit[1]), vtstq_u8(s, bit[2]), vtstq_u8(s, bit[3])}};
    }
  };

#if defined(__ARM_FEATURE_DOTPROD)
  struct accumulators {
    // Sums of signed pair times weight byte, one per byte of the weight, four
    // products to a 32-bit lane by the dot products; they wrap harmlessly,
    // as only the sum mod 2^32 is wanted.
    int32x4_t byte0 = vdupq_n_s32(0), byte1 = vdupq_n_s32(0), byte2 = vdupq_n_s32(0), byte3 = vdupq_n_s32(0);
  };
#else
  struct accumulators {
    // Sums of signed pair times weight byte, one per byte of the weight.
    // Byte 0 needs all 32 bits, byte 1 the low 24; bytes 2 and 3 are needed
    // only mod 2^16 and 2^8 and stay in lanes of that width.
    int32x4_t byte0 = vdupq_n_s32(0), byte1 = vdupq_n_s32(0);
    int16x8_t byte2 = vdupq_n_s16(0);
    int8x16_t byte3 = vdupq_n_s8(0);
  };
#endif

  // The sum of a block weighed in words (weights.h), in one lane of a sum
  // that counts once: the accumulators stay all vectors, in registers.
  INTSUM_ALWAYS_INLINE static void add_weighed_in_words(accumulators& acc, std::uint32_t sum) {
    acc.byte0 = vaddq_s32(acc.byte0, vsetq_lane_s32(static_cast<std::int32_t>(sum), vdupq_n_s32(0), 0));
  }

  // Step one adds vector 0 shifted a place to vector 1, and 2 to 3, so that
  // each code bit of the two sits side by side; step two puts x and y of all
  // four in the high and low nibbles of one vector, and z in another.
  INTSUM_ALWAYS_INLINE static classes classes_of_codes(const quad& c, const constants& k) {
    const uint8x16_t u01 = vsraq_n_u8(c.val[1], c.val[0], 1), u23 = vsraq_n_u8(c.val[3], c.val[2], 1);
    const uint8x16_t xy = vbslq_u8(k.high_pairs, u23, vshrq_n_u8(u01, 2));
    const uint8x16_t z = vsliq_n_u8(u01, u23, 2);
    // The even and the odd bytes of xy, each lane's x and y nibbles, are
    // sorted into the two masks in general registers.
    const uint16x8_t pairs = vreinterpretq_u16_u8(xy);
    const std::uint64_t even = in_general(vmovn_u16(pairs)), odd = in_general(vshrn_n_u16(pairs, 8));
    constexpr std::uint64_t low = 0x0f0f0f0f0f0f0f0f;
    return classes_of_code_bits(((even & ~low) >> 4) | (odd & ~low), (even & low) | ((odd & low) << 4),
                                mask_of_both(vsliq_n_u8(z, z, 4)));
  }

  INTSUM_ALWAYS_INLINE static classes classify(const quad& v, const constants& k) {
    quad code;
    each4([&](auto j) { code.val[j] = vqtbl3q_u8(k.classes, veorq_u8(v.val[j], vdupq_n_u8(class_index))); });
    return classes_of_codes(code, k);
  }
  INTSUM_ALWAYS_INLINE static classes classify(const unsigned char* p, const constants& k) {
    return classify(vld4q_u8(p), k);
  }

  // The runs of each group's pairs, a and b, exact up to 15: the first gap
  // at or after each group is a min-scan of the next four lanes, past the
  // block's end that of the next block, 64 + next_run on.
  struct pair_runs {
    uint8x16_t a, b;
  };
  INTSUM_ALWAYS_INLINE static pair_runs pair_runs_of(uint8x16_t live, unsigned next_run, const constants& k) {
    const uint8x16_t gap = vqaddq_u8(k.look_up(first_gap, live), k.group);
    const uint8x16_t beyond = vdupq_n_u8(static_cast<std::uint8_t>(block_bytes + next_run));
    uint8x16_t after = vextq_u8(gap, beyond, 1);
    after = vminq_u8(after, vextq_u8(after, beyond, 1));
    after = vminq_u8(after, vextq_u8(after, beyond, 2));
    // The run of byte 4i + 3 when it is a digit; pair a ends two bytes before.
    const uint8x16_t last = vsubq_u8(after, k.last);
    return {vminq_u8(vaddq_u8(last, k.two), k.look_up(run_a, live)), vminq_u8(last, k.look_up(run_b, live))};
  }

  // The products of signed pairs and weight bytes of one block. At most 2
  // products of 99 * 128 in each 16-bit lane; byte 3 is needed only mod 2^8.
  static_assert(2 * 99 * 128 <= 0x7fff, "a block's products overflow 16 bits");
  INTSUM_ALWAYS_INLINE static void add_products(accumulators& acc, int8x16_t a, int8x16_t b,
                                                const pair_runs& r, const constants& k) {
    int8x16_t wa[4], wb[4];
    each4([&](auto i) {
      wa[i] = vqtbl1q_s8(k.weight_by_run[i], r.a);
      wb[i] = vqtbl1q_s8(k.weight_by_run[i], r.b);
    });
#if defined(__ARM_FEATURE_DOTPROD)
    // A dot product is one instruction where the plain multiplies take
    // four and a half: it is what brings the sum under 26 cycles a block on
    // the V2's model and 40 on the N2's (docs/performance.md).
    acc.byte0 = vdotq_s32(vdotq_s32(acc.byte0, a, wa[0]), b, wb[0]);
    acc.byte1 = vdotq_s32(vdotq_s32(acc.byte1, a, wa[1]), b, wb[1]);
    acc.byte2 = vdotq_s32(vdotq_s32(acc.byte2, a, wa[2]), b, wb[2]);
    acc.byte3 = vdotq_s32(vdotq_s32(acc.byte3, a, wa[3]), b, wb[3]);
#else
    auto low = [&](int i) {
      return vmlal_s8(vmull_s8(vget_low_s8(a), vget_low_s8(wa[i])), vget_low_s8(b), vget_low_s8(wb[i]));
    };
    auto high = [&](int i) { return vmlal_high_s8(vmull_high_s8(a, wa[i]), b, wb[i]); };
    acc.byte0 = vpadalq_s16(vpadalq_s16(acc.byte0, low(0)), high(0));
    acc.byte1 = vpadalq_s16(vpadalq_s16(acc.byte1, low(1)), high(1));
    acc.byte2 = vmlal_high_s8(vmlal_high_s8(vmlal_s8(vmlal_s8(acc.byte2, vget_low_s8(a), vget_low_s8(wa[2])),
                                                     vget_low_s8(b), vget_low_s8(wb[2])),
                                            a, wa[2]),
                              b, wb[2]);
    acc.byte3 = vmlaq_s8(vmlaq_s8(acc.byte3, a, wa[3]), b, wb[3]);
#endif
  }

  // Whether a run of digits is longer than the lookups weigh: in the block,
  // or from its last 16 bytes on into the next (runs_over, weights.h, in
  // fewer steps).
  INTSUM_ALWAYS_INLINE static bool runs_over_lookups(const block_plan& plan) {
    static_assert(looked_up_runs == 15);
    const std::uint64_t across = (plan.digit >> 48) | (plan.next_digit << 16);
    return (runs_of<16>(plan.digit) | runs_of<16>(across)) != 0;
  }

  // Digits by a saturating subtraction are 0 for every byte below '0',
  // white space and signs among them, so that in a block with no stop, where
  // no byte is above '9', a pair needs no mask: `ends` says whether the list
  // ends in the block.
  INTSUM_ALWAYS_INLINE static quad digits_of(const quad& v, const constants& k) {
    quad d;
    each4([&](auto j) { d.val[j] = vqsubq_u8(v.val[j], k.zero_char); });
    return d;
  }

  INTSUM_ALWAYS_INLINE static void weigh(quad d, const unsigned char* p, const block_plan& plan, bool ends,
                                         accumulators& acc, const constants& k) {
    if (plan.live == 0) return;
    if (runs_over_lookups(plan)) [[unlikely]] {
      add_weighed_in_words(acc, weigh_in_words(p, plan));
      return;
    }
    const uint8x16_t live = k.nibbles_of(plan.live), negative = k.spread(plan.negative);
    if (ends) [[unlikely]] {
      d.val[1] = vandq_u8(d.val[1], k.look_up(second_a, live));
      d.val[3] = vandq_u8(d.val[3], k.look_up(second_b, live));
    }
    // A group's pairs: bytes 0 and 1, and 2 and 3, as values of up to two
    // digits with their integer's sign; 0 where the pair has no live digit.
    auto pair = [&](uint8x16_t first, uint8x16_t second, nibble_table f, uint8x16_t bits) {
      const uint8x16_t value = vmlaq_u8(second, first, k.look_up(f, live));
      const uint8x16_t minus = vtstq_u8(negative, bits);
      return vreinterpretq_s8_u8(vsubq_u8(veorq_u8(value, minus), minus));
    };
    const int8x16_t a = pair(d.val[0], d.val[1], first_a, k.pair_a);
    const int8x16_t b = pair(d.val[2], d.val[3], first_b, k.pair_b);
    add_products(acc, a, b, pair_runs_of(live, plan.next_run(), k), k);
  }

  // The fold converts blocks of integers of up to two digits from every
  // byte at once (values.h), those of up to 16 four at a time in lanes
  // (lane_values.h), the others in words.
  static constexpr unsigned converted_digits = 16;
  INTSUM_ALWAYS_INLINE static void convert(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch, const constants& k) {
    if (has_run<3>(plan.live)) return convert_in_lanes(p, plan, at, batch, k.lanes, k.zero_char);
    convert_two_digits(p, plan, at, batch, k);
  }
  // Only the values at live integers' last digits are read, and each takes
  // the byte before it: a live digit, or the byte before a live integer,
  // which is below '0' (a byte above '9' there would have ended the list),
  // so the digits by a saturating subtraction need no mask.
  INTSUM_ALWAYS_INLINE static void convert_two_digits(const unsigned char* p, const block_plan& plan,
                                                      const integer_ends& at, value_batch& batch,
                                                      const constants& k) {
    const quad v = digits_of(vld4q_u8(p), k), minus = k.expand(plan.negative);
    quad d;
    each4([&](auto j) { d.val[j] = vsubq_u8(veorq_u8(v.val[j], minus.val[j]), minus.val[j]); });
    convert_values_of_two(quad_bytes{}, d, at, plan.negative, batch);
  }

  static std::uint32_t total(const accumulators& acc) {
#if defined(__ARM_FEATURE_DOTPROD)
    using plane2 = std::int32_t;
    using plane3 = std::int32_t;
#else
    using plane2 = std::int16_t;
    using plane3 = std::int8_t;
#endif
    return sum_of_lanes<std::int32_t>(acc.byte0) + (sum_of_lanes<std::int32_t>(acc.byte1) << 8) +
           (sum_of_lanes<plane2>(acc.byte2) << 16) + (sum_of_lanes<plane3>(acc.byte3) << 24);
  }
};

// run_blocks (chunk.h) as a pipeline: while a block is weighed (or
// converted), the next is planned and the one after it loaded and
// classified, so that the chain from a block's bytes to its plan, through
// the general registers and back, overlaps the weighing of the blocks before
// it. Each block is loaded once; the sum weighs the digits it took then.
template <class Pass>
struct neon_pipeline {
  typename Pass::work& work;
  const neon_blocks::constants& k;
  carry_bits& carry;
  const unsigned char* p;  // the block to run
  std::size_t left;        // blocks to run from p on; the one after them is readable
  plan_and_stop planned;   // the plan of the block at p

  // Runs the block at p, whose digits are `now` and the classes of whose
  // next block are `next`; loads the block after that into `after`. True
  // when the list ends in it.
  INTSUM_ALWAYS_INLINE bool step(const quad& now, const classes& next, quad& after, classes& after_classes) {
    plan_and_stop next_plan{};
    if (left > 1) {
      const quad v = vld4q_u8(p + 2 * block_bytes);
      after = neon_blocks::digits_of(v, k);
      after_classes = neon_blocks::classify(v, k);
      next_plan = plan_block(next, after_classes.digit, carry);
    }
    if constexpr (Pass::folds)
      Pass::take(p, planned.p, work, k);
    else
      neon_blocks::weigh(now, p, planned.p, planned.stop != 0, work, k);
    if (planned.stop != 0) return true;
    planned = next_plan;
    p += block_bytes;
    --left;
    return false;
  }
};

// Three blocks a round, the digits of each in the registers of the one
// three before it, so that no vector moves from register to register.
template <class Pass>
INTSUM_ALWAYS_INLINE bool run_neon_blocks(const unsigned char* p, std::size_t count, carry_bits& carry,
                                          typename Pass::work& work, const neon_blocks::constants& k) {
  if (count == 0) return false;
  const quad first = vld4q_u8(p), second = vld4q_u8(p + block_bytes);
  quad a = neon_blocks::digits_of(first, k), b = neon_blocks::digits_of(second, k), c;
  classes ca = neon_blocks::classify(first, k), cb = neon_blocks::classify(second, k), cc;
  neon_pipeline<Pass> run{work, k, carry, p, count, plan_block(ca, cb.digit, carry)};
  while (run.left >= 3) {
    if (run.step(a, cb, c, cc) || run.step(b, cc, a, ca) || run.step(c, ca, b, cb)) return true;
  }
  if (run.left == 0) return false;
  if (run.step(a, cb, c, cc)) return true;
  return run.left != 0 && run.step(b, cc, a, ca);
}

template <class Pass>
INTSUM_ALWAYS_INLINE chunk_result run_neon_chunk(typename Pass::carry_type& c, const unsigned char* p,
                                                 std::size_t n, bool eof) {
  const auto blocks = [](const unsigned char* q, std::size_t count, carry_bits& t, auto& w, const auto& k) {
    return run_neon_blocks<Pass>(q, count, t, w, k);
  };
  return run_chunk_with<Pass>(c, p, n, eof, blocks, blocks);
}

}  // namespace
}  // namespace intsum
