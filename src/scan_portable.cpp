// The word-at-a-time kernel, in plain C++ for any 64-bit CPU, little- or
// big-endian: it reads integer by integer. At each integer's start one or
// two 64-bit words give masks of byte classes (bit 7 of each byte); the
// integer's end is the first non-digit, where the white space after it stops
// is the first set bit of another mask, and its digits, shifted to the top of
// a word, are summed as bytes and weighed later (or converted eight at a time
// when folding with another combiner).
//
// A chunk is cut into segments of two pieces, the second starting after a
// newline, where the format is back to "before an integer"; two cursors read
// them side by side, as one integer's start depends on the one before. What
// the words cannot read for sure (an integer with more than 15 bytes, long
// runs of white space, any byte that ends the list) is noted, and the
// segment is read again by one cursor that hands such places to the
// byte-at-a-time scanner. The chunk's last bytes go to that scanner too.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "block_plan.h"  // block::load_le64, block::eight_digits
#include "scan.h"

namespace intsum {
namespace {

using word = std::uint64_t;

constexpr word bytes_of(unsigned char c) { return 0x0101010101010101u * c; }
constexpr word high_bits = bytes_of(0x80);

// The bytes a token reads from its start: two words, and one more after its
// digits; and before it, the two words that end with its digits. Fast reads
// keep this far from the chunk's ends.
constexpr std::size_t margin = 24, behind = 16;

// Bit 7 of each byte of w ^ "00000000" that is not a digit. A byte of 0xba
// or more may mark the next byte too; it ends the digits before that anyway.
[[gnu::always_inline]] inline word non_digits(word y) { return ((y + bytes_of(0x76)) | y) & high_bits; }

// Bit 7 of each byte 0x09 to 0x0d: tab, newline, vertical tab, form feed,
// carriage return (none for bytes of 0x80 and up).
[[gnu::always_inline]] inline word controls(word w) {
  return (w + bytes_of(0x80 - '\t')) & ~(w + bytes_of(0x80 - '\r' - 1)) & high_bits;
}

// Bit 7 of each byte that is not white space. Bytes of 0x80 and up are
// not, and their carries may mark the byte after them, which does not
// matter past them.
[[gnu::always_inline]] inline word non_white_of(word w, word control) {
  return (((w ^ bytes_of(' ')) + bytes_of(0x7f)) | w) & ~control & high_bits;
}

// Bit 7 of each byte where the white space after an integer stops: any byte
// but white space, and commas too once a tab, newline or other control
// white space has come (commas only go with the spaces right after an
// integer).
[[gnu::always_inline]] inline word stops(word w) {
  const word control = controls(w);
  const word not_comma = ((w ^ bytes_of(',')) + bytes_of(0x7f)) | w;
  return non_white_of(w, control) & (not_comma | (0 - control));
}

// The lowest set bit 7 of a byte, as 8 * byte + 7; 62 when there is none,
// or only in byte 7, which no read may take as found.
constexpr word sentinel = word{1} << 62;
[[gnu::always_inline]] inline unsigned lowest(word m) {
  return static_cast<unsigned>(std::countr_zero(m | sentinel));
}

// What an integer's first byte makes of it: the byte that must be a digit
// (the first, or the one after a sign), the bytes that keep their digit
// values (not the sign's), the sign, 256 to the power of where the digits
// start, and that place.
struct start_rule {
  word digit_at, keep, negative, step, first;
};

// The reads' lookups, in one table, which one register reaches.
struct lookups {
  // By rule and by where a word's digits end (lowest() of the non-digits):
  // the multiplier that moves the digits to the top of the word, their sign
  // given; a product of words keeps its low 64 bits, so the bytes past the
  // end drop out.
  word scale[3][64];
  // For an integer of d digits, read as the words that end with it: the
  // bytes of its digits in the last word and in the one before.
  word low_digits[16], high_digits[16];
  start_rule rule[3];
  unsigned char rule_of[256];
};

constexpr lookups table = [] {
  lookups t{};
  for (unsigned rule = 0; rule < 3; ++rule)
    for (unsigned end = 1; end < 8; ++end) {
      const word up = word{1} << (64 - 8 * end);
      t.scale[rule][8 * end + 7] = rule == 2 ? 0 - up : up;
    }
  auto top = [](unsigned k) { return k == 0 ? 0 : ~word{0} << (64 - 8 * k); };
  for (unsigned d = 0; d < 16; ++d) {
    t.low_digits[d] = top(std::min(d, 8u));
    t.high_digits[d] = top(d > 8 ? d - 8 : 0);
  }
  t.rule[0] = {0x80, ~word{0}, 0, 1, 0};
  t.rule[1] = {0x8000, ~word{0xff}, 0, 256, 1};
  t.rule[2] = {0x8000, ~word{0xff}, ~word{0}, 256, 1};
  t.rule_of['+'] = 1;
  t.rule_of['-'] = 2;
  return t;
}();

// An integer as the words read it: its digit values right-aligned, the
// last eight in `low` and those before them in `high`, and its sign (all
// ones for a minus); the bytes from its start to the next integer's. It
// cannot be trusted if `odd` is not 0 or bit 0 of `found` is.
struct token {
  word low, high, negative;
  unsigned length;
  word odd;
  unsigned found;
};

// An integer of up to 14 digits and its sign, then up to 6 bytes of white
// space (read from the word after the digits). Reads up to 16 bytes before q.
[[gnu::always_inline]] inline token read_long(const unsigned char* q) {
  const word ya = block::load_le64(q) ^ bytes_of('0'), yb = block::load_le64(q + 8) ^ bytes_of('0');
  const word non_digit = non_digits(ya), after = non_digit & ~word{0x80};
  const start_rule& r = table.rule[table.rule_of[q[0]]];
  // 8 * end, or an odd number if there is no end within 15 bytes; without
  // a select, as a branch here would follow the integers' lengths.
  const unsigned in_a = static_cast<unsigned>(std::countr_zero((after >> 7) | (word{1} << 63)));
  const unsigned at = in_a + ((0 - (in_a & 1)) & (lowest(non_digits(yb)) - 6));
  const unsigned end = at >> 3, stop = lowest(stops(block::load_le64(q + end)));
  const unsigned digits = end - static_cast<unsigned>(r.first);
  const word low = (block::load_le64(q + end - 8) ^ bytes_of('0')) & table.low_digits[digits];
  const word high = (block::load_le64(q + end - 16) ^ bytes_of('0')) & table.high_digits[digits];
  return {low, high, r.negative, end + (stop >> 3), non_digit & r.digit_at, (at ^ 1) & stop};
}

// Two integers read from one word: the first (of up to 6 bytes, as the
// white space after it and the next start must be in the word), and the
// second if it fits too (`both` all ones). Digits are right-aligned; with
// `Signed`, negated for a minus, else with their signs apart.
struct pair {
  word first, second, both, negative[2];
  unsigned length;
  word odd;
  unsigned found;
};

// Bytes from the integer's first digit on that are not digits, and where
// white space after them stops (commas stop too: read_long takes those).
struct short_end {
  unsigned end, stop;
  word stop_bit;
};

[[gnu::always_inline]] inline short_end end_of(word non_white, word after) {
  const word next = non_white & (after | (0 - after));
  return {lowest(after), lowest(next), next & (0 - next)};
}

template <bool Signed>
[[gnu::always_inline]] inline pair read_short(const unsigned char* q) {
  const word w = block::load_le64(q), y = w ^ bytes_of('0');
  const word non_digit = non_digits(y), non_white = non_white_of(w, controls(w));
  const unsigned rule = table.rule_of[q[0]];
  const start_rule& r = table.rule[rule];
  // The first starts at byte 0; the second where white space after it stops.
  const short_end one = end_of(non_white, non_digit & ~word{0x80});
  const unsigned at = one.stop >> 3, rule2 = table.rule_of[q[at]];
  const start_rule& r2 = table.rule[rule2];
  const word must_be_digit = one.stop_bit * r2.step;
  const short_end two = end_of(non_white, non_digit & (0 - (one.stop_bit << 1)));
  const word both = 0 - static_cast<word>(two.stop & 1);
  const word first = (y & r.keep) * table.scale[Signed ? rule : 0][one.end];
  const word second = (y & (0 - (must_be_digit >> 7))) * table.scale[Signed ? rule2 : 0][two.end];
  return {first,
          second,
          both,
          {Signed ? 0 : r.negative, Signed ? 0 : r2.negative},
          at + (((two.stop >> 3) - at) & static_cast<unsigned>(both)),
          (non_digit & r.digit_at) | (non_digit & must_be_digit & both),
          one.stop};
}

// The value of a word's bytes as decimal places, the first byte the highest;
// bytes may be up to 252.
constexpr std::uint32_t weigh(word w) {
  constexpr word bytes = 0x00ff00ff00ff00ffu, pairs = 0x0000ffff0000ffffu;
  w = (w & bytes) * 10 + (w >> 8 & bytes);
  w = (w & pairs) * 100 + (w >> 16 & pairs);
  return static_cast<std::uint32_t>(w) * 10000 + static_cast<std::uint32_t>(w >> 32);
}

// The sum: each integer's digits added to (or, if negative, taken from) a
// word of bytes that start at 0x80, weighed every `batch` integers, while
// 9 * batch keeps every byte within 0..255.
struct digit_sums {
  static constexpr bool signed_digits = true;
  static constexpr unsigned batch = 14;
  static constexpr word bias = bytes_of(0x80);
  word low = bias, high = bias;
  std::uint32_t total = 0;

  [[gnu::always_inline]] void take(const token& t) {
    low += (t.low ^ t.negative) - t.negative;
    high += (t.high ^ t.negative) - t.negative;
  }
  [[gnu::always_inline]] void take(const pair& p) { low += p.first + (p.second & p.both); }
  void settle() {
    total += weigh(low) - weigh(bias) + 100000000u * (weigh(high) - weigh(bias));
    low = high = bias;
  }
};

// The fold: each integer's value, in order, for the combiner later.
struct value_list {
  static constexpr bool signed_digits = false;
  static constexpr unsigned batch = 32;
  std::uint32_t* end;

  [[gnu::always_inline]] static std::uint32_t value(word low, word high, word negative) {
    const std::uint32_t v = block::eight_digits(low) + 100000000u * block::eight_digits(high);
    const auto minus = static_cast<std::uint32_t>(negative);
    return (v ^ minus) - minus;
  }
  [[gnu::always_inline]] void take(const token& t) { *end++ = value(t.low, t.high, t.negative); }
  [[gnu::always_inline]] void take(const pair& p) {
    end[0] = value(p.first, 0, p.negative[0]);
    end[1] = value(p.second, 0, p.negative[1]);
    end += 1 + (p.both & 1);
  }
  void settle() {}
};

struct cursor {
  const unsigned char* at;
  const unsigned char* end;
};

// What the reads of a segment met: `odd` and `found` as in a token, and
// each token's length + 1 (with read_short, lengths up to 6 fit).
struct findings {
  word odd = 0;
  unsigned found = 1, reach = 0;
  bool good() const { return odd == 0 && (found & 1) != 0; }
};

// One step of a cursor: one integer, or with Short one or two.
template <bool Long, class Out>
[[gnu::always_inline]] inline const unsigned char* step(const unsigned char* q, Out& out, findings& f) {
  const auto t = [q] {
    if constexpr (Long)
      return read_long(q);
    else
      return read_short<Out::signed_digits>(q);
  }();
  out.take(t);
  f.odd |= t.odd;
  f.found &= t.found;
  if constexpr (Long) f.reach |= t.length + 1;
  return q + t.length;
}

// Integers a step may take, and so the steps of both cursors between settles.
template <bool Long, class Out>
constexpr unsigned rounds = Out::batch / (Long ? 2 : 4);

template <bool Long, class Out>
[[gnu::always_inline]] inline const unsigned char* read_alone(const unsigned char* q,
                                                              const unsigned char* end, Out& out,
                                                              findings& f) {
  while (q < end && f.good()) {
    for (unsigned n = 2 * rounds<Long, Out>; n != 0 && q < end; --n) q = step<Long>(q, out, f);
    out.settle();
  }
  return q;
}

// Reads both pieces, side by side while both last, until anything odd. A
// short step may take the integer after the one it reads, which must start
// in the same piece: the last bytes of each are read one integer a step.
template <bool Long, class Out>
void read_pieces(cursor& a, Out& out_a, cursor& b, Out& out_b, findings& found) {
  constexpr std::size_t room = Long ? 0 : 6;
  const unsigned char *p = a.at, *q = b.at, *const p_end = a.end - room, *const q_end = b.end - room;
  findings f = found;
  Out x = out_a, y = out_b;
  while (p < p_end && q < q_end && f.good()) {
    for (unsigned n = rounds<Long, Out>; n != 0 && p < p_end && q < q_end; --n) {
      p = step<Long>(p, x, f);
      q = step<Long>(q, y, f);
    }
    x.settle();
    y.settle();
  }
  p = read_alone<Long>(p, p_end, x, f);
  q = read_alone<Long>(q, q_end, y, f);
  if constexpr (!Long) {
    p = read_alone<true>(p, a.end, x, f);
    q = read_alone<true>(q, b.end, y, f);
  }
  a.at = p;
  b.at = q;
  found = f;
  out_a = x;
  out_b = y;
}

bool is_white(unsigned char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

const unsigned char* skip_white(const unsigned char* q, const unsigned char* limit) {
  while (q < limit && is_white(*q)) ++q;
  return q;
}

constexpr std::size_t piece_bytes = 192, newline_window = 128;

// The first newline in [q, q + newline_window), if any before `limit`;
// words may be read up to `margin` bytes past it.
const unsigned char* find_newline(const unsigned char* q, const unsigned char* limit) {
  for (const unsigned char* to = std::min(q + newline_window, limit); q < to; q += 8) {
    const word x = block::load_le64(q) ^ bytes_of('\n');
    const word hit = (x - bytes_of(1)) & ~x & high_bits;
    if (hit != 0) {
      const unsigned char* nl = q + std::countr_zero(hit) / 8;
      return nl < to ? nl : nullptr;
    }
  }
  return nullptr;
}

// A stretch read as two pieces when a newline splits it: piece 0 ends where
// piece 1's first integer starts.
struct segment {
  cursor piece[2];
  bool split;
};

segment plan(const unsigned char* at, const unsigned char* limit) {
  const std::size_t piece = std::min<std::size_t>(piece_bytes, static_cast<std::size_t>(limit - at) / 2);
  if (piece >= 32) {
    if (const unsigned char* nl = find_newline(at + piece, limit)) {
      const unsigned char* second = skip_white(nl + 1, limit);
      // Pieces of about the same length, so that the cursors finish together.
      const std::size_t length = std::min<std::size_t>(second - at, piece_bytes + newline_window);
      if (second < limit) return {{{at, second}, {second, std::min(second + length, limit)}}, true};
    }
  }
  const unsigned char* end = std::min(at + 2 * piece_bytes, limit);
  return {{{at, end}, {end, end}}, false};
}

// Values a piece may leave for the combiner: one a byte at most, while
// nothing odd is met, and what the checks between batches let through.
constexpr std::size_t piece_values = piece_bytes + newline_window + 2 * value_list::batch;

void apply(fold_carry& c, const std::uint32_t* v, const std::uint32_t* end) {
  if (v == end) return;
  int r = c.any ? c.f(c.result, static_cast<int>(*v)) : static_cast<int>(*v);
  for (++v; v != end; ++v) r = c.f(r, static_cast<int>(*v));
  c.result = r;
  c.any = true;
}

// A segment read side by side; false, with nothing taken, if anything was
// odd there or piece 0 did not end where piece 1 starts.
template <bool Long>
bool read_segment(sum_carry& c, segment& s, findings& f) {
  digit_sums a, b;
  read_pieces<Long>(s.piece[0], a, s.piece[1], b, f);
  if (!f.good() || s.piece[0].at != s.piece[0].end) return false;
  c.sum += a.total + b.total;
  return true;
}

template <bool Long>
bool read_segment(fold_carry& c, segment& s, findings& f) {
  std::uint32_t values[2][piece_values];
  value_list a{values[0]}, b{values[1]};
  read_pieces<Long>(s.piece[0], a, s.piece[1], b, f);
  if (!f.good() || s.piece[0].at != s.piece[0].end) return false;
  apply(c, values[0], a.end);
  apply(c, values[1], b.end);
  return true;
}

// One cursor up to `end`, stopping at the first integer the words cannot
// read for sure; what it took is in the carry.
const unsigned char* read_carefully(sum_carry& c, const unsigned char* q, const unsigned char* end) {
  digit_sums d;
  for (unsigned n = 0; q < end;) {
    const token t = read_long(q);
    if (t.odd != 0 || (t.found & 1) == 0) break;
    d.take(t);
    q += t.length;
    if (++n % digit_sums::batch == 0) d.settle();
  }
  d.settle();
  c.sum += d.total;
  return q;
}

const unsigned char* read_carefully(fold_carry& c, const unsigned char* q, const unsigned char* end) {
  std::uint32_t values[piece_values];
  value_list v{values};
  while (q < end) {
    const token t = read_long(q);
    if (t.odd != 0 || (t.found & 1) == 0) break;
    v.take(t);
    q += t.length;
    if (v.end == values + piece_values) {
      apply(c, values, v.end);
      v.end = values;
    }
  }
  apply(c, values, v.end);
  return q;
}

// How the last segments went: whether their integers all fitted
// read_short, and how many more to read with one cursor after a failure.
struct modes {
  bool short_first = true;
  unsigned careful = 0;
};

// Reads from an integer's start up to `limit`; returns where it stopped:
// past `limit`, or at an integer the byte-at-a-time scanner must take.
template <class Carry>
const unsigned char* read_fast(Carry& c, const unsigned char* at, const unsigned char* limit, modes& m) {
  while (at < limit) {
    const segment s = plan(at, limit);
    if (s.split && m.careful == 0) {
      segment tried = s;
      findings f;
      if (m.short_first && read_segment<false>(c, tried, f)) {
        at = tried.piece[1].at;
        continue;
      }
      tried = s;
      f = {};
      if (read_segment<true>(c, tried, f)) {
        m.short_first = f.reach < 8;
        at = tried.piece[1].at;
        continue;
      }
      m.short_first = false;
      m.careful = 8;
    } else if (m.careful != 0) {
      --m.careful;
    }
    const unsigned char* end = s.piece[1].end;
    at = read_carefully(c, at, end);
    if (at < end) break;
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
  const unsigned char* at = p;
  const unsigned char* const limit = n > margin ? p + n - margin : p;
  modes m;
  bool by_bytes = c.state.at != phase::blank;
  while (at < limit) {
    // Byte by byte until white space before an integer again, and over the
    // chunk's first bytes, as the words read behind an integer's start.
    if (by_bytes || at < p + behind) {
      const std::size_t want = by_bytes ? 64 : static_cast<std::size_t>(p + behind - at);
      const std::size_t piece = std::min(want, static_cast<std::size_t>(limit - at));
      if (exact(c, at, piece, false).ended) return {n, true};
      at += piece;
      by_bytes = c.state.at != phase::blank;
      continue;
    }
    at = skip_white(at, limit);
    if (at == limit) break;
    at = read_fast(c, at, limit, m);
    by_bytes = at < limit;
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
