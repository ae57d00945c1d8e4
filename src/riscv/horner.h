// Integers' values in vector lanes, the way Horner's rule takes digits but
// a power of two of them at a step (docs/design.md, "RVV"): each digit with
// the one before it, then each pair with the pair before it, then fours and
// eights, within a run of digits. After k steps a run's last digit holds
// the value of its last 2^k digits, however the runs lie in the block, with
// no lookup and no data moved between lanes but by slides.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#include "block/rules.h"
#include "riscv/vectors.h"

namespace intsum {
namespace block {
namespace {

// The block's live digits, signed, and 0 in every other byte.
template <int R>
INTSUM_ALWAYS_INLINE typename block_vectors<R>::i8 signed_digits(const unsigned char* p,
                                                                 const block_plan& plan) {
  using V = block_vectors<R>;
  const typename V::i8 digit = V::as_signed(__riscv_vsub(V::load(p), '0', lanes));
  const typename V::i8 live = __riscv_vmerge(V::zero8(), digit, V::mask_of(plan.live), lanes);
  return __riscv_vrsub_mu(V::mask_of(plan.negative), live, live, 0, lanes);
}

// Bit i of `steps[k]`: whether the 2^k bytes before byte i are live digits,
// so that byte i may take the value 2^k places back. Lanes that are not
// digits hold values of no use, so each step asks for every byte between;
// and no step takes a lane from before the block, so the lanes that slides
// leave at the bottom are never read.
struct horner_steps {
  std::uint64_t steps[4];
};

INTSUM_ALWAYS_INLINE horner_steps horner_steps_of(std::uint64_t live) {
  const std::uint64_t two = live & (live << 1), four = two & (two << 2), eight = four & (four << 4);
  return {{live << 1, two << 1, four << 1, eight << 1}};
}

// The 32-bit steps, on half h of the block's lanes: fours to eights, then
// eights to sixteens with Digits 16.
template <int R, unsigned Digits, class Emit>
INTSUM_ALWAYS_INLINE void wide_steps(typename block_vectors<R>::i16 fours, const horner_steps& s,
                                     Emit& emit) {
  using V = block_vectors<R>;
  constexpr std::size_t n = half_lanes<R>;
  const typename V::i16 back = __riscv_vslideup(V::undefined16(), fours, 4, lanes);
  auto eights = [&](int h) {
    return __riscv_vwmacc_mu(V::half_mask_of(s.steps[2] >> (h * n)), __riscv_vwcvt_x(V::half(fours, h), n),
                             std::int16_t{10000}, V::half(back, h), n);
  };
  const typename V::i32 low = eights(0);
  typename V::i32 high = low;
  if constexpr (V::halves == 2) high = eights(1);
  if constexpr (Digits <= 8) {
    emit(low, 0);
    if constexpr (V::halves == 2) emit(high, n);
  } else {
    const typename V::i32 low_back = __riscv_vslideup(V::undefined32(), low, 8, n);
    emit(__riscv_vmacc_mu(V::half_mask_of(s.steps[3]), low, 100000000, low_back, n), 0);
    if constexpr (V::halves == 2) {
      // The first lanes of the high half take the value 8 places back from
      // the top of the low half.
      const typename V::i32 high_back = __riscv_vslideup(__riscv_vslidedown(low, n - 8, n), high, 8, n);
      emit(__riscv_vmacc_mu(V::half_mask_of(s.steps[3] >> n), high, 100000000, high_back, n), n);
    }
  }
}

// The value of every run of live digits of up to Digits (2, 4, 8 or 16)
// digits, signed, at its last digit, as though the block held all of it.
// emit(v, first) takes them: v is the block's 8-bit, 16-bit or 32-bit
// lanes from lane `first` on, or half of them (block_vectors::halves).
template <int R, unsigned Digits, class Emit>
INTSUM_ALWAYS_INLINE void values_at_ends(typename block_vectors<R>::i8 digits, std::uint64_t live,
                                         Emit&& emit) {
  using V = block_vectors<R>;
  static_assert(Digits == 2 || Digits == 4 || Digits == 8 || Digits == 16);
  // Values of up to two digits fit a byte.
  const typename V::i8 pairs =
      __riscv_vmacc(digits, std::int8_t{10}, __riscv_vslide1up(digits, 0, lanes), lanes);
  if constexpr (Digits == 2) {
    emit(pairs, 0);
  } else {
    const horner_steps s = horner_steps_of(live);
    const typename V::i16 fours =
        __riscv_vwmacc_mu(V::mask_of(s.steps[1]), __riscv_vwcvt_x(pairs, lanes), std::int8_t{100},
                          __riscv_vslideup(V::undefined8(), pairs, 2, lanes), lanes);
    if constexpr (Digits == 4)
      emit(fours, 0);
    else
      wide_steps<R, Digits>(fours, s, emit);
  }
}

// Calls f(std::integral_constant<unsigned, Digits>) for the least Digits of
// values_at_ends that takes the block's longest run of live digits, at
// most 16.
template <class F>
INTSUM_ALWAYS_INLINE void by_longest_run(std::uint64_t live, F&& f) {
  if (!has_run<3>(live))
    f(std::integral_constant<unsigned, 2>{});
  else if (!has_run<5>(live))
    f(std::integral_constant<unsigned, 4>{});
  else if (!has_run<9>(live))
    f(std::integral_constant<unsigned, 8>{});
  else
    f(std::integral_constant<unsigned, 16>{});
}

// The values of the lanes at `ends`, in order, widened to 32 bits from
// `out` on, where a block takes four 128-bit registers: vcompress packs
// them, and a store writes them all. emit(v, first) for values_at_ends:
// the halves of 32-bit lanes come low half first.
struct compressed_values {
  std::uint64_t ends;
  std::uint32_t* out;

  template <class Values>
  INTSUM_ALWAYS_INLINE void operator()(Values v, std::size_t first) {
    using V = block_vectors<4>;
    // A block has at most 32 integers, so the packed values take half the
    // lanes, widened a group of eight registers.
    constexpr std::size_t most = lanes / 2;
    if constexpr (std::is_same_v<Values, V::i8>) {
      const V::mask at = V::mask_of(ends);
      const std::size_t n = __riscv_vcpop(at, lanes);
      const vint8m2_t packed = __riscv_vget_v_i8m4_i8m2(__riscv_vcompress(v, at, lanes), 0);
      __riscv_vse32(reinterpret_cast<std::int32_t*>(out), __riscv_vwcvt_x(__riscv_vwcvt_x(packed, n), n), n);
    } else if constexpr (std::is_same_v<Values, V::i16>) {
      const V::mask at = V::mask_of(ends);
      const std::size_t n = __riscv_vcpop(at, lanes);
      const vint16m4_t packed = __riscv_vget_v_i16m8_i16m4(__riscv_vcompress(v, at, lanes), 0);
      __riscv_vse32(reinterpret_cast<std::int32_t*>(out), __riscv_vwcvt_x(packed, n), n);
    } else {
      const V::half_mask at = V::half_mask_of(ends >> first);
      const std::size_t n = __riscv_vcpop(at, most);
      __riscv_vse32(reinterpret_cast<std::int32_t*>(out), __riscv_vcompress(v, at, most), n);
      out += n;
    }
  }
};

// The same where a block takes one or two registers: each value stored at
// its rank among the ends (viota), by an indexed store, which the X280 runs
// on its store unit while its vector unit goes on, where vcompress would
// keep that unit an element a cycle.
template <int R>
struct scattered_values {
  std::uint64_t ends;
  std::uint32_t* out;

  template <class Values>
  INTSUM_ALWAYS_INLINE void operator()(Values v, std::size_t) {
    using V = block_vectors<R>;
    typename V::i32 x;
    if constexpr (std::is_same_v<Values, typename V::i8>)
      x = __riscv_vwcvt_x(__riscv_vwcvt_x(v, lanes), lanes);
    else if constexpr (std::is_same_v<Values, typename V::i16>)
      x = __riscv_vwcvt_x(v, lanes);
    else
      x = v;
    const typename V::mask at = V::mask_of(ends);
    // Byte offsets: a block has at most 32 integers.
    const typename V::u8 offset = __riscv_vsll(V::ranks(at), 2, lanes);
    __riscv_vsuxei8(at, reinterpret_cast<std::int32_t*>(out), offset, x, lanes);
  }
};

}  // namespace
}  // namespace block
}  // namespace intsum
