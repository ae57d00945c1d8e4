// The format's rules for one 64-byte block, in bit arithmetic on masks of
// byte classes (bit i is byte i). Shared by the vector kernels; everything
// here has internal linkage, so each kernel's copy keeps its own target flags.
//
// A kernel does the vector work of each block in two steps: it classifies the bytes
// into masks, and it weighs and sums the digits that count. Between the two,
// the rules here turn the masks into the digits that count and their signs;
// what a block passes to the next is two bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scan.h"

namespace intsum {
namespace block {

struct classes {
  std::uint64_t digit;
  std::uint64_t minus;
  std::uint64_t sign;       // minus or plus
  std::uint64_t separator;  // space or comma: may follow an integer
  std::uint64_t comma;
  std::uint64_t other;  // neither of those nor white space: ends the list

  // From one mask per byte value or range; `blank` is tab, newline, vertical
  // tab, form feed and carriage return.
  static classes of(std::uint64_t digit, std::uint64_t minus, std::uint64_t plus, std::uint64_t space,
                    std::uint64_t comma, std::uint64_t blank) {
    const std::uint64_t sign = minus | plus, separator = space | comma;
    return {digit, minus, sign, separator, comma, ~(digit | sign | separator | blank)};
  }

  // From four masks, where `tail` is minus, comma or blank: with sign and
  // separator it tells minus from plus and comma from space, and only "none
  // of the classes" counts of the blanks, so minus and comma may be among them.
  static classes of_tail(std::uint64_t digit, std::uint64_t separator, std::uint64_t sign,
                         std::uint64_t tail) {
    return of(digit, sign & tail, sign, separator, separator & tail, tail);
  }
};

// What the kernel's weighing part gets for one block.
struct plan {
  std::uint64_t digit;     // all digits of the block
  std::uint64_t live;      // digits that count: those before the end of the list
  std::uint64_t negative;  // digits of negative integers
  unsigned next_run;       // digits at the start of the next block, up to 64
};

// Weight of the digit i places from the end of its integer: 10^i mod 2^32.
// From 10^32 on (a multiple of 2^32) every weight is 0.
inline constexpr unsigned weighted_places = 32;

// What the bytes before a block leave it: whether a space or comma at its
// start follows an integer (the last byte was a digit or a separator), and
// whether digits at its start are negative (the last byte was a minus or a
// digit of a negative integer). Each is 0 or 1. Besides these, a sign at
// the end of a block needs a digit after it, which the block itself checks
// against the next block's first byte.
struct carry {
  std::uint64_t after_integer = 0;
  std::uint64_t negative = 0;
};

inline carry carry_from(const scan_state& s) {
  const bool digits = s.at == phase::digits;
  return {digits || s.at == phase::separator, (digits || s.at == phase::sign) && s.negative};
}

// The phases the carry stands for; those it merges (digits of a positive
// integer and a separator; a plus sign and white space) go on alike.
inline scan_state state_from(const carry& c) {
  scan_state s;
  s.at = c.after_integer ? (c.negative ? phase::digits : phase::separator)
                         : (c.negative ? phase::sign : phase::blank);
  s.negative = c.negative != 0;
  return s;
}

// Reads the block's classes given the carry from the block before it and
// the digit mask of the next block; leaves in `s` the carry after it. The
// list ends in the block where the plan's `stop` is not 0.
struct plan_and_stop {
  plan p;
  std::uint64_t stop;
};

[[gnu::always_inline]] static inline plan_and_stop plan_block(const classes& c, std::uint64_t next_digit,
                                                              carry& s) {
  const std::uint64_t d = c.digit, sep = c.separator;

  // Spaces and commas count as a separator only in a run that directly
  // follows an integer; adding a start bit to a run clears the whole run.
  const std::uint64_t run_start = sep & ~(sep << 1);
  const std::uint64_t separator = sep & ~(sep + (run_start & ((d << 1) | s.after_integer)));

  // A sign at the end of a block is checked against the next block's first
  // byte here, so a block never starts after a sign that has no digit.
  const std::uint64_t bare_sign = c.sign & ~((d >> 1) | (next_digit << 63));
  const std::uint64_t stop = c.other | (c.comma & ~separator) | bare_sign;

  // Negative integers: runs of digits right after a minus sign, or the
  // continuation of one from the last block (the run at byte 0).
  const std::uint64_t negative_start = (d & ~(d << 1) & (c.minus << 1)) | (d & s.negative);
  const std::uint64_t negative = d & ~(d + negative_start);

  s = {(d | separator) >> 63, (negative | c.minus) >> 63};
  // stop - 1 keeps the bits below the first stop, or all of them when there is none.
  return {{d, d & (stop - 1) & ~stop, negative, static_cast<unsigned>(std::countr_one(next_digit))}, stop};
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

// Runs `count` blocks from p, each seeing the classes of the next (so the
// block at p + 64 * count must be readable). True when the list ends.
template <class Kernel>
[[gnu::always_inline]] static inline bool sum_blocks(const unsigned char* p, std::size_t count, carry& s,
                                                     typename Kernel::accumulators& acc,
                                                     const typename Kernel::constants& k) {
  classes now = Kernel::classify(p, k);
  for (std::size_t b = 0; b < count; ++b, p += 64) {
    const classes next = Kernel::classify(p + 64, k);
    const plan_and_stop ps = plan_block(now, next.digit, s);
    Kernel::weigh(p, ps.p, acc, k);
    if (ps.stop != 0) return true;
    now = next;
  }
  return false;
}

// The end of a chunk whose whole blocks with a lookahead, up to pos, have
// been run (`ended` when the list ended in them). `run(p, count, s, acc)`
// runs `count` blocks from p as sum_blocks does.
template <class Kernel, class Run>
[[gnu::always_inline]] static inline chunk_result finish_chunk(sum_carry& c, const unsigned char* p,
                                                               std::size_t n, std::size_t pos, bool eof,
                                                               bool ended, carry s,
                                                               typename Kernel::accumulators& acc, Run run) {
  if (!ended) {
    // The bytes after the last whole block with a lookahead. At the end of
    // input they are padded with NULs, which end the list as the end of input
    // does. Otherwise they are padded with digits, which end nothing, to
    // learn whether the list ends within them: then no more need be read.
    alignas(64) unsigned char rest[192];
    std::memset(rest, eof ? 0 : '0', sizeof rest);
    std::memcpy(rest, p + pos, n - pos);
    carry trial_state = s;
    typename Kernel::accumulators trial = acc;
    ended = run(rest, (n - pos + 63) / 64, trial_state, trial);
    if (ended || eof) {
      acc = trial;
      ended = true;
    }
  }
  c.state = ended ? scan_state{phase::ended} : state_from(s);
  c.sum += Kernel::total(acc);
  return {ended ? n : pos, ended};
}

// Runs a kernel over one chunk with `run(p, count, s, acc, k)`, which runs
// `count` blocks from p as sum_blocks does, and `rest`, which does the same
// for the at most two blocks at the end of the chunk. `Kernel` provides:
//   constants                  vectors made once per chunk
//   accumulators               the running sums, in vector registers
//   total(acc)                 the accumulated sum, mod 2^32
// and what `run` and `rest` need of it.
template <class Kernel, class Run, class Rest>
[[gnu::always_inline]] static inline chunk_result sum_chunk_with(sum_carry& c, const unsigned char* p,
                                                                 std::size_t n, bool eof, Run run,
                                                                 Rest rest) {
  if (c.state.at == phase::ended) return {n, true};
  const typename Kernel::constants k;
  typename Kernel::accumulators acc;
  carry s = carry_from(c.state);
  // Whole blocks with a whole block after them.
  const std::size_t pos = n >= 128 ? (n - 64) / 64 * 64 : 0;
  const bool ended = pos != 0 && run(p, pos / 64, s, acc, k);
  return finish_chunk<Kernel>(c, p, n, pos, eof, ended, s, acc,
                              [&k, &rest](const unsigned char* q, std::size_t count, carry& t, auto& a) {
                                return rest(q, count, t, a, k);
                              });
}

// sum_chunk_with block by block. `Kernel` also provides:
//   classify(p, k)             the classes of the block at p
//   weigh(p, plan, acc, k)     adds the block's live digits at their weights
template <class Kernel>
[[gnu::always_inline]] static inline chunk_result sum_chunk(sum_carry& c, const unsigned char* p,
                                                            std::size_t n, bool eof) {
  const auto blocks = [](const unsigned char* q, std::size_t count, carry& t, auto& a, const auto& k) {
    return sum_blocks<Kernel>(q, count, t, a, k);
  };
  return sum_chunk_with<Kernel>(c, p, n, eof, blocks, blocks);
}

// Hides values from the optimizer. Vector constants then stay in registers:
// otherwise GCC rebuilds them, a broadcast each, in every block.
template <class V>
[[gnu::always_inline]] static inline void opaque(V& v) {
#if defined(INTSUM_EMULATE_AVX512)
  __asm__("" : "+m"(v));  // the vectors are plain memory
#elif defined(__aarch64__)
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
