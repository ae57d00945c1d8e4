// A block's bytes in RISC-V vector registers, for any vector length: the
// register group that holds 64 bytes, and a block's masks moved to and from
// a 64-bit word (docs/design.md, "RVV"). R is the number of registers a
// block takes: 4 where registers are 128 bits, 2 where they are 256, 1 from
// 512 on. Every operation sets its length to the block's 64 lanes (or to a
// part of it), so longer registers only leave lanes unused.
#pragma once

#include <riscv_vector.h>

#include <cstddef>
#include <cstdint>

#include "block/block.h"

namespace intsum {
namespace block {
namespace {

inline constexpr std::size_t lanes = block_bytes;

template <int R>
struct block_vectors;

// The e8 block is LMUL R, e16 2R, e32 4R; with R = 4 the block's 32-bit
// lanes take two groups of eight registers, each holding half the block
// (`i32` is such a half, of `half_lanes` lanes).
template <>
struct block_vectors<4> {
  using u8 = vuint8m4_t;
  using i8 = vint8m4_t;
  using i16 = vint16m8_t;
  using i16_half = vint16m4_t;
  using i32 = vint32m8_t;
  using mask = vbool2_t;
  using half_mask = vbool4_t;
  static constexpr int halves = 2;
  INTSUM_ALWAYS_INLINE static u8 load(const unsigned char* p) { return __riscv_vle8_v_u8m4(p, lanes); }
  // Each lane's number of set mask bits below it.
  INTSUM_ALWAYS_INLINE static u8 ranks(mask m) { return __riscv_viota_m_u8m4(m, lanes); }
  INTSUM_ALWAYS_INLINE static i8 undefined8() { return __riscv_vundefined_i8m4(); }
  INTSUM_ALWAYS_INLINE static i16 undefined16() { return __riscv_vundefined_i16m8(); }
  INTSUM_ALWAYS_INLINE static i32 undefined32() { return __riscv_vundefined_i32m8(); }
  INTSUM_ALWAYS_INLINE static i8 as_signed(u8 v) { return __riscv_vreinterpret_v_u8m4_i8m4(v); }
  INTSUM_ALWAYS_INLINE static i8 zero8() { return __riscv_vmv_v_x_i8m4(0, lanes); }
  INTSUM_ALWAYS_INLINE static i32 zero32() { return __riscv_vmv_v_x_i32m8(0, lanes / 2); }
  INTSUM_ALWAYS_INLINE static i16_half half(i16 v, int h) {
    return h == 0 ? __riscv_vget_v_i16m8_i16m4(v, 0) : __riscv_vget_v_i16m8_i16m4(v, 1);
  }
  INTSUM_ALWAYS_INLINE static mask mask_of(std::uint64_t bits) {
    return __riscv_vreinterpret_v_u8m1_b2(__riscv_vreinterpret_v_u64m1_u8m1(__riscv_vmv_s_x_u64m1(bits, 1)));
  }
  INTSUM_ALWAYS_INLINE static half_mask half_mask_of(std::uint64_t bits) {
    return __riscv_vreinterpret_v_u8m1_b4(__riscv_vreinterpret_v_u64m1_u8m1(__riscv_vmv_s_x_u64m1(bits, 1)));
  }
  INTSUM_ALWAYS_INLINE static std::uint64_t bits_of(mask m) {
    return __riscv_vmv_x_s_u64m1_u64(__riscv_vreinterpret_v_u8m1_u64m1(__riscv_vreinterpret_v_b2_u8m1(m)));
  }
};

template <>
struct block_vectors<2> {
  using u8 = vuint8m2_t;
  using i8 = vint8m2_t;
  using i16 = vint16m4_t;
  using i16_half = vint16m4_t;
  using i32 = vint32m8_t;
  using mask = vbool4_t;
  using half_mask = vbool4_t;
  static constexpr int halves = 1;
  INTSUM_ALWAYS_INLINE static u8 load(const unsigned char* p) { return __riscv_vle8_v_u8m2(p, lanes); }
  // Each lane's number of set mask bits below it.
  INTSUM_ALWAYS_INLINE static u8 ranks(mask m) { return __riscv_viota_m_u8m2(m, lanes); }
  INTSUM_ALWAYS_INLINE static i8 undefined8() { return __riscv_vundefined_i8m2(); }
  INTSUM_ALWAYS_INLINE static i16 undefined16() { return __riscv_vundefined_i16m4(); }
  INTSUM_ALWAYS_INLINE static i32 undefined32() { return __riscv_vundefined_i32m8(); }
  INTSUM_ALWAYS_INLINE static i8 as_signed(u8 v) { return __riscv_vreinterpret_v_u8m2_i8m2(v); }
  INTSUM_ALWAYS_INLINE static i8 zero8() { return __riscv_vmv_v_x_i8m2(0, lanes); }
  INTSUM_ALWAYS_INLINE static i32 zero32() { return __riscv_vmv_v_x_i32m8(0, lanes); }
  INTSUM_ALWAYS_INLINE static i16_half half(i16 v, int) { return v; }
  INTSUM_ALWAYS_INLINE static mask mask_of(std::uint64_t bits) {
    return __riscv_vreinterpret_v_u8m1_b4(__riscv_vreinterpret_v_u64m1_u8m1(__riscv_vmv_s_x_u64m1(bits, 1)));
  }
  INTSUM_ALWAYS_INLINE static half_mask half_mask_of(std::uint64_t bits) { return mask_of(bits); }
  INTSUM_ALWAYS_INLINE static std::uint64_t bits_of(mask m) {
    return __riscv_vmv_x_s_u64m1_u64(__riscv_vreinterpret_v_u8m1_u64m1(__riscv_vreinterpret_v_b4_u8m1(m)));
  }
};

template <>
struct block_vectors<1> {
  using u8 = vuint8m1_t;
  using i8 = vint8m1_t;
  using i16 = vint16m2_t;
  using i16_half = vint16m2_t;
  using i32 = vint32m4_t;
  using mask = vbool8_t;
  using half_mask = vbool8_t;
  static constexpr int halves = 1;
  INTSUM_ALWAYS_INLINE static u8 load(const unsigned char* p) { return __riscv_vle8_v_u8m1(p, lanes); }
  // Each lane's number of set mask bits below it.
  INTSUM_ALWAYS_INLINE static u8 ranks(mask m) { return __riscv_viota_m_u8m1(m, lanes); }
  INTSUM_ALWAYS_INLINE static i8 undefined8() { return __riscv_vundefined_i8m1(); }
  INTSUM_ALWAYS_INLINE static i16 undefined16() { return __riscv_vundefined_i16m2(); }
  INTSUM_ALWAYS_INLINE static i32 undefined32() { return __riscv_vundefined_i32m4(); }
  INTSUM_ALWAYS_INLINE static i8 as_signed(u8 v) { return __riscv_vreinterpret_v_u8m1_i8m1(v); }
  INTSUM_ALWAYS_INLINE static i8 zero8() { return __riscv_vmv_v_x_i8m1(0, lanes); }
  INTSUM_ALWAYS_INLINE static i32 zero32() { return __riscv_vmv_v_x_i32m4(0, lanes); }
  INTSUM_ALWAYS_INLINE static i16_half half(i16 v, int) { return v; }
  INTSUM_ALWAYS_INLINE static mask mask_of(std::uint64_t bits) {
    return __riscv_vreinterpret_v_u8m1_b8(__riscv_vreinterpret_v_u64m1_u8m1(__riscv_vmv_s_x_u64m1(bits, 1)));
  }
  INTSUM_ALWAYS_INLINE static half_mask half_mask_of(std::uint64_t bits) { return mask_of(bits); }
  INTSUM_ALWAYS_INLINE static std::uint64_t bits_of(mask m) {
    return __riscv_vmv_x_s_u64m1_u64(__riscv_vreinterpret_v_u8m1_u64m1(__riscv_vreinterpret_v_b8_u8m1(m)));
  }
};

// The lanes of one half of the block's 32-bit values.
template <int R>
inline constexpr std::size_t half_lanes = lanes / block_vectors<R>::halves;

}  // namespace
}  // namespace block
}  // namespace intsum
