// What every block kernel builds on: the 64-byte block, the masks of its
// bytes (bit i is byte i), and the helpers that keep the kernels' vectors in
// registers. The headers that kernels include have internal linkage
// throughout, so that each kernel's copy keeps its own target flags.
// docs/design.md tells the whole method.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/scan.h"

// The kernels are written in small functions that must all melt into their
// loops: a call would move the vectors through memory.
#define INTSUM_ALWAYS_INLINE [[gnu::always_inline]] inline

namespace intsum {
namespace block {
namespace {

inline constexpr std::size_t block_bytes = 64;
// Each block sees the digits of the next, so a chunk's last whole block
// waits for the next chunk, and with it the part-block after it.
inline constexpr std::size_t lookahead_bytes = block_bytes;
static_assert(max_tail == lookahead_bytes + block_bytes - 1,
              "what a chunk leaves is at most the lookahead and a part-block");

// The format's rules are written once for any mask type M: std::uint64_t
// for one block, or a vector with one block in each 64-bit lane
// (x86/avx512/lanes.h). Besides & | + - << >>, M has these; a vector type
// makes each one instruction.
INTSUM_ALWAYS_INLINE std::uint64_t and_not(std::uint64_t a, std::uint64_t b) { return a & ~b; }
INTSUM_ALWAYS_INLINE std::uint64_t and_not_and(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return a & ~b & c;
}
INTSUM_ALWAYS_INLINE std::uint64_t or_and(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return a | (b & c);
}
INTSUM_ALWAYS_INLINE std::uint64_t and_or(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return a & (b | c);
}
INTSUM_ALWAYS_INLINE std::uint64_t or_and_not(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return a | (b & ~c);
}
INTSUM_ALWAYS_INLINE std::uint64_t none_of(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return ~(a | b | c);
}

// Bit i: whether the mask has a run of N ones from bit i on: a run of
// half as many (rounded up) from i and from N - M places on. Runs of 3, 9
// and 17, which the kernels ask for side by side, share all their steps.
template <unsigned N>
INTSUM_ALWAYS_INLINE std::uint64_t runs_of(std::uint64_t m) {
  if constexpr (N <= 1) {
    return m;
  } else {
    constexpr unsigned half = (N + 1) / 2;
    const std::uint64_t r = runs_of<half>(m);
    return r & (r >> (N - half));
  }
}

// Whether the mask has a run of N ones.
template <unsigned N>
INTSUM_ALWAYS_INLINE bool has_run(std::uint64_t m) {
  return runs_of<N>(m) != 0;
}

// Whether some digit of a block lies more than N places from the end of its
// integer: a run of more than N digits in the block, or one at its top that
// goes on through the `next_run` digits at the start of the next block.
template <unsigned N>
INTSUM_ALWAYS_INLINE bool runs_over(std::uint64_t digit, unsigned next_run) {
  return has_run<N + 1>(digit) || static_cast<unsigned>(std::countl_one(digit)) + next_run > N;
}

// The sum of the lanes of the vector x, each a T, mod 2^32: a kernel's
// total, once a chunk.
template <class T, class V>
std::uint32_t sum_of_lanes(const V& x) {
  T lane[sizeof(V) / sizeof(T)];
  std::memcpy(lane, &x, sizeof x);
  std::uint32_t sum = 0;
  for (const T t : lane) sum += static_cast<std::uint32_t>(t);
  return sum;
}

// Hides values from the optimizer. Vector constants then stay in registers:
// otherwise GCC rebuilds them, a broadcast each, in every block.
template <class V>
INTSUM_ALWAYS_INLINE void opaque(V& v) {
#if defined(INTSUM_EMULATE_AVX512)
  __asm__("" : "+m"(v));  // the vectors are plain memory
#elif defined(__aarch64__)
  __asm__("" : "+w"(v));  // any SIMD register
#elif defined(__riscv)
  __asm__("" : "+vr"(v));  // a vector register group
#else
  __asm__("" : "+v"(v));
#endif
}

template <class... V>
INTSUM_ALWAYS_INLINE void opaque(V&... v) {
  (opaque<V>(v), ...);
}

}  // namespace
}  // namespace block
}  // namespace intsum
