// The sum where a block takes four 128-bit registers (docs/design.md,
// "RVV"): every live digit weighed by its place, as the NEON kernel does,
// one 16-byte register at a time, the weights' four bytes each a table
// lookup (vrgather) and a widening multiply-add. A digit's place, the
// number of digits after it in its integer, is the distance to the first
// byte after it that is no live digit, which viota, vcompress and vrgather
// find for all bytes at once.
#pragma once

#include <cstdint>
#include <type_traits>

#include "block/weights.h"
#include "riscv/vectors.h"

namespace intsum {
namespace block {
namespace {

// Byte b of 10^t mod 2^32 at entry t, for a digit with t digits after it in
// its integer; entry 15, for the bytes that are not live digits, is 0.
struct place_weights {
  alignas(16) unsigned char byte[4][16];
};

constexpr place_weights make_place_weights() {
  constexpr weight_planes by_run = make_weight_planes();
  place_weights w{};
  for (unsigned b = 0; b < 4; ++b)
    for (unsigned t = 0; t < 15; ++t) w.byte[b][t] = by_run.byte[b][t + 1];
  return w;
}

inline constexpr place_weights place_weights_table = make_place_weights();
inline constexpr unsigned no_place = 15;

// Whether a run of live digits has more than 15, those of the next block
// (`next_run`) included: then the tables do not reach.
INTSUM_ALWAYS_INLINE bool too_long(std::uint64_t live, unsigned next_run) {
  // The run at the top reaches down to byte 48 + next_run.
  return has_run<no_place + 1>(live) || (~live >> (48 + (next_run < no_place ? next_run : no_place))) == 0;
}

// Each piece of 16 bytes of the block, as a constant: vget takes one.
template <class F>
INTSUM_ALWAYS_INLINE void each_piece(F&& f) {
  f(std::integral_constant<int, 0>{});
  f(std::integral_constant<int, 1>{});
  f(std::integral_constant<int, 2>{});
  f(std::integral_constant<int, 3>{});
}

// The tables in registers, loaded once for a run of blocks.
struct plane_tables {
  const vuint8m1_t& byte0;
  const vuint8m1_t& byte1;
  const vuint8m1_t& byte2;
  const vuint8m1_t& byte3;
};

INTSUM_ALWAYS_INLINE vuint8m1_t load_table(int b) {
  return __riscv_vle8_v_u8m1(place_weights_table.byte[b], 16);
}

// Sums of signed digits times weight bytes, in 16 lanes. Bytes 0 and 1 of
// the weights are summed in 16 bits for a block (at most 4 products of
// 9 * 255 a lane) and then into `low`, 32 bits, byte 1 times 256; bytes
// 2 and 3 are needed only mod 2^16 and 2^8.
struct plane_sums {
  vint32m4_t& low;
  vint16m2_t& byte2;
  vint8m1_t& byte3;
};

// For each byte, the number of live digits after it in its run, or
// no_place for a byte that is no live digit.
INTSUM_ALWAYS_INLINE vuint8m4_t places_of(const block_plan& plan, unsigned next_run) {
  using V = block_vectors<4>;
  const V::mask other = V::mask_of(~plan.live);
  const vuint8m4_t byte = __riscv_vid_v_u8m4(lanes);
  // The place of each byte that is no live digit, in order; after the
  // last, the end of the run at the top, in the next block.
  const vuint8m4_t ends = __riscv_vcompress_tu(
      __riscv_vmv_v_x_u8m4(static_cast<std::uint8_t>(lanes + next_run), lanes), byte, other, lanes);
  const vuint8m4_t end = __riscv_vrgather(ends, __riscv_viota_m_u8m4(other, lanes), lanes);
  const vuint8m4_t place = __riscv_vsub(__riscv_vsub(end, byte, lanes), 1, lanes);
  return __riscv_vmerge(place, no_place, other, lanes);
}

// Adds the live digits of the block at p at their weights, for a block
// that is not too_long.
INTSUM_ALWAYS_INLINE void weigh_planes(const unsigned char* p, const block_plan& plan, unsigned next_run,
                                       const plane_tables& tables, const plane_sums& sums) {
  using V = block_vectors<4>;
  constexpr std::size_t n = lanes / 4;
  const vuint8m4_t place = places_of(plan, next_run);
  const vint8m4_t digit = V::as_signed(__riscv_vsub(V::load(p), '0', lanes));
  const vint8m4_t signed_digit = __riscv_vrsub_mu(V::mask_of(plan.negative), digit, digit, 0, lanes);
  vint16m2_t low0, low1;
  each_piece([&](auto j) {
    const vint8m1_t d = __riscv_vget_v_i8m4_i8m1(signed_digit, j);
    const vuint8m1_t at_place = __riscv_vget_v_u8m4_u8m1(place, j);
    auto weight = [&](const vuint8m1_t& table) { return __riscv_vrgather(table, at_place, n); };
    if constexpr (decltype(j)::value == 0) {
      low0 = __riscv_vwmulsu(d, weight(tables.byte0), n);
      low1 = __riscv_vwmulsu(d, weight(tables.byte1), n);
    } else {
      low0 = __riscv_vwmaccsu(low0, d, weight(tables.byte0), n);
      low1 = __riscv_vwmaccsu(low1, d, weight(tables.byte1), n);
    }
    sums.byte2 = __riscv_vwmaccsu(sums.byte2, d, weight(tables.byte2), n);
    sums.byte3 = __riscv_vmacc(sums.byte3, d, __riscv_vreinterpret_v_u8m1_i8m1(weight(tables.byte3)), n);
  });
  sums.low = __riscv_vwmacc(__riscv_vwadd_wv(sums.low, low0, n), std::int16_t{256}, low1, n);
}

INTSUM_ALWAYS_INLINE std::uint32_t planes_total(const plane_sums& sums) {
  constexpr std::size_t n = lanes / 4;
  auto lanes_sum = [](auto v, auto zero) {
    return static_cast<std::uint32_t>(__riscv_vmv_x(__riscv_vredsum(v, zero, n)));
  };
  return lanes_sum(sums.low, __riscv_vmv_v_x_i32m1(0, 1)) +
         (lanes_sum(sums.byte2, __riscv_vmv_v_x_i16m1(0, 1)) << 16) +
         (lanes_sum(sums.byte3, __riscv_vmv_v_x_i8m1(0, 1)) << 24);
}

}  // namespace
}  // namespace block
}  // namespace intsum
