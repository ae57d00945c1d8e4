// Integers of up to 16 digits converted four at a time, for the fold
// (docs/design.md, "NEON"): each integer's last 16 bytes in a vector of
// their own, multiplied by a row of a table that clears the bytes of the
// integer before it and gives its pairs of digits and its sign at once, then
// by multiplies and pairwise adds until the four values share one vector.
#pragma once

#include <arm_neon.h>

#include <cstdint>

#include "block/lane_rows.h"
#include "block/values.h"

namespace intsum {
namespace neon {
namespace {

using namespace block;

// The vectors of the conversion, made once a chunk (neon_blocks::constants)
// rather than in each block; keep() hides them from the optimizer, which
// would otherwise rebuild them in every block.
struct lane_constants {
#if defined(__ARM_FEATURE_DOTPROD)
  int8x16_t hundred_hundred_one_one = vreinterpretq_s8_s32(vdupq_n_s32(0x01016464));
  // The places of an integer's fours, first to last, mod 2^32.
  int32x4_t places = {static_cast<std::int32_t>(ten_to.of[12]), static_cast<std::int32_t>(ten_to.of[8]),
                      static_cast<std::int32_t>(ten_to.of[4]), 1};
  INTSUM_ALWAYS_INLINE void keep() { opaque(hundred_hundred_one_one, places); }
#else
  int16x8_t hundred_one = vreinterpretq_s16_s32(vdupq_n_s32(0x00010064));
  int16x4_t ten_thousand = vdup_n_s16(10000);
  int32x4_t powers = {10000, 100000000, 0, 0};
  INTSUM_ALWAYS_INLINE void keep() { opaque(hundred_one, ten_thousand, powers); }
#endif
};

#if defined(__ARM_FEATURE_DOTPROD)
// With the dot products each integer's pairs become its fours, up to 9999
// either way, in one instruction: 100 times the first pair of each four
// bytes plus the second. The steps after it are then on 32-bit lanes.
INTSUM_ALWAYS_INLINE int32x4_t fours(int8x16_t x, const lane_constants& k) {
  return vdotq_s32(vdupq_n_s32(0), x, k.hundred_hundred_one_one);
}

// Each four times its place, 10^12, 10^8, 10^4 or 1 mod 2^32: pairwise
// adds then give each integer's value, in fewer steps and a shorter chain
// than eights by 10^4 and values by 10^8 from lanes unzipped.
INTSUM_ALWAYS_INLINE int32x4_t placed(int8x16_t x, const lane_constants& k) {
  return vmulq_s32(fours(x, k), k.places);
}

// Four integers' signed pairs of digits, each vector's last bytes, to
// their values mod 2^32, in order.
INTSUM_ALWAYS_INLINE int32x4_t four_values(int8x16_t x0, int8x16_t x1, int8x16_t x2, int8x16_t x3,
                                           const lane_constants& k) {
  return vpaddq_s32(vpaddq_s32(placed(x0, k), placed(x1, k)), vpaddq_s32(placed(x2, k), placed(x3, k)));
}

// The same for two integers.
INTSUM_ALWAYS_INLINE int32x2_t two_values(int8x16_t x0, int8x16_t x1, const lane_constants& k) {
  const int32x4_t halves = vpaddq_s32(placed(x0, k), placed(x1, k));
  return vpadd_s32(vget_low_s32(halves), vget_high_s32(halves));
}
#else
// Pairs, up to 99 either way, then fours, up to 9999: a's then b's.
INTSUM_ALWAYS_INLINE int16x8_t fours(int8x16_t a, int8x16_t b, const lane_constants& k) {
  return vpaddq_s16(vmulq_s16(vpaddlq_s8(a), k.hundred_one), vmulq_s16(vpaddlq_s8(b), k.hundred_one));
}

// Four integers' signed pairs of digits, each vector's last bytes, to
// their values mod 2^32, in order.
INTSUM_ALWAYS_INLINE int32x4_t four_values(int8x16_t x0, int8x16_t x1, int8x16_t x2, int8x16_t x3,
                                           const lane_constants& k) {
  const int16x8_t f01 = fours(x0, x1, k), f23 = fours(x2, x3, k);
  // Eights: 10^4 times each even four plus the odd four after it.
  const int16x8_t even = vuzp1q_s16(f01, f23), odd = vuzp2q_s16(f01, f23);
  const int32x4_t e01 = vmlal_lane_s16(vmovl_s16(vget_low_s16(odd)), vget_low_s16(even), k.ten_thousand, 0);
  const int32x4_t e23 = vmlal_high_lane_s16(vmovl_high_s16(odd), even, k.ten_thousand, 0);
  return vmlaq_laneq_s32(vuzp2q_s32(e01, e23), vuzp1q_s32(e01, e23), k.powers, 1);
}

// The same for two integers.
INTSUM_ALWAYS_INLINE int32x2_t two_values(int8x16_t x0, int8x16_t x1, const lane_constants& k) {
  const int16x8_t f01 = fours(x0, x1, k);
  const int16x4_t even = vget_low_s16(vuzp1q_s16(f01, f01)), odd = vget_low_s16(vuzp2q_s16(f01, f01));
  const int32x4_t e01 = vmlal_lane_s16(vmovl_s16(odd), even, k.ten_thousand, 0);
  const int32x2_t e0 = vget_low_s32(e01), e1 = vget_high_s32(e01);
  return vmla_laneq_s32(vuzp2_s32(e0, e1), vuzp1_s32(e0, e1), k.powers, 1);
}
#endif

// An integer's signed pairs of digits.
INTSUM_ALWAYS_INLINE int8x16_t lane_pairs(lane_integer x, uint8x16_t zero_char) {
  return vmulq_s8(vreinterpretq_s8_u8(vqsubq_u8(vld1q_u8(x.bytes), zero_char)), vld1q_s8(x.row));
}

// Converts the integers of a block whose digit runs are at most 16 long
// into the batch, four at a time and the last one or two in a pair; the
// last four may write past them.
template <bool FirstOfRun>
INTSUM_ALWAYS_INLINE void convert_lanes(const unsigned char* p, const block_plan& plan,
                                        const integer_ends& at, value_batch& batch, const lane_constants& k,
                                        uint8x16_t zero_char) {
  alignas(16) unsigned char front[32] = {};
  auto integers = lane_cursor<FirstOfRun>::over(p, front, at.ends, plan.negative);
  const auto count = static_cast<unsigned>(std::popcount(at.ends));
  std::uint32_t* const out = batch.value + batch.count;
  unsigned i = 0;
  for (; i + 2 < count; i += 4) {
    const int8x16_t x0 = lane_pairs(integers.next(), zero_char), x1 = lane_pairs(integers.next(), zero_char);
    const int8x16_t x2 = lane_pairs(integers.next(), zero_char), x3 = lane_pairs(integers.next(), zero_char);
    vst1q_u32(out + i, vreinterpretq_u32_s32(four_values(x0, x1, x2, x3, k)));
  }
  if (i < count) {
    const int8x16_t x0 = lane_pairs(integers.next(), zero_char), x1 = lane_pairs(integers.next(), zero_char);
    vst1_u32(out + i, vreinterpret_u32_s32(two_values(x0, x1, k)));
  }
  take_converted(batch, out, at, plan.negative);
}

// The same, reading before the block but for the first of a run.
INTSUM_ALWAYS_INLINE void convert_in_lanes(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch,
                                           const lane_constants& k, uint8x16_t zero_char) {
  if (p == batch.run) [[unlikely]]
    return convert_lanes<true>(p, plan, at, batch, k, zero_char);
  convert_lanes<false>(p, plan, at, batch, k, zero_char);
}

}  // namespace
}  // namespace neon
}  // namespace intsum
