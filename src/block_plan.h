// The format's rules for 64-byte blocks, in bit arithmetic on masks of byte
// classes (bit i is byte i), and the chunk driver that the vector kernels
// share. Everything here has internal linkage, so that each kernel's copy
// keeps its own target flags.
//
// A kernel does the vector work of each block in two steps: it classifies
// the bytes into masks, and it weighs and sums the digits that count.
// Between the two, the rules here turn the masks into the digits that count
// and their signs; what a block passes to the next is two bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scan.h"

namespace intsum {
namespace block {
namespace {  // each kernel keeps its own copy, built with its own target flags

inline constexpr std::size_t block_bytes = 64;
// Each block sees the digits of the next, so a chunk's last whole block
// waits for the next chunk, and with it the part-block after it.
inline constexpr std::size_t lookahead_bytes = block_bytes;
static_assert(max_tail == lookahead_bytes + block_bytes - 1,
              "what a chunk leaves is at most the lookahead "
              "and a part-block");

// What a byte is to the format: the one description from which the kernels
// build their class tables. White space is the space and other_white.
enum class byte_class : unsigned char { other, digit, minus, plus, space, comma, other_white };

static constexpr byte_class class_of(unsigned char c) {
  if (c >= '0' && c <= '9') return byte_class::digit;
  if (c >= '\t' && c <= '\r') return byte_class::other_white;
  switch (c) {
    case '-':
      return byte_class::minus;
    case '+':
      return byte_class::plus;
    case ' ':
      return byte_class::space;
    case ',':
      return byte_class::comma;
    default:
      return byte_class::other;
  }
}

// The rules below are written once for any mask type M: std::uint64_t for
// one block (bit i is byte i), or a vector with one block in each 64-bit
// lane (block_plan_avx512.h). Besides & | + - << >>, M has these; a vector
// type makes each one instruction.
[[gnu::always_inline]] static inline std::uint64_t and_not(std::uint64_t a, std::uint64_t b) {
  return a & ~b;
}
[[gnu::always_inline]] static inline std::uint64_t and_not_and(std::uint64_t a, std::uint64_t b,
                                                               std::uint64_t c) {
  return a & ~b & c;
}
[[gnu::always_inline]] static inline std::uint64_t or_and(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return a | (b & c);
}
[[gnu::always_inline]] static inline std::uint64_t and_or(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return a & (b | c);
}
[[gnu::always_inline]] static inline std::uint64_t or_and_not(std::uint64_t a, std::uint64_t b,
                                                              std::uint64_t c) {
  return a | (b & ~c);
}
[[gnu::always_inline]] static inline std::uint64_t none_of(std::uint64_t a, std::uint64_t b,
                                                           std::uint64_t c) {
  return ~(a | b | c);
}

// A carry into a block known to be 0, for the lanes that work out both cases.
struct no_carry {};
template <class M>
[[gnu::always_inline]] static inline M or_and(M a, M, no_carry) {
  return a;
}
template <class M>
[[gnu::always_inline]] static inline M and_or(M a, M b, no_carry) {
  return a & b;
}

template <class M>
struct basic_classes {
  M digit;
  M minus;
  M sign;       // minus or plus
  M separator;  // space or comma: may follow an integer
  M comma;
  M other;  // none of those, nor white space: ends the list

  [[gnu::always_inline]] static basic_classes of(M digit, M minus, M plus, M space, M comma, M other_white) {
    const M sign = minus | plus, separator = space | comma;
    return {digit, minus, sign, separator, comma, none_of(digit | other_white, sign, separator)};
  }

  // From four masks, where `tail` is minus, comma or other white space: with
  // sign and separator it tells minus from plus and comma from space, and
  // only "none of the classes" counts of the white space, so minus and comma
  // may be among it.
  [[gnu::always_inline]] static basic_classes of_tail(M digit, M separator, M sign, M tail) {
    return of(digit, sign & tail, sign, separator, separator & tail, tail);
  }
};

using classes = basic_classes<std::uint64_t>;

// What the rules make of a block's classes before the carries into it are
// known.
template <class M>
struct partial_rules {
  M before_digit;     // bytes with a digit after them
  M after_digit;      // bytes with a digit before them
  M separator_runs;   // first bytes of the runs of spaces and commas
  M negative_starts;  // first digits of the digit runs right after a minus
  M stops;            // other bytes, and signs with no digit after them
};

// `next_digit` holds the digits of the block after each block.
template <class M>
[[gnu::always_inline]] static inline partial_rules<M> partial_rules_of(const basic_classes<M>& c,
                                                                       M next_digit) {
  const M d = c.digit, before_digit = (d >> 1) | (next_digit << 63);
  return {before_digit, d << 1, and_not(c.separator, c.separator << 1), and_not_and(d, d << 1, c.minus << 1),
          or_and_not(c.other, c.sign, before_digit)};
}

// Spaces and commas count as a separator only in a run that directly
// follows an integer; adding a start bit to a run clears the whole run.
// `after_integer`: whether the block before ended in an integer or its
// separator, so that a run at byte 0 counts (1, or no_carry).
template <class M, class Carry>
[[gnu::always_inline]] static inline M separators(const basic_classes<M>& c, const partial_rules<M>& r,
                                                  Carry after_integer) {
  return and_not(c.separator, c.separator + and_or(r.separator_runs, r.after_digit, after_integer));
}

// The list ends at the first stop: an other byte, a sign with no digit
// after it, or a comma that no integer's separator run holds.
template <class M>
[[gnu::always_inline]] static inline M stops(const basic_classes<M>& c, const partial_rules<M>& r,
                                             M separator) {
  return or_and_not(r.stops, c.comma, separator);
}

// Digits of negative integers: runs right after a minus, and with
// `negative` the run at byte 0, going on from the block before.
template <class M, class Carry>
[[gnu::always_inline]] static inline M negatives(const basic_classes<M>& c, const partial_rules<M>& r,
                                                 Carry negative) {
  return and_not(c.digit, c.digit + or_and(r.negative_starts, c.digit, negative));
}

// The digits below the first stop.
template <class M>
[[gnu::always_inline]] static inline M live_digits(M digit, M stop) {
  return and_not_and(digit, stop, stop - M(1));
}

// What the bytes before a block leave it, in the top bit of these masks of
// the block before: whether a space or comma at its start follows an
// integer (the last byte was a digit or a separator), and whether digits at
// its start are negative (the last byte was a minus or a digit of a
// negative integer). A sign at the end of a block needs no carry: the block
// checks it against the next block's first byte.
template <class M>
[[gnu::always_inline]] static inline M passes_after_integer(const basic_classes<M>& c, M separator) {
  return c.digit | separator;
}
template <class M>
[[gnu::always_inline]] static inline M passes_negative(const basic_classes<M>& c, M negative) {
  return negative | c.minus;
}

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

// The carry from block to block, each 0 or 1 (passes_after_integer and
// passes_negative).
struct carry {
  std::uint64_t after_integer = 0;
  std::uint64_t negative = 0;
};

static inline carry carry_from(const scan_state& s) {
  const bool digits = s.at == phase::digits;
  return {digits || s.at == phase::separator, (digits || s.at == phase::sign) && s.negative};
}

// The phases the carry stands for; those it merges (digits of a positive
// integer and a separator; a plus sign and white space) go on alike.
static inline scan_state state_from(const carry& c) {
  scan_state s;
  s.at = c.after_integer ? (c.negative ? phase::digits : phase::separator)
                         : (c.negative ? phase::sign : phase::blank);
  s.negative = c.negative != 0;
  return s;
}

// A block's plan, and its stops: the list ends in it when they are not 0.
struct plan_and_stop {
  plan p;
  std::uint64_t stop;
};

// The rules for one block, given its classes, the digits of the next block
// and the carry from the block before; leaves in `s` the carry after it.
[[gnu::always_inline]] static inline plan_and_stop plan_block(const classes& c, std::uint64_t next_digit,
                                                              carry& s) {
  const partial_rules<std::uint64_t> r = partial_rules_of(c, next_digit);
  const std::uint64_t separator = separators(c, r, s.after_integer);
  const std::uint64_t stop = stops(c, r, separator);
  const std::uint64_t negative = negatives(c, r, s.negative);
  s = {passes_after_integer(c, separator) >> 63, passes_negative(c, negative) >> 63};
  return {{c.digit, live_digits(c.digit, stop), negative, static_cast<unsigned>(std::countr_one(next_digit))},
          stop};
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

// The integers' values, for combiners other than add: a kernel's weighing
// can instead take each integer's value from its digits, in file order, into
// a batch that the combiner is applied to from time to time. An integer may
// run on from block to block; its digits so far wait as `pending`.
struct value_batch {
  static constexpr unsigned capacity = 128;
  // Before a block, whose integers may add 32 values, the batch is applied
  // from this count on. A chunk's end, at most two blocks, then never fills it.
  static constexpr unsigned apply_from = capacity - 32;

  fold_carry* out;
  std::uint32_t pending = 0;  // the digits so far of the integer that goes on into the next block
  bool continuing = false;    // whether there is one
  unsigned count = 0;
  std::uint32_t value[capacity];

  [[gnu::noinline]] void apply() {
    unsigned i = 0;
    if (!out->any && count != 0) {
      out->result = static_cast<int>(value[0]);
      out->any = true;
      i = 1;
    }
    const combiner f = out->f;
    int r = out->result;
    for (; i < count; ++i) r = f(r, static_cast<int>(value[i]));
    out->result = r;
    count = 0;
  }
};

// 10^n mod 2^32, for n up to 64.
struct powers_of_ten {
  std::uint32_t of[65];
};

static constexpr powers_of_ten make_powers_of_ten() {
  powers_of_ten t{};
  std::uint32_t power = 1;
  for (unsigned n = 0; n <= 64; ++n, power *= 10) t.of[n] = power;
  return t;
}

inline constexpr powers_of_ten ten_to = make_powers_of_ten();

// Eight bytes as a little-endian word, whatever the CPU.
[[gnu::always_inline]] static inline std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

// The value of the eight digit values in the bytes of w, the first in the
// lowest byte.
[[gnu::always_inline]] static inline std::uint32_t eight_digits(std::uint64_t w) {
  w = (w * (10 * 256 + 1)) >> 8 & 0x00ff00ff00ff00ffu;
  w = (w * (100 * 65536 + 1)) >> 16 & 0x0000ffff0000ffffu;
  return static_cast<std::uint32_t>((w * (10000 * (std::uint64_t{1} << 32) + 1)) >> 32);
}

// The digit values of the `length` bytes from b, 1 to 8, as the last bytes
// of a word: those before them count as leading zeros. The bytes up to b + 7
// must be readable.
[[gnu::always_inline]] static inline std::uint64_t digits_at(const unsigned char* b, unsigned length) {
  // Exclusive or turns '0' to '9' into 0 to 9, with no borrow between bytes.
  return (load_le64(b) ^ 0x3030303030303030u) << (8 * (8 - length));
}

// The value mod 2^32 of the `length` digits from b: up to 8, or up to 16
// with `Long`. The 8 bytes from b, and from the last 8 digits, must be readable.
template <bool Long>
[[gnu::always_inline]] static inline std::uint32_t short_value(const unsigned char* b, unsigned length) {
  if constexpr (!Long) {
    return eight_digits(digits_at(b, length));
  } else {
    // The last eight or fewer, and before them the rest, if any.
    const unsigned high = length > 8 ? length - 8 : 0;
    const std::uint64_t first = high == 0 ? 0 : digits_at(b, high);
    return eight_digits(first) * 100000000u + eight_digits(digits_at(b + high, length - high));
  }
}

// The value mod 2^32 of the `length` digits from b, any number.
static inline std::uint32_t any_value(const unsigned char* b, unsigned length) {
  std::uint32_t v = 0;
  for (unsigned i = 0; i < length; ++i) v = v * 10 + (b[i] - '0');
  return v;
}

// Takes the values of the integers that end in a block into `batch`, given
// the block's bytes at b (with 8 readable bytes after them), its
// digits and live digits, and the digits that end an integer. Longest is
// the longest run of digits in the block: up to 8, 16, or any.
template <int Longest>
[[gnu::always_inline]] static inline void take_block_values(const unsigned char* b, std::uint64_t digit,
                                                            std::uint64_t live, std::uint64_t negative,
                                                            std::uint64_t last, value_batch& batch) {
  auto value = [b](unsigned s, unsigned length) {
    if constexpr (Longest <= 16) return short_value<(Longest > 8)>(b + s, length);
    return length <= 16 ? short_value<true>(b + s, length) : any_value(b + s, length);
  };
  // The k-th first digit goes with the k-th last one.
  std::uint64_t first = live & ~(digit << 1);
  std::uint32_t* out = batch.value + batch.count;
  for (std::uint64_t ends = last; ends != 0; ends &= ends - 1, first &= first - 1) {
    const auto e = static_cast<unsigned>(std::countr_zero(ends));
    const auto s = static_cast<unsigned>(std::countr_zero(first));
    std::uint32_t v = value(s, e - s + 1);
    if (s == 0 && batch.continuing) [[unlikely]] {
      v += batch.pending * ten_to.of[e + 1];
      batch.continuing = false;
    }
    const std::uint32_t minus = 0u - static_cast<std::uint32_t>(negative >> e & 1);
    *out++ = (v ^ minus) - minus;
  }
  batch.count = static_cast<unsigned>(out - batch.value);

  // An integer that goes on into the next block: its first digit is the one left.
  if ((live >> 63 & ~last >> 63) != 0) {
    const auto s = static_cast<unsigned>(std::countr_zero(first));
    std::uint32_t v = value(s, 64 - s);
    if (s == 0 && batch.continuing) v += batch.pending * ten_to.of[64];
    batch.pending = v;
    batch.continuing = true;
  }
}

// Whether the mask has a run of n ones, n a power of two.
template <unsigned N>
[[gnu::always_inline]] static inline bool has_run(std::uint64_t m) {
  for (unsigned w = 1; w < N; w *= 2) m &= m >> w;
  return m != 0;
}

// Takes into `batch` the values of the integers that end in the block at
// p, from its digits, its live digits (before the end of the list), its
// negative digits, and whether the next block starts with a digit.
[[gnu::always_inline]] static inline void take_values(const unsigned char* p, std::uint64_t digit,
                                                      std::uint64_t live, std::uint64_t negative,
                                                      std::uint64_t next_starts_with_digit,
                                                      value_batch& batch) {
  if (batch.count > value_batch::apply_from) batch.apply();
  if (live == 0) return;
  // Words of digits are read from an integer's first byte on, at most 7
  // bytes past the block; what lies there is shifted out.
  alignas(16) unsigned char b[block_bytes + 8];
  std::memcpy(b, p, block_bytes);
  std::memset(b + block_bytes, '0', 8);
  const std::uint64_t last = live & ~((digit >> 1) | (next_starts_with_digit << 63));
  // Picked per block, on what is usually alike all through a file.
  if (!has_run<8>(live & (live >> 1))) [[likely]]
    take_block_values<8>(b, digit, live, negative, last, batch);
  else if (!has_run<16>(live & (live >> 1)))
    take_block_values<16>(b, digit, live, negative, last, batch);
  else
    take_block_values<64>(b, digit, live, negative, last, batch);
}

// For kernels that convert a block's integers themselves, all at once:
// `ends` marks the last digit of each integer in the block, and byte 63 when
// an integer goes on into the next (which `last` leaves out); each has its
// first digit in `first`, the k-th with the k-th.
struct integer_ends {
  std::uint64_t last, ends, first;
};

[[gnu::always_inline]] static inline integer_ends integer_ends_of(std::uint64_t digit, std::uint64_t live,
                                                                  std::uint64_t next_starts_with_digit) {
  const std::uint64_t last = live & ~((digit >> 1) | (next_starts_with_digit << 63));
  return {last, last | (live & std::uint64_t{1} << 63), live & ~(digit << 1)};
}

// After such a kernel has written the signed values of the integers of
// `at` from batch.value + batch.count on, in order: the first takes the
// digits that the previous block left pending, the one that goes on waits,
// and the others join the batch.
[[gnu::always_inline]] static inline void take_converted(value_batch& batch, const integer_ends& at,
                                                         std::uint64_t negative) {
  std::uint32_t* out = batch.value + batch.count;
  auto sign_of = [negative](int place) { return 0u - static_cast<std::uint32_t>(negative >> place & 1); };
  // Pending digits are not signed; values are.
  if ((at.first & 1) != 0 && batch.continuing) {
    const std::uint32_t minus = sign_of(0);
    out[0] += ((batch.pending * ten_to.of[std::countr_zero(at.ends) + 1]) ^ minus) - minus;
    batch.continuing = false;
  }
  auto taken = static_cast<unsigned>(std::popcount(at.ends));
  if (at.ends != at.last) {
    --taken;
    const std::uint32_t minus = sign_of(63);
    batch.pending = (out[taken] ^ minus) - minus;
    batch.continuing = true;
  }
  batch.count += taken;
}

// The accumulators that a chunk starts from, and what it leaves in the
// carry: the sum, or the values taken.
template <class Kernel>
[[gnu::always_inline]] static inline typename Kernel::accumulators start_chunk(sum_carry&) {
  return {};
}
template <class Kernel>
[[gnu::always_inline]] static inline value_batch start_chunk(fold_carry& c) {
  value_batch batch;
  batch.out = &c;
  batch.continuing = c.state.at == phase::digits;
  batch.pending = c.state.value;
  return batch;
}

template <class Kernel>
[[gnu::always_inline]] static inline void end_chunk(sum_carry& c, const typename Kernel::accumulators& acc,
                                                    const carry& s, bool ended) {
  c.state = ended ? scan_state{phase::ended} : state_from(s);
  c.sum += Kernel::total(acc);
}
template <class Kernel>
[[gnu::always_inline]] static inline void end_chunk(fold_carry& c, value_batch& batch, const carry& s,
                                                    bool ended) {
  batch.apply();
  if (ended) {
    c.state = scan_state{phase::ended};
  } else {
    // The carry says "digits" for a negative integer that ends with the
    // block, but here it means an integer that goes on.
    c.state = state_from(s);
    if (batch.continuing) {
      c.state.at = phase::digits;
      c.state.value = batch.pending;
    } else if (c.state.at == phase::digits) {
      c.state.at = phase::separator;
    }
  }
}

// Applies what a batch holds, so that the trial at a chunk's end starts empty.
template <class Accumulators>
[[gnu::always_inline]] static inline void settle(Accumulators&) {}
[[gnu::always_inline]] static inline void settle(value_batch& batch) { batch.apply(); }

// The end of a chunk whose whole blocks with a lookahead, up to pos, have
// been run (`ended` when the list ended in them). `run(p, count, s, acc)`
// runs `count` blocks from p as sum_blocks does.
template <class Kernel, class Carry, class Accumulators, class Run>
[[gnu::always_inline]] static inline chunk_result finish_chunk(Carry& c, const unsigned char* p,
                                                               std::size_t n, std::size_t pos, bool eof,
                                                               bool ended, carry s, Accumulators& acc,
                                                               Run run) {
  if (!ended) {
    // The bytes after the last whole block with a lookahead. At the end of
    // input they are padded with NULs, which end the list as the end of input
    // does. Otherwise they are padded with digits, which end nothing, to
    // learn whether the list ends within them: then no more need be read.
    // What a chunk leaves, in whole blocks, and the lookahead after them.
    alignas(64) unsigned char rest[max_tail + 1 + lookahead_bytes];
    static_assert((max_tail + 1) % block_bytes == 0);
    std::memset(rest, eof ? 0 : '0', sizeof rest);
    std::memcpy(rest, p + pos, n - pos);
    settle(acc);
    carry trial_state = s;
    Accumulators trial = acc;
    ended = run(rest, (n - pos + block_bytes - 1) / block_bytes, trial_state, trial);
    if (ended || eof) {
      acc = trial;
      ended = true;
    }
  }
  end_chunk<Kernel>(c, acc, s, ended);
  return {ended ? n : pos, ended};
}

// Runs a kernel over one chunk with `run(p, count, s, acc, k)`, which runs
// `count` blocks from p as sum_blocks does, and `rest`, which does the same
// for the at most two blocks at the end of the chunk. `Kernel` provides:
//   constants                  vectors made once per chunk
//   accumulators               the running sums, in vector registers
//   total(acc)                 the accumulated sum, mod 2^32
// and what `run` and `rest` need of it. With a fold_carry, the weighing
// takes values (values_of) instead.
template <class Kernel, class Carry, class Run, class Rest>
[[gnu::always_inline]] static inline chunk_result sum_chunk_with(Carry& c, const unsigned char* p,
                                                                 std::size_t n, bool eof, Run run,
                                                                 Rest rest) {
  if (c.state.at == phase::ended) return {n, true};
  const typename Kernel::constants k;
  auto acc = start_chunk<Kernel>(c);
  carry s = carry_from(c.state);
  // Whole blocks with their lookahead after them.
  const std::size_t pos = n > lookahead_bytes ? (n - lookahead_bytes) / block_bytes * block_bytes : 0;
  const bool ended = pos != 0 && run(p, pos / block_bytes, s, acc, k);
  return finish_chunk<Kernel>(c, p, n, pos, eof, ended, s, acc,
                              [&k, &rest](const unsigned char* q, std::size_t count, carry& t, auto& a) {
                                return rest(q, count, t, a, k);
                              });
}

// A kernel whose weighing takes the integers' values instead of summing
// them: classification and rules are the kernel's own.
template <class Kernel>
struct values_of {
  using constants = typename Kernel::constants;
  using accumulators = value_batch;
  static constexpr bool takes_values = true;

  [[gnu::always_inline]] static auto classify(const unsigned char* p, const constants& k) {
    return Kernel::classify(p, k);
  }
  [[gnu::always_inline]] static auto classify_group(const unsigned char* p, const constants& k) {
    return Kernel::classify_group(p, k);
  }
  [[gnu::always_inline]] static void weigh(const unsigned char* p, const plan& plan, value_batch& batch,
                                           const constants& k) {
    take(p, plan.digit, plan.live, plan.negative, plan.next_run != 0, batch, k);
  }
  // The grouped driver's weighing (block_plan_avx512.h), for block j of a group.
  template <unsigned Needs, class Masks>
  [[gnu::always_inline]] static void weigh(const unsigned char* p, const Masks& m, unsigned j,
                                           value_batch& batch, const constants& k) {
    take(p, m.digit[j], m.live[j], m.negative[j], m.digit[j + 1] & 1, batch, k);
  }
  // The kernel's own conversion, where it has one: take_values(p, digit,
  // live, negative, ends, batch, k) for the blocks whose digit runs are at
  // most Kernel::converted_digits long (a power of two), with room in the
  // batch and live digits; the others go through take_values above.
  [[gnu::always_inline]] static void take(const unsigned char* p, std::uint64_t digit, std::uint64_t live,
                                          std::uint64_t negative, std::uint64_t next_starts_with_digit,
                                          value_batch& batch, const constants& k) {
    if constexpr (requires { Kernel::converted_digits; }) {
      if (!has_run<Kernel::converted_digits>(live & (live >> 1))) {
        if (batch.count > value_batch::apply_from) batch.apply();
        if (live == 0) return;
        return Kernel::take_values(p, digit, live, negative,
                                   integer_ends_of(digit, live, next_starts_with_digit), batch, k);
      }
    }
    take_values(p, digit, live, negative, next_starts_with_digit, batch);
  }
};

// sum_chunk_with block by block. `Kernel` also provides:
//   classify(p, k)             the classes of the block at p
//   weigh(p, plan, acc, k)     adds the block's live digits at their weights
template <class Kernel, class Carry>
[[gnu::always_inline]] static inline chunk_result sum_chunk(Carry& c, const unsigned char* p, std::size_t n,
                                                            bool eof) {
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

}  // namespace
}  // namespace block
}  // namespace intsum
