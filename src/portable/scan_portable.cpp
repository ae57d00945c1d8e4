// The word-at-a-time kernel, in plain C++ for any 64-bit CPU. At an integer's
// start, words give masks of byte classes (bit 7 of each byte): the integer
// ends at the first non-digit, the white space after it at the first bit of
// another mask, and the words ending with its digits give its value; small
// integers are read a word at a time. Two cursors read the halves of a
// segment split after a newline; a segment the words cannot read for sure
// goes to the byte-at-a-time scanner, as do the chunk's first and last bytes
// (docs/design.md, "Portable").
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

#include "block/digits.h"  // block::eight_digits
#include "block/values.h"  // block::fold_values
#include "core/kernels.h"
#include "portable/words.h"

namespace intsum {
namespace {

// Bytes a read takes from an integer's start, and before its digits' end.
constexpr std::size_t margin = unaligned_loads ? 24 : 32, behind = unaligned_loads ? 16 : 24;

// One table: by first byte (none, plus, minus), the byte that must be a
// digit, the sign (mask, factor), where digits start. (By number of digits,
// their bytes in the word ending with them and the one before are
// block::digit_masks.)
struct lookups {
  std::array<word, 3> digit_at, negative, sign, first;
  unsigned char rule_of[256];
};

constexpr lookups table = [] {
  lookups t{};
  t.digit_at = {0x80, 0x8000, 0x8000};
  t.negative = {0, 0, ~word{0}};
  t.sign = {1, 1, ~word{0}};
  t.first = {0, 1, 1};
  for (unsigned c = 0; c < 256; ++c) {
    const byte_class k = class_of(static_cast<unsigned char>(c));
    t.rule_of[c] = k == byte_class::plus ? 1 : k == byte_class::minus ? 2 : 0;
  }
  return t;
}();

// An integer as read: its digits right-aligned (the last eight, those before),
// its rule, the bytes to the next integer's start; not to be trusted if
// `untrusted` is not 0.
struct token {
  word low, high;
  unsigned rule, length;
  word untrusted;
};

// An integer of up to 14 digits and a sign, then up to 6 bytes of white space.
INTSUM_ALWAYS_INLINE token read_token(bytes q) {
  const auto [a, b] = load<2>(q);
  const word ya = a ^ bytes_of('0'), yb = b ^ bytes_of('0');
  const word non_digit = non_digits(ya), after = non_digit & ~word{0xff};
  const unsigned rule = table.rule_of[q[0]];
  // 8 * end + 7, or an even number if there is no end within 15 bytes;
  // without a select, as a branch here would follow the integers' lengths.
  const word in_b = 0 - static_cast<word>(after == 0);
  const unsigned at =
      lowest_bit(after | word{1} << 63) + (static_cast<unsigned>(in_b) & (lowest(non_digits(yb)) + 1));
  const unsigned end = at >> 3, digits = end - static_cast<unsigned>(table.first[rule]);
  const auto [ahead, last, past] = load<3>(q + end - 16);
  const unsigned stop = lowest(stops(past));
  const word low = (last ^ bytes_of('0')) & block::digit_masks.low[digits];
  const word high = (ahead ^ bytes_of('0')) & block::digit_masks.high[digits];
  return {low, high, rule, end + (stop >> 3), (non_digit & table.digit_at[rule]) | (~(at & stop) & 1)};
}

// Integers of one or two digits, no sign, between white space (no comma),
// before the word's last start: their last digits and tens, in place.
struct tiny_word {
  word units, tens, unit_at;
  unsigned length;
  word untrusted;
};

INTSUM_ALWAYS_INLINE tiny_word read_tiny_word(bytes q) {
  const word w = load<1>(q)[0], y = w ^ bytes_of('0');
  const word non_digit = non_digits(y), not_white = non_white(w);
  // Starts: not white space after white space; the last is 7 if none.
  const word starts = not_white & ~(not_white << 8) & ~word{0xff};
  const unsigned last = highest_bit(starts | 0x80);
  const word before = (word{1} << (last - 7)) - 1;
  const word digit = non_digit ^ high_bits, unit = digit & (non_digit >> 8) & before;
  const word ten = digit & (digit >> 8) & before;
  // Anything but digits and white space, or three digits in a row.
  const word untrusted = ((not_white & non_digit) | (ten & (digit << 8))) & before;
  auto nibbles = [](word m) { return (m >> 3) - (m >> 7); };
  return {y & nibbles(unit), y & nibbles(ten), unit, (last - 7) >> 3, untrusted | (~before & 1)};
}

// The sum of a word's bytes, and their value as decimal places, the first
// byte the highest (bytes up to 252).
constexpr std::uint32_t byte_total(word w) {
  constexpr word bytes = 0x00ff00ff00ff00ffu;
  return static_cast<std::uint32_t>((((w & bytes) + (w >> 8 & bytes)) * 0x0001000100010001u) >> 48);
}

constexpr std::uint32_t weigh(word w) {
  constexpr word bytes = 0x00ff00ff00ff00ffu, pairs = 0x0000ffff0000ffffu;
  w = (w & bytes) * 10 + (w >> 8 & bytes);
  w = (w & pairs) * 100 + (w >> 16 & pairs);
  return static_cast<std::uint32_t>(w) * 10000 + static_cast<std::uint32_t>(w >> 32);
}

// The sum: integers' digits added to (taken from) bytes that start at 0x80,
// words' units and tens added; weighed while every byte is within 0..255.
struct digit_sums {
  static constexpr bool shared = true;
  static constexpr unsigned steps = 14;
  static constexpr word bias = bytes_of(0x80);
  word low = bias, high = bias, units = 0, tens = 0;
  std::uint32_t total = 0;

  INTSUM_ALWAYS_INLINE void take(const token& t) {
    low += t.low * table.sign[t.rule];
    high += t.high * table.sign[t.rule];
  }
  INTSUM_ALWAYS_INLINE void take(const tiny_word& t) {
    units += t.units;
    tens += t.tens;
  }
  void settle() {
    if (((low ^ bias) | (high ^ bias)) != 0)
      total += weigh(low) - weigh(bias) + 100000000u * (weigh(high) - weigh(bias));
    if ((units | tens) != 0) total += byte_total(units) + 10 * byte_total(tens);
    low = high = bias;
    units = tens = 0;
  }
};

// The fold: each piece's values, in order, for the combiner afterwards.
struct value_list {
  static constexpr bool shared = false;
  static constexpr unsigned steps = 16;
  std::uint32_t* end;

  INTSUM_ALWAYS_INLINE void take(const token& t) {
    const std::uint32_t v = block::eight_digits(t.low) + 100000000u * block::eight_digits(t.high);
    const auto minus = static_cast<std::uint32_t>(table.negative[t.rule]);
    *end++ = (v ^ minus) - minus;
  }
  // At most three values, each in the byte of its last digit.
  INTSUM_ALWAYS_INLINE void take(const tiny_word& t) {
    const word values = t.units + 10 * (t.tens << 8);
    word at = t.unit_at;
    for (int k = 0; k < 3; ++k, at &= at - 1) end[k] = static_cast<std::uint8_t>(values >> (lowest(at) - 7));
    end += ((t.unit_at >> 7) * 0x0101010101010101u) >> 56;
  }
  void settle() {}
};

// One step: an integer, or with Tiny a word's worth.
template <bool Tiny>
INTSUM_ALWAYS_INLINE auto read_step(bytes q) {
  if constexpr (Tiny)
    return read_tiny_word(q);
  else
    return read_token(q);
}

template <bool Tiny, class Out>
INTSUM_ALWAYS_INLINE bytes step(bytes q, Out& out, word& untrusted) {
  const auto t = read_step<Tiny>(q);
  out.take(t);
  untrusted |= t.untrusted;
  return q + t.length;
}

// Steps run unchecked while no cursor can pass its end (7 or 22 bytes a step).
template <bool Tiny>
INTSUM_ALWAYS_INLINE unsigned safe_steps(bytes q, bytes end) {
  constexpr std::size_t widest = Tiny ? 7 : 22;
  return static_cast<unsigned>((static_cast<std::size_t>(end - q) + widest - 1) / widest);
}

template <bool Tiny, class Out>
INTSUM_ALWAYS_INLINE bytes read_alone(bytes q, bytes end, Out& out, word& untrusted) {
  while (q < end && untrusted == 0) {
    for (unsigned n = std::min(Out::steps, safe_steps<Tiny>(q, end)); n != 0; --n)
      q = step<Tiny>(q, out, untrusted);
    out.settle();
  }
  return q;
}

// A stretch read as two pieces when a newline splits it: piece 0 ends where
// piece 1's first integer starts. Else piece 1 is empty.
struct segment {
  bytes at[2], end[2];
  bool split;
  bytes next() const { return at[split]; }
  bool good(word untrusted) const { return untrusted == 0 && (!split || at[0] == end[0]); }
};

// Reads both pieces side by side, until anything untrusted. Words read whole take
// integers up to 7 bytes on, in the same piece: a piece's last bytes are read
// an integer a step. The sum takes both pieces in one Out, settled as often.
template <bool Tiny, class Out>
word read_pieces(segment& s, Out& out_a, Out& out_b, word untrusted = 0) {
  constexpr std::size_t room = Tiny ? 7 : 0;
  constexpr unsigned rounds = Out::shared ? Out::steps / 2 : Out::steps;
  bytes p = s.at[0], q = s.at[1], p_end = s.end[0] - room, q_end = s.end[1] - room;
  word bad = untrusted;
  Out x = out_a, y_own = out_b;
  Out& y = Out::shared ? x : y_own;
  for (unsigned left = rounds; p < p_end && q < q_end && bad == 0;) {
    const unsigned steps = std::min({left, safe_steps<Tiny>(p, p_end), safe_steps<Tiny>(q, q_end)});
    for (unsigned n = steps; n != 0; --n) {
      p = step<Tiny>(p, x, bad);
      q = step<Tiny>(q, y, bad);
    }
    if ((left -= steps) == 0) {
      x.settle();
      y.settle();
      left = rounds;
    }
  }
  x.settle();
  y.settle();
  s.at[0] = read_alone<Tiny>(p, p_end, x, bad);
  s.at[1] = read_alone<Tiny>(q, q_end, y, bad);
  out_a = x;
  out_b = y;
  return Tiny ? read_pieces<false>(s, out_a, out_b, bad) : bad;
}

// Pieces: the sum's long, as each segment costs some setting up; the fold's
// short, for their values (a byte each at most, and the unchecked steps') to
// wait on the stack. Their newline is looked for up to this far on.
constexpr std::size_t sum_piece = 2048, fold_piece = 320, newline_window = 128,
                      piece_values = fold_piece + newline_window + 2 * value_list::steps * 3;

template <class Carry>
segment segment_at(bytes at, bytes limit) {
  constexpr std::size_t piece_bytes = std::is_same_v<Carry, sum_carry> ? sum_piece : fold_piece;
  const std::size_t piece = std::min<std::size_t>(piece_bytes, static_cast<std::size_t>(limit - at) / 2);
  auto nl = static_cast<bytes>(
      std::memchr(at + piece, '\n', std::min<std::size_t>(newline_window, limit - at - piece)));
  if (piece >= 32 && nl != nullptr) {
    bytes second = nl + 1;
    while (second < limit && is_white(*second)) ++second;
    // Pieces of about the same length, so that the cursors finish together.
    const std::size_t length = std::min<std::size_t>(second - at, piece_bytes + newline_window);
    if (second < limit) return {{at, second}, {second, std::min(second + length, limit)}, true};
  }
  bytes end = std::min(at + 2 * piece_bytes, limit);
  return {{at, end}, {end, end}, false};
}

// A segment read side by side; false, with nothing taken, if anything there
// was untrusted or piece 0 did not end where piece 1 starts.
template <bool Tiny>
bool read_segment(sum_carry& c, segment& s) {
  digit_sums sums;
  const word untrusted = read_pieces<Tiny>(s, sums, sums);
  if (s.good(untrusted)) c.sum += sums.total;
  return s.good(untrusted);
}

template <bool Tiny>
bool read_segment(fold_carry& c, segment& s) {
  std::uint32_t values[2][piece_values];
  value_list a{values[0]}, b{values[1]};
  if (!s.good(read_pieces<Tiny>(s, a, b))) return false;
  block::fold_values(c, values[0], static_cast<unsigned>(a.end - values[0]));
  block::fold_values(c, values[1], static_cast<unsigned>(b.end - values[1]));
  return true;
}

// Segments from an integer's start on, words read whole unless that failed
// in the last 64; stops past `limit`, or at a segment to read byte by byte
// (up to `bytes_to`).
template <class Carry>
bytes read_fast(Carry& c, bytes at, bytes limit, unsigned& long_only, bytes& bytes_to) {
  while (at < limit) {
    const segment s = segment_at<Carry>(at, limit);
    segment tried = s;
    if (long_only != 0 || !read_segment<true>(c, tried)) {
      long_only = long_only == 0 ? 64 : long_only - 1;
      tried = s;
      if (!read_segment<false>(c, tried)) return bytes_to = s.end[1], at;
    }
    at = tried.next();
  }
  return at;
}

// The byte-at-a-time scanner, with the same carry.
chunk_result by_bytes(sum_carry& c, bytes p, std::size_t n, bool eof) { return sum_scalar(c, p, n, eof); }
chunk_result by_bytes(fold_carry& c, bytes p, std::size_t n, bool eof) { return fold_scalar(c, p, n, eof); }

template <class Carry>
chunk_result scan(Carry& c, bytes p, std::size_t n, bool eof) {
  if (c.state.at == phase::ended) return {n, true};
  bytes at = p, limit = n > margin ? p + n - margin : p, bytes_to = p + behind;
  unsigned long_only = 0;
  while (at < limit) {
    if (c.state.at == phase::separator) {
      while (at < limit && is_separator(*at)) ++at;
      if (at == limit) break;
      c.state.at = phase::blank;
    }
    // Byte by byte up to `bytes_to`, or to the end of the integer under way.
    if (at < bytes_to || c.state.at != phase::blank) {
      bytes to = at < bytes_to ? bytes_to : at + is_sign(*at);
      while (at >= bytes_to && to < limit && is_digit(*to)) ++to;
      to = std::min(std::max(to, at + 1), limit);
      if (by_bytes(c, at, static_cast<std::size_t>(to - at), false).ended) return {n, true};
      at = to;
      continue;
    }
    while (at < limit && is_white(*at)) ++at;
    if (at < limit) at = read_fast(c, at, limit, long_only, bytes_to);
  }
  return {n, by_bytes(c, at, static_cast<std::size_t>(p + n - at), eof).ended};
}

}  // namespace

chunk_result sum_portable(sum_carry& c, bytes p, std::size_t n, bool eof) { return scan(c, p, n, eof); }
chunk_result fold_portable(fold_carry& c, bytes p, std::size_t n, bool eof) { return scan(c, p, n, eof); }

}  // namespace intsum
