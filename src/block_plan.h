// The format's rules for one 64-byte block, in bit arithmetic on masks of
// byte classes (bit i is byte i). Shared by the vector kernels; everything
// here has internal linkage, so each kernel's copy keeps its own target flags.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scan.h"

namespace intsum {
namespace block {

struct classes {
  std::uint64_t digit, minus, plus, space, comma;
  std::uint64_t blank;  // tab, newline, vertical tab, form feed, carriage return
};

struct plan {
  std::uint64_t live;      // digits that count: those before the end of the list
  std::uint64_t negative;  // digits of negative integers
  unsigned next_run;       // digits at the start of the next block, up to 64
};

// Weight of the digit i places from the end of its integer: 10^i mod 2^32.
// From 10^32 on (a multiple of 2^32) every weight is 0.
inline constexpr unsigned weighted_places = 32;

// Reads the block's classes given the state before it and the digit mask of
// the next block; leaves in `s` the state after it.
[[gnu::always_inline]] static inline plan plan_block(const classes& c, std::uint64_t next_digit,
                                                     scan_state& s) {
  const std::uint64_t d = c.digit;
  const std::uint64_t sign = c.minus | c.plus;
  const std::uint64_t sepchar = c.space | c.comma;
  const std::uint64_t other = ~(d | sign | sepchar | c.blank);

  // The last block's final byte, as a carry into bit 0.
  const std::uint64_t was_digit = s.at == phase::digits;
  const std::uint64_t was_sign = s.at == phase::sign;
  const std::uint64_t was_separator = s.at == phase::separator;
  const std::uint64_t was_negative = s.negative;

  // Spaces and commas count as a separator only in a run that directly
  // follows an integer; adding a start bit to a run clears the whole run.
  const std::uint64_t after_digit = (d << 1) | was_digit;
  const std::uint64_t run_start = sepchar & ~(sepchar << 1);
  const std::uint64_t separator_start = run_start & (after_digit | was_separator);
  const std::uint64_t separator = sepchar & ~(sepchar + separator_start);

  const std::uint64_t stray_comma = c.comma & ~separator;
  // A sign at the end of a block is checked against the next block's first
  // byte here, so a block never starts after a sign that has no digit.
  const std::uint64_t bare_sign = sign & ~((d >> 1) | (next_digit << 63));
  const std::uint64_t stop = other | stray_comma | bare_sign;

  // Negative integers: runs of digits right after a minus sign, or the
  // continuation of one from the last block.
  const std::uint64_t after_minus = (c.minus << 1) | (was_sign & was_negative);
  const std::uint64_t negative_start = (d & ~after_digit & after_minus) | (was_digit & was_negative & d);
  const std::uint64_t negative = d & ~(d + negative_start);

  // Branch-free, as the last byte's class is as good as random. stop - 1
  // keeps the bits below the first stop, or all of them when there is none.
  const plan p{d & (stop - 1) & ~stop, negative, static_cast<unsigned>(std::countr_one(next_digit))};
  const unsigned last = static_cast<unsigned>((d >> 63) * 3 | (sign >> 63) * 2 | (separator >> 63));
  s.at = stop != 0 ? phase::ended : static_cast<phase>(last);
  s.negative = ((negative | c.minus) >> 63) != 0;
  return p;
}

// The weight tables, one per byte of the 32-bit weight: entry r holds that
// byte of 10^(r-1) mod 2^32 for a digit whose run, counted from it to the
// end of its integer, is r long; 0 for r = 0 (no digit) and r > 32.
struct weight_planes {
  alignas(64) unsigned char byte[4][64];
};

static constexpr weight_planes make_weight_planes() {
  weight_planes w{};
  std::uint32_t power = 1;
  for (unsigned r = 1; r <= weighted_places; ++r, power *= 10)
    for (unsigned b = 0; b < 4; ++b) w.byte[b][r] = static_cast<unsigned char>(power >> (8 * b));
  return w;
}

// Runs a kernel over one chunk, a block at a time, each block seeing the
// digit mask of the next. `Kernel` provides:
//   constants                  vectors made once per chunk
//   accumulators               the running sums, in vector registers
//   digit_mask(p, k)           the digit mask of the block at p
//   sum_block(p, next, s, acc, k)  folds the block at p; true when the list ends
//   total(acc)                 the accumulated sum, mod 2^32
template <class Kernel>
[[gnu::always_inline]] static inline chunk_result sum_chunk(sum_carry& c, const unsigned char* p,
                                                            std::size_t n, bool eof) {
  if (c.state.at == phase::ended) return {n, true};
  const typename Kernel::constants k;
  typename Kernel::accumulators acc;
  scan_state s = c.state;
  std::size_t pos = 0;
  bool ended = false;
  for (; pos + 128 <= n; pos += 64)
    if ((ended = Kernel::sum_block(p + pos, Kernel::digit_mask(p + pos + 64, k), s, acc, k))) break;

  if (!ended) {
    // The bytes after the last whole block with a lookahead. At the end of
    // input they are padded with NULs, which end the list as the end of input
    // does. Otherwise they are padded with digits, which end nothing, to
    // learn whether the list ends within them: then no more need be read.
    alignas(64) unsigned char rest[192];
    std::memset(rest, eof ? 0 : '0', sizeof rest);
    std::memcpy(rest, p + pos, n - pos);
    scan_state trial_state = s;
    typename Kernel::accumulators trial = acc;
    for (std::size_t b = 0; !ended && b < n - pos; b += 64)
      ended = Kernel::sum_block(rest + b, Kernel::digit_mask(rest + b + 64, k), trial_state, trial, k);
    if (ended || eof) {
      s.at = phase::ended;
      acc = trial;
      ended = true;
    }
  }
  c.state = s;
  c.sum += Kernel::total(acc);
  return {ended ? n : pos, ended};
}

// Hides values from the optimizer. Vector constants then stay in registers:
// otherwise GCC rebuilds them, a broadcast each, in every block.
template <class V>
[[gnu::always_inline]] static inline void opaque(V& v) {
#if defined(__aarch64__)
  __asm__("" : "+w"(v));  // any SIMD register
#else
  __asm__("" : "+v"(v));
#endif
}

template <class... V>
[[gnu::always_inline]] static inline void opaque(V&... v) {
  (opaque<V>(v), ...);
}

}  // namespace block
}  // namespace intsum
