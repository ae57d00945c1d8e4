// Integers of up to 16 digits converted in the 64-bit lanes of x86 vectors,
// as many at a time as a vector has lanes (docs/design.md, "Mark scan: AVX2
// and SSE4").
// Each integer's last 16 bytes are read as two words, the bytes before its
// first digit cleared, and each word's eight digits turned into a value in
// three multiply-adds.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "block/digits.h"
#include "block/values.h"
#include "x86/vectors.h"

namespace intsum {
namespace block {
namespace {

// One integer: its last 8 bytes and the 8 before them, as little-endian
// words, its length, and the place of its last digit in the block.
struct lane_integer {
  std::uint64_t low, high, length, end;
};

// Reads a block's integers one at a time, in order. Those that end in the
// block's first 15 bytes are read from a copy of its first 16 bytes with 16
// bytes before them, so that nothing before the block is read; past the last
// integer it reads the bytes after the block, whose lanes are not taken.
// Without `Masked`, the bytes before each integer's first digit are left for
// the vector to clear, and `end` for it to find the sign; with it, they are
// cleared here, and `end` becomes the sign, 0 or all ones.
struct lane_reader {
  const unsigned char* in_block;  // the 16 bytes that end at byte e start at in_block + e
  const unsigned char* in_front;  // the same, in the copy
  std::uint64_t ends, first, negative;

  template <bool Short, bool Masked>
  INTSUM_ALWAYS_INLINE lane_integer next() {
    const auto end = static_cast<unsigned>(std::countr_zero(ends));
    const auto length = end + 1 - static_cast<unsigned>(std::countr_zero(first));
    ends &= ends - 1;
    first &= first - 1;
    // Picked without a branch, which would often be mispredicted.
    const unsigned char* bytes = (end < 15 ? in_front : in_block) + end;
    const std::uint64_t low = load_le64(bytes + 8), high = Short ? 0 : load_le64(bytes);
    if constexpr (!Masked) return {low, high, length, end};
    return {low & digit_masks.low[length], high & digit_masks.high[length], length,
            0 - (negative >> (end & 63) & 1)};
  }
};

// The value of the digits in each 64-bit lane, the first in its lowest
// byte, in its low 32 bits: pairs, fours, then all eight.
template <class V>
INTSUM_ALWAYS_INLINE typename V::type eight_in_lanes(typename V::type bytes, typename V::type zero_char) {
  const typename V::type four =
      V::madd16(V::maddubs(V::subs_u8(bytes, zero_char), V::splat16(0x010a)), V::splat32(0x00010064));
  return V::add32(V::mul_u32(four, V::splat64(10000)), V::template srl64<32>(four));
}

// The signed values of the integers in x, one to a 64-bit lane. Where the
// vectors shift each lane by its own count (V::variable_shifts), they clear
// the bytes before each integer and find its sign themselves.
template <class V, bool Short>
INTSUM_ALWAYS_INLINE typename V::type lane_values(const lane_integer* x, std::uint64_t negative,
                                                  typename V::type zero_char) {
  using vec = typename V::type;
  auto lane = [x](std::uint64_t lane_integer::*word) {
    return V::gather64([&](unsigned j) { return x[j].*word; });
  };
  vec low = lane(&lane_integer::low), high = lane(&lane_integer::high), minus = lane(&lane_integer::end);
  if constexpr (V::variable_shifts) {
    // The first 64 - 8 min(length, 8) bits of the low word, and 128 - 8 length of the high, are dropped.
    const vec length = lane(&lane_integer::length), ones = V::splat64(~std::uint64_t{0});
    low = V::and_(low, V::sllv64(ones, V::sub64(V::splat64(64),
                                                V::template sll64<3>(V::min_u32(length, V::splat64(8))))));
    high = V::and_(high, V::sllv64(ones, V::sub64(V::splat64(128), V::template sll64<3>(length))));
    minus = V::sub64(V::zero(), V::and_(V::srlv64(V::splat64(negative), minus), V::splat64(1)));
  }
  vec value = eight_in_lanes<V>(low, zero_char);
  if constexpr (!Short)
    value = V::add32(value, V::mul_u32(eight_in_lanes<V>(high, zero_char), V::splat64(100000000)));
  return V::sub32(V::xor_(value, minus), minus);
}

// Converts the integers of a block whose digit runs are at most 16 long (8
// with `Short`) into the batch, from `out` on, a vector at a time; the last
// vector may write past them.
template <class V, bool Short>
INTSUM_ALWAYS_INLINE void convert_lanes(lane_reader& integers, unsigned count, std::uint32_t* out,
                                        typename V::type zero_char) {
  constexpr unsigned lanes = V::bytes / 8;
  for (unsigned i = 0; i < count; i += lanes) {
    lane_integer x[lanes];
    for (unsigned j = 0; j < lanes; ++j) x[j] = integers.template next<Short, !V::variable_shifts>();
    V::store_low32(out + i, lane_values<V, Short>(x, integers.negative, zero_char));
  }
}

// The integers of a block with digit runs of up to 16, at p, into the batch.
template <class V>
INTSUM_ALWAYS_INLINE void convert_in_lanes(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch,
                                           typename V::type zero_char) {
  alignas(32) unsigned char front[32] = {};
  std::memcpy(front + 16, p, 16);
  lane_reader integers{p - 15, front + 1, at.ends, at.first, plan.negative};
  const auto count = static_cast<unsigned>(std::popcount(at.ends));
  std::uint32_t* out = batch.value + batch.count;
  if (!has_run<9>(plan.live))
    convert_lanes<V, true>(integers, count, out, zero_char);
  else
    convert_lanes<V, false>(integers, count, out, zero_char);
  take_converted(batch, out, at, plan.negative);
}

}  // namespace
}  // namespace block
}  // namespace intsum
