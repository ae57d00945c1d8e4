// The word-at-a-time kernel, in plain C++ for any 64-bit CPU, little- or
// big-endian. It reads integer by integer: at an integer's start, 64-bit
// words give masks of byte classes (bit 7 of each byte); the integer ends at
// the first non-digit, the white space after it stops at the first set bit
// of another mask, and the words that end with its digits give its value.
// Where integers have one or two digits and only white space between them,
// a word is read whole instead: every integer before the last start in it.
//
// A chunk is cut into segments of two pieces, the second starting after a
// newline, where the format is back to "before an integer"; two cursors read
// them side by side, as each integer's start depends on the one before. A
// segment with anything the words cannot read for sure (more than 14
// digits, long white space, a byte that ends the list) goes to the
// byte-at-a-time scanner, as do the chunk's first and last bytes.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "block_plan.h"  // block::load_le64, block::eight_digits
#include "scan.h"

namespace intsum {
namespace {

using word = std::uint64_t;

constexpr word bytes_of(unsigned char c) { return 0x0101010101010101u * c; }
constexpr word high_bits = bytes_of(0x80);

// Where loads of words at any address are slow or trap (RISC-V, unless the
// compiler is told they are fast), a word comes from the two aligned words
// around it; where bit scans would be library calls (RISC-V without Zbb),
// they are a multiply and a table.
#if defined(__riscv) && !defined(__riscv_misaligned_fast)
constexpr bool unaligned_loads = false;
#else
constexpr bool unaligned_loads = true;
#endif
#if defined(__riscv) && !defined(__riscv_zbb)
constexpr bool native_scans = false;
#else
constexpr bool native_scans = true;
#endif

// A read takes up to 24 bytes from an integer's start and the 16 before the
// end of its digits (and the aligned words around them): reads keep this
// far from the chunk's ends.
constexpr std::size_t margin = unaligned_loads ? 24 : 32, behind = unaligned_loads ? 16 : 24;

// The eight bytes from q as a little-endian word.
[[gnu::always_inline]] inline word load(const unsigned char* q) {
  if constexpr (unaligned_loads) return block::load_le64(q);
  const auto offset = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(q) & 7);
  const unsigned char* aligned = std::assume_aligned<8>(q - offset);
  const word low = block::load_le64(aligned), high = block::load_le64(aligned + 8);
  return (low >> 8 * offset) | (high << 1 << (63 - 8 * offset));
}

// The reads' lookups, in one table, which one register reaches.
struct lookups {
  // For an integer of d digits, read as the words that end with it: the
  // bytes of its digits in the last word and in the one before.
  word low_digits[16], high_digits[16];
  // By what an integer's first byte makes of it (none, plus, minus): the
  // byte that must be a digit (the first, or the one after a sign), the
  // sign as a mask and as a factor, and where the digits start.
  word digit_at[3], negative[3], sign[3], first[3];
  unsigned char rule_of[256];
  // Bit scans without the instructions: the lowest set bit by de Bruijn's
  // sequence, the highest bit 7 of a byte by those bits gathered in a byte.
  unsigned char lowest[64], highest[256];
};

constexpr word de_bruijn = 0x03f79d71b4ca8b09u;

constexpr lookups table = [] {
  lookups t{};
  auto top = [](unsigned k) { return k == 0 ? 0 : ~word{0} << (64 - 8 * k); };
  for (unsigned d = 0; d < 16; ++d) {
    t.low_digits[d] = top(std::min(d, 8u));
    t.high_digits[d] = top(d > 8 ? d - 8 : 0);
  }
  for (unsigned r = 0; r < 3; ++r) {
    t.digit_at[r] = r == 0 ? 0x80 : 0x8000;
    t.negative[r] = r == 2 ? ~word{0} : 0;
    t.sign[r] = r == 2 ? ~word{0} : 1;
    t.first[r] = r == 0 ? 0 : 1;
  }
  t.rule_of['+'] = 1;
  t.rule_of['-'] = 2;
  for (unsigned i = 0; i < 64; ++i) t.lowest[(de_bruijn << i) >> 58] = static_cast<unsigned char>(i);
  for (unsigned m = 1; m < 256; ++m)
    t.highest[m] = static_cast<unsigned char>(8 * (31 - std::countl_zero(m)) + 7);
  return t;
}();

// The place of the lowest set bit of x, which is not 0.
[[gnu::always_inline]] inline unsigned lowest_bit(word x) {
  if constexpr (native_scans) return static_cast<unsigned>(std::countr_zero(x));
  return table.lowest[((x & (0 - x)) * de_bruijn) >> 58];
}

// The place of the highest set bit of m, which has only bits 7 of bytes.
[[gnu::always_inline]] inline unsigned highest_bit(word m) {
  if constexpr (native_scans) return 63 - static_cast<unsigned>(std::countl_zero(m));
  return table.highest[((m >> 7) * 0x0102040810204080u) >> 56];
}

// The lowest set bit 7 of a byte, as 8 * byte + 7; 62 when there is none,
// or only in byte 7, which no read takes as found.
[[gnu::always_inline]] inline unsigned lowest(word m) { return lowest_bit(m | word{1} << 62); }

// Bit 7 of each byte of y = w ^ "00000000" that is not a digit. A byte of
// 0xba or more may mark the next byte too; it ends the digits before that.
[[gnu::always_inline]] inline word non_digits(word y) { return ((y + bytes_of(0x76)) | y) & high_bits; }

// Bit 7 of each byte 0x09 to 0x0d: tab, newline, vertical tab, form feed,
// carriage return (none for bytes of 0x80 and up).
[[gnu::always_inline]] inline word controls(word w) {
  return (w + bytes_of(0x80 - '\t')) & ~(w + bytes_of(0x80 - '\r' - 1)) & high_bits;
}

// Bit 7 of each byte that is not white space. Bytes of 0x80 and up are
// not; their carries may mark the byte after them, which matters no more.
[[gnu::always_inline]] inline word non_white(word w) {
  return (((w ^ bytes_of(' ')) + bytes_of(0x7f)) | w) & ~controls(w) & high_bits;
}

// Bit 7 of each byte where the white space after an integer stops: any byte
// but white space, and commas too once a tab, newline or other control
// white space has come (commas go only with the spaces right after an
// integer).
[[gnu::always_inline]] inline word stops(word w) {
  const word control = controls(w);
  const word not_space = (w ^ bytes_of(' ')) + bytes_of(0x7f),
             not_comma = (w ^ bytes_of(',')) + bytes_of(0x7f);
  return ((not_space & ~control & (not_comma | (0 - control))) | w) & high_bits;
}

// An integer as the words read it: its digit values right-aligned, the
// last eight in `low` and those before them in `high`, and its rule in the
// table; the bytes from its start to the next integer's. It cannot be
// trusted if `odd` is not 0.
struct token {
  word low, high;
  unsigned rule, length;
  word odd;
};

// An integer of up to 14 digits and its sign, then up to 6 bytes of white
// space (in the word after the digits).
[[gnu::always_inline]] inline token read_long(const unsigned char* q) {
  const word ya = load(q) ^ bytes_of('0'), yb = load(q + 8) ^ bytes_of('0');
  const word non_digit = non_digits(ya), after = non_digit & ~word{0xff};
  const unsigned rule = table.rule_of[q[0]];
  // 8 * end + 7, or an even number if there is no end within 15 bytes;
  // without a select, as a branch here would follow the integers' lengths.
  const word in_b = 0 - static_cast<word>(after == 0);
  const unsigned at =
      lowest_bit(after | word{1} << 63) + (static_cast<unsigned>(in_b) & (lowest(non_digits(yb)) + 1));
  const unsigned end = at >> 3, stop = lowest(stops(load(q + end)));
  const auto digits = static_cast<unsigned>(end - table.first[rule]);
  const word low = (load(q + end - 8) ^ bytes_of('0')) & table.low_digits[digits];
  const word high = (load(q + end - 16) ^ bytes_of('0')) & table.high_digits[digits];
  return {low, high, rule, end + (stop >> 3), (non_digit & table.digit_at[rule]) | (~at & 1) | (~stop & 1)};
}

// Integers of one or two digits and no sign between white space (no comma),
// all those before the last integer's start in the word at q: the digit
// values of their last digits and of the digits before those, where they
// are; the bytes up to that start.
struct tiny_word {
  word units, tens, unit_at;
  unsigned length;
  word odd;
};

[[gnu::always_inline]] inline tiny_word read_tiny(const unsigned char* q) {
  const word w = load(q), y = w ^ bytes_of('0');
  const word non_digit = non_digits(y), not_white = non_white(w);
  // Starts: bytes that are not white space after one that is. The last
  // one's place is 8 * byte + 7, or 7 when there is none (no progress).
  const word starts = not_white & ~(not_white << 8) & ~word{0xff};
  const unsigned last = highest_bit(starts | 0x80);
  const word before = (word{1} << (last - 7)) - 1;
  const word digit = non_digit ^ high_bits, unit = digit & (non_digit >> 8) & before;
  const word ten = digit & (digit >> 8) & before;
  // Anything but digits and white space, or three digits in a row.
  const word odd = ((not_white & non_digit) | (ten & (digit << 8))) & before;
  auto nibbles = [](word m) { return (m >> 3) - (m >> 7); };
  return {y & nibbles(unit), y & nibbles(ten), unit, (last - 7) >> 3, odd | (~before & 1)};
}

// The sum of a word's bytes (each up to 252).
constexpr std::uint32_t byte_total(word w) {
  constexpr word bytes = 0x00ff00ff00ff00ffu;
  return static_cast<std::uint32_t>((((w & bytes) + (w >> 8 & bytes)) * 0x0001000100010001u) >> 48);
}

// The value of a word's bytes as decimal places, the first byte the highest;
// bytes may be up to 252.
constexpr std::uint32_t weigh(word w) {
  constexpr word bytes = 0x00ff00ff00ff00ffu, pairs = 0x0000ffff0000ffffu;
  w = (w & bytes) * 10 + (w >> 8 & bytes);
  w = (w & pairs) * 100 + (w >> 16 & pairs);
  return static_cast<std::uint32_t>(w) * 10000 + static_cast<std::uint32_t>(w >> 32);
}

// The sum, for both pieces at once. Integers read one at a time: their
// digits added to (or, if negative, taken from) words of bytes that start
// at 0x80; words read whole: their units and tens added as bytes. Weighed
// every `steps` reads, while every byte stays within 0..255.
struct digit_sums {
  static constexpr bool shared = true;
  static constexpr unsigned steps = 14;
  static constexpr word bias = bytes_of(0x80);
  word low = bias, high = bias, units = 0, tens = 0;
  std::uint32_t total = 0;

  [[gnu::always_inline]] void take(const token& t) {
    low += t.low * table.sign[t.rule];
    high += t.high * table.sign[t.rule];
  }
  [[gnu::always_inline]] void take(const tiny_word& t) {
    units += t.units;
    tens += t.tens;
  }
  void settle() {
    total += weigh(low) - weigh(bias) + 100000000u * (weigh(high) - weigh(bias));
    total += byte_total(units) + 10 * byte_total(tens);
    low = high = bias;
    units = tens = 0;
  }
};

// The fold: each piece's values, in order, for the combiner afterwards.
struct value_list {
  static constexpr bool shared = false;
  static constexpr unsigned steps = 16;
  std::uint32_t* end;

  [[gnu::always_inline]] void take(const token& t) {
    const std::uint32_t v = block::eight_digits(t.low) + 100000000u * block::eight_digits(t.high);
    const auto minus = static_cast<std::uint32_t>(table.negative[t.rule]);
    *end++ = (v ^ minus) - minus;
  }
  // At most three integers end before a word's last start; each value is
  // in the byte of its last digit.
  [[gnu::always_inline]] void take(const tiny_word& t) {
    const word values = t.units + 10 * (t.tens << 8);
    word at = t.unit_at;
    for (int k = 0; k < 3; ++k, at &= at - 1) end[k] = static_cast<std::uint8_t>(values >> (lowest(at) - 7));
    end += ((t.unit_at >> 7) * 0x0101010101010101u) >> 56;
  }
  void settle() {}
};

// One step of a cursor: an integer, or with Tiny a word's worth. `odd`
// gathers what cannot be trusted.
template <bool Tiny, class Out>
[[gnu::always_inline]] inline const unsigned char* step(const unsigned char* q, Out& out, word& odd) {
  const auto t = [q] {
    if constexpr (Tiny)
      return read_tiny(q);
    else
      return read_long(q);
  }();
  out.take(t);
  odd |= t.odd;
  return q + t.length;
}

// Steps may run with no check of where the cursors are while none can pass
// its end: the most a step moves on is 7 bytes whole, 22 otherwise.
template <bool Tiny>
[[gnu::always_inline]] inline unsigned safe_steps(const unsigned char* q, const unsigned char* end) {
  constexpr std::size_t widest = Tiny ? 7 : 22;
  return static_cast<unsigned>((static_cast<std::size_t>(end - q) + widest - 1) / widest);
}

template <bool Tiny, class Out>
[[gnu::always_inline]] inline const unsigned char* read_alone(const unsigned char* q,
                                                              const unsigned char* end, Out& out, word& odd) {
  while (q < end && odd == 0) {
    for (unsigned n = std::min(Out::steps, safe_steps<Tiny>(q, end)); n != 0; --n)
      q = step<Tiny>(q, out, odd);
    out.settle();
  }
  return q;
}

struct cursor {
  const unsigned char* at;
  const unsigned char* end;
};

// A stretch read as two pieces when a newline splits it: piece 0 ends where
// piece 1's first integer starts. Else piece 1 is empty.
struct segment {
  cursor piece[2];
  bool split;
  const unsigned char* next() const { return piece[split].at; }
  bool good(word odd) const { return odd == 0 && (!split || piece[0].at == piece[0].end); }
};

// Reads both pieces, side by side while both last, until anything odd. A
// word read whole takes integers up to 7 bytes on, which must start in the
// same piece: the last bytes of each are read one integer a step. The sum
// takes both pieces' integers alike: one Out, settled twice as often.
template <bool Tiny, class Out>
void read_pieces(segment& s, Out& out_a, Out& out_b, word& odd) {
  constexpr std::size_t room = Tiny ? 7 : 0;
  constexpr unsigned rounds = Out::shared ? Out::steps / 2 : Out::steps;
  cursor &a = s.piece[0], &b = s.piece[1];
  const unsigned char *p = a.at, *q = b.at, *const p_end = a.end - room, *const q_end = b.end - room;
  word bad = odd;
  Out x = out_a, y_own = out_b;
  Out& y = Out::shared ? x : y_own;
  for (unsigned left = rounds; p < p_end && q < q_end && bad == 0;) {
    const unsigned steps = std::min({left, safe_steps<Tiny>(p, p_end), safe_steps<Tiny>(q, q_end)});
    for (unsigned n = steps; n != 0; --n) {
      p = step<Tiny>(p, x, bad);
      q = step<Tiny>(q, y, bad);
    }
    left -= steps;
    if (left == 0) {
      x.settle();
      if constexpr (!Out::shared) y.settle();
      left = rounds;
    }
  }
  x.settle();
  if constexpr (!Out::shared) y.settle();
  a.at = read_alone<Tiny>(p, p_end, x, bad);
  b.at = read_alone<Tiny>(q, q_end, y, bad);
  out_a = x;
  if constexpr (!Out::shared) out_b = y;
  odd = bad;
}

bool is_white(unsigned char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

constexpr std::size_t piece_bytes = 192, newline_window = 128;

segment plan(const unsigned char* at, const unsigned char* limit) {
  const std::size_t piece = std::min<std::size_t>(piece_bytes, static_cast<std::size_t>(limit - at) / 2);
  const unsigned char* nl = static_cast<const unsigned char*>(
      std::memchr(at + piece, '\n', std::min<std::size_t>(newline_window, limit - (at + piece))));
  if (piece >= 32 && nl != nullptr) {
    const unsigned char* second = nl + 1;
    while (second < limit && is_white(*second)) ++second;
    // Pieces of about the same length, so that the cursors finish together.
    const std::size_t length = std::min<std::size_t>(second - at, piece_bytes + newline_window);
    if (second < limit) return {{{at, second}, {second, std::min(second + length, limit)}}, true};
  }
  const unsigned char* end = std::min(at + 2 * piece_bytes, limit);
  return {{{at, end}, {end, end}}, false};
}

// Values a piece may leave: one a byte at most while nothing is odd, and
// what the steps between checks let through.
constexpr std::size_t piece_values = piece_bytes + newline_window + 2 * value_list::steps * 3;

void apply(fold_carry& c, const std::uint32_t* v, const std::uint32_t* end) {
  if (v == end) return;
  int r = c.any ? c.f(c.result, static_cast<int>(*v)) : static_cast<int>(*v);
  for (++v; v != end; ++v) r = c.f(r, static_cast<int>(*v));
  c.result = r;
  c.any = true;
}

// A segment read side by side; false, with nothing taken, if anything was
// odd there or piece 0 did not end where piece 1 starts. Words read whole
// leave each piece's last integers to single reads.
template <bool Tiny>
bool read_segment(sum_carry& c, segment& s) {
  digit_sums sums;
  word odd = 0;
  read_pieces<Tiny>(s, sums, sums, odd);
  if constexpr (Tiny) read_pieces<false>(s, sums, sums, odd);
  if (!s.good(odd)) return false;
  c.sum += sums.total;
  return true;
}

template <bool Tiny>
bool read_segment(fold_carry& c, segment& s) {
  std::uint32_t values[2][piece_values];
  value_list a{values[0]}, b{values[1]};
  word odd = 0;
  read_pieces<Tiny>(s, a, b, odd);
  if constexpr (Tiny) read_pieces<false>(s, a, b, odd);
  if (!s.good(odd)) return false;
  apply(c, values[0], a.end);
  apply(c, values[1], b.end);
  return true;
}

// Reads segments from an integer's start up to `limit`, words read whole
// first unless that failed in the last 64; returns where it stopped: at or
// past `limit`, or at a segment the byte-at-a-time scanner must read up to
// `rest`.
template <class Carry>
const unsigned char* read_fast(Carry& c, const unsigned char* at, const unsigned char* limit,
                               unsigned& long_only, const unsigned char*& rest) {
  while (at < limit) {
    const segment s = plan(at, limit);
    segment tried = s;
    if (long_only == 0 && read_segment<true>(c, tried)) {
      at = tried.next();
      continue;
    }
    long_only = long_only == 0 ? 64 : long_only - 1;
    tried = s;
    if (!read_segment<false>(c, tried)) {
      rest = s.piece[1].end;
      break;
    }
    at = tried.next();
  }
  return at;
}

chunk_result exact(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return sum_scalar(c, p, n, eof);
}
chunk_result exact(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return fold_scalar(c, p, n, eof);
}

template <class Carry>
chunk_result scan(Carry& c, const unsigned char* p, std::size_t n, bool eof) {
  if (c.state.at == phase::ended) return {n, true};
  const unsigned char *at = p, *const limit = n > margin ? p + n - margin : p;
  const unsigned char* rest = p + behind;  // byte by byte up to here
  unsigned long_only = 0;
  while (at < limit) {
    if (c.state.at == phase::separator) {
      // The spaces and commas after an integer, as the scanner takes them.
      while (at < limit && (*at == ' ' || *at == ',')) ++at;
      if (at == limit) break;
      c.state.at = phase::blank;
    }
    // Byte by byte up to `rest`, or to the end of the integer under way.
    if (at < rest || c.state.at != phase::blank) {
      const unsigned char* to = at < rest ? rest : at + (*at == '+' || *at == '-');
      while (at >= rest && to < limit && static_cast<unsigned char>(*to - '0') < 10) ++to;
      to = std::min(std::max(to, at + 1), limit);
      if (exact(c, at, static_cast<std::size_t>(to - at), false).ended) return {n, true};
      at = to;
      continue;
    }
    while (at < limit && is_white(*at)) ++at;
    if (at < limit) at = read_fast(c, at, limit, long_only, rest);
  }
  return {n, exact(c, at, static_cast<std::size_t>(p + n - at), eof).ended};
}

}  // namespace

chunk_result sum_portable(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return scan(c, p, n, eof);
}

chunk_result fold_portable(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return scan(c, p, n, eof);
}

}  // namespace intsum
