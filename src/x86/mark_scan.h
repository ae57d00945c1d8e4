// The mark-scan kernel, written once for x86 byte vectors of any width
// (vectors.h): AVX2 runs it on two 256-bit vectors a block, SSE4 on four of
// 128 bits. Classes come from compares, masks from movemasks, and each
// digit's place from a max-scan of marks (docs/design.md, "Mark scan: AVX2
// and SSE4"): byte i holds 128 - i where it is no digit, and a digit's run
// is its own mark less the greatest mark from it on, that of the first
// non-digit after it. The scan runs within each 8-byte lane by shifts, then looks two lanes
// ahead, which is exact for runs up to 16; longer runs are weighed in words.
#pragma once

#include <bit>
#include <cstdint>

#include "block/chunk.h"
#include "x86/lane_values.h"
#include "x86/vectors.h"

namespace intsum {
namespace block {
namespace {

// A block in vectors of V, in block order.
template <class V>
struct vectors64 {
  static constexpr unsigned count = block_bytes / V::bytes;
  typename V::type v[count];

  template <class F>
  INTSUM_ALWAYS_INLINE static vectors64 make(F f) {
    vectors64 r;
    for (unsigned i = 0; i < count; ++i) r.v[i] = f(i);
    return r;
  }
  template <class F>
  INTSUM_ALWAYS_INLINE vectors64 map(F f) const {
    return make([&](unsigned i) { return f(v[i]); });
  }
  template <class F>
  INTSUM_ALWAYS_INLINE vectors64 zip(const vectors64& o, F f) const {
    return make([&](unsigned i) { return f(v[i], o.v[i]); });
  }
  // Bit i: the top bit of byte i.
  INTSUM_ALWAYS_INLINE std::uint64_t mask() const {
    std::uint64_t m = 0;
    for (unsigned i = 0; i < count; ++i) m |= V::movemask(v[i]) << (V::bytes * i);
    return m;
  }
  // Byte i takes byte i + N, and past the block the bytes of `fill`.
  template <unsigned N>
  INTSUM_ALWAYS_INLINE vectors64 shift_down(typename V::type fill) const {
    auto at = [&](unsigned i) { return i < count ? v[i] : fill; };
    return make([&](unsigned i) {
      if constexpr (N % V::bytes == 0)
        return at(i + N / V::bytes);
      else
        return V::template funnel<N % V::bytes>(at(i + N / V::bytes), at(i + N / V::bytes + 1));
    });
  }
  INTSUM_ALWAYS_INLINE static vectors64 load(const unsigned char* p) {
    return make([p](unsigned i) { return V::load(p + V::bytes * i); });
  }
};

// Byte by byte, vector by vector.
template <class V>
INTSUM_ALWAYS_INLINE vectors64<V> operator|(const vectors64<V>& a, const vectors64<V>& b) {
  return a.zip(b, [](auto x, auto y) { return V::or_(x, y); });
}
template <class V>
INTSUM_ALWAYS_INLINE vectors64<V> operator&(const vectors64<V>& a, const vectors64<V>& b) {
  return a.zip(b, [](auto x, auto y) { return V::and_(x, y); });
}
template <class V>
INTSUM_ALWAYS_INLINE vectors64<V> operator+(const vectors64<V>& a, const vectors64<V>& b) {
  return a.zip(b, [](auto x, auto y) { return V::add8(x, y); });
}
template <class V>
INTSUM_ALWAYS_INLINE vectors64<V> operator-(const vectors64<V>& a, const vectors64<V>& b) {
  return a.zip(b, [](auto x, auto y) { return V::sub8(x, y); });
}
template <class V>
INTSUM_ALWAYS_INLINE vectors64<V> max_u8(const vectors64<V>& a, const vectors64<V>& b) {
  return a.zip(b, [](auto x, auto y) { return V::max_u8(x, y); });
}
// Each byte negated where `negative` has 0xff.
template <class V>
INTSUM_ALWAYS_INLINE vectors64<V> negate_where(const vectors64<V>& x, const vectors64<V>& negative) {
  return x.zip(negative, [](auto d, auto n) { return V::sub8(V::xor_(d, n), n); });
}

// For each 8-bit mask, the byte shuffle that packs the bytes it selects to
// the front.
struct pack_table {
  alignas(8) unsigned char of[256][8];
};

constexpr pack_table make_pack_table() {
  pack_table t{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned n = 0;
    for (unsigned b = 0; b < 8; ++b)
      if ((m >> b & 1) != 0) t.of[m][n++] = static_cast<unsigned char>(b);
    for (; n < 8; ++n) t.of[m][n] = 0x80;  // zero
  }
  return t;
}

inline constexpr pack_table packs = make_pack_table();

// Writes the bytes of the 64 at `value` that `ends` selects, in order,
// widened to 32 bits, from `out` on, eight bytes at a time with no branch
// on where they are. Up to seven more values are written past them.
INTSUM_ALWAYS_INLINE void read_off_packed(const std::int8_t* value, std::uint64_t ends, std::uint32_t* out) {
  for (unsigned g = 0; g < 8; ++g) {
    const unsigned m = ends >> (8 * g) & 0xff;
    const __m128i packed = _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(value + 8 * g)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(packs.of[m])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_cvtepi8_epi32(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_cvtepi8_epi32(_mm_srli_si128(packed, 4)));
    out += std::popcount(m);
  }
}

// The operations of convert_values_of_two (values.h).
template <class V>
struct vector_bytes {
  using bytes = vectors64<V>;
  INTSUM_ALWAYS_INLINE static bytes byte_before(const bytes& x) {
    return bytes::make([&](unsigned i) {
      return V::template funnel<V::bytes - 1>(i == 0 ? V::zero() : x.v[i - 1], x.v[i]);
    });
  }
  INTSUM_ALWAYS_INLINE static bytes add(const bytes& x, const bytes& y) { return x + y; }
  INTSUM_ALWAYS_INLINE static bytes times_ten(const bytes& x) {
    return x.map([](typename V::type b) {
      const typename V::type twice = V::add8(b, b), four = V::add8(twice, twice);
      return V::add8(V::add8(four, four), twice);
    });
  }
  INTSUM_ALWAYS_INLINE static void read_off(const bytes& x, std::uint64_t ends, std::uint32_t* out) {
    alignas(64) std::int8_t value[block_bytes];
    for (unsigned i = 0; i < bytes::count; ++i) V::store(value + V::bytes * i, x.v[i]);
    read_off_packed(value, ends, out);
  }
};

// The kernel's tables.
struct mark_scan_tables {
  weight_planes weight = make_weight_planes();
  alignas(64) unsigned char mark[64];    // byte i: 128 - i
  alignas(64) unsigned char spread[64];  // byte i: i / 8
  alignas(16) unsigned char lane_start[16];
};

constexpr mark_scan_tables make_mark_scan_tables() {
  mark_scan_tables t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.mark[i] = static_cast<unsigned char>(128 - i);
    t.spread[i] = static_cast<unsigned char>(i / 8);
  }
  for (unsigned i = 0; i < 16; ++i) t.lane_start[i] = static_cast<unsigned char>(i & 8);
  return t;
}

inline constexpr mark_scan_tables mark_scan_table = make_mark_scan_tables();

// The classes by compares, which cost less than lookups here. A range check
// is one signed compare: adding the bias moves the range to the top of the
// signed bytes, just below 0x80. The vectors and the proof that these are
// the classes of class_of share the constants.
struct range_check {
  unsigned char bias, floor;
  constexpr bool operator()(unsigned char c) const {
    return static_cast<signed char>(static_cast<unsigned char>(c + bias)) > static_cast<signed char>(floor);
  }
};
inline constexpr range_check digit_range{0x7f - '9', 0x7f - 10}, other_white_range{0x7f - '\r', 0x7f - 5};
inline constexpr unsigned char minus_byte = '-', plus_byte = '+', space_byte = ' ', comma_byte = ',';

static_assert(tests_class(digit_range, byte_class::digit));
static_assert(tests_class(other_white_range, byte_class::other_white));
static_assert(tests_class([](unsigned char c) { return c == minus_byte; }, byte_class::minus));
static_assert(tests_class([](unsigned char c) { return c == plus_byte; }, byte_class::plus));
static_assert(tests_class([](unsigned char c) { return c == space_byte; }, byte_class::space));
static_assert(tests_class([](unsigned char c) { return c == comma_byte; }, byte_class::comma));

template <class V>
struct mark_scan_constants {
  using vec = typename V::type;
  using bytes = vectors64<V>;
  vec zero_char = V::splat8('0'), digit_bias = V::splat8(digit_range.bias),
      digit_floor = V::splat8(digit_range.floor);
  vec other_white_bias = V::splat8(other_white_range.bias),
      other_white_floor = V::splat8(other_white_range.floor);
  vec minus = V::splat8(minus_byte), plus = V::splat8(plus_byte), space = V::splat8(space_byte),
      comma = V::splat8(comma_byte);
  vec ones16 = V::splat16(1), shift8 = V::splat16(256), five = V::splat8(runs_weighed_in(2)),
      fifteen = V::splat8(looked_up_runs);
  // Byte i holds 128 - i: a non-digit's mark.
  bytes mark = bytes::make([](unsigned i) { return V::load(mark_scan_table.mark + V::bytes * i); });
  // Byte 0 of each 8-byte lane, to all of the lane.
  vec lane_start = V::table16(mark_scan_table.lane_start);
  // For turning bits into bytes: byte i takes byte i / 8 of the mask, then its own bit.
  bytes spread = bytes::make([](unsigned i) { return V::load(mark_scan_table.spread + V::bytes * i); });
  vec bit = V::splat64(0x8040201008040201u);
  // Weight byte b for runs 0 (no digit) to 15.
  vec weight[4] = {V::table16(mark_scan_table.weight.byte[0]), V::table16(mark_scan_table.weight.byte[1]),
                   V::table16(mark_scan_table.weight.byte[2]), V::table16(mark_scan_table.weight.byte[3])};

  mark_scan_constants() {
    opaque(zero_char, digit_bias, digit_floor, other_white_bias, other_white_floor, minus, plus, space, comma,
           ones16, five, fifteen, lane_start, bit);
    for (vec& x : mark.v) opaque(x);
    for (vec& x : spread.v) opaque(x);
  }

  // 0xff in the bytes whose bit is set in m.
  INTSUM_ALWAYS_INLINE bytes expand(std::uint64_t m) const {
    const vec x = V::splat64(m);
    return spread.map([&](vec s) { return V::eq8(V::and_(V::shuffle(x, s), bit), bit); });
  }
  INTSUM_ALWAYS_INLINE vec is_digit(vec x) const { return V::gt8(V::add8(x, digit_bias), digit_floor); }
  INTSUM_ALWAYS_INLINE vec is_other_white(vec x) const {
    return V::gt8(V::add8(x, other_white_bias), other_white_floor);
  }
};

// The kernel, for the drivers of chunk.h (passes.h says what they ask).
// The fold converts blocks of integers of up to two digits from every byte
// at once, and the others in words; a kernel built on this one may convert
// more itself.
template <class V>
struct mark_scan {
  using vec = typename V::type;
  using bytes = vectors64<V>;
  using constants = mark_scan_constants<V>;

  struct accumulators {
    // Sums of digit times weight, the low two bytes of the weight in 32-bit
    // lanes and the high two, needed only mod 2^16, in 16-bit lanes: two
    // sums leave the vector registers free for the rest.
    vec low = V::zero(), high = V::zero();
  };

  // Three masks carry the five classes, as movemasks are what is scarce:
  // space or comma, sign, and minus or comma or other white space.
  INTSUM_ALWAYS_INLINE static classes classify(const unsigned char* p, const constants& k) {
    const bytes v = bytes::load(p);
    auto equal = [&v](vec c) { return v.map([c](vec x) { return V::eq8(x, c); }); };
    const bytes minus = equal(k.minus), comma = equal(k.comma);
    const bytes separator = equal(k.space) | comma, sign = equal(k.plus) | minus;
    const bytes variant = minus | comma | v.map([&k](vec x) { return k.is_other_white(x); });
    return classes::of_variant(v.map([&k](vec x) { return k.is_digit(x); }).mask(), separator.mask(),
                               sign.mask(), variant.mask());
  }

  // For each byte, the greatest mark from it to the end of its 8-byte lane:
  // for a digit, that of the first non-digit after it there, if any.
  INTSUM_ALWAYS_INLINE static bytes lane_marks(const bytes& v, const constants& k) {
    bytes u = v.zip(k.mark, [&k](vec x, vec mark) { return V::and_not(mark, k.is_digit(x)); });
    u = u.map([](vec x) { return V::max_u8(x, V::template srl64<8>(x)); });
    u = u.map([](vec x) { return V::max_u8(x, V::template srl64<16>(x)); });
    return u.map([](vec x) { return V::max_u8(x, V::template srl64<32>(x)); });
  }

  // A digit's run is its mark less the greatest mark after it: that of the
  // first non-digit, from its own lane or the start of one of the next two,
  // or past the block that of the first non-digit of the next block,
  // 64 + next_run places on. From the last byte of a lane that sees 16 bytes
  // on; a longer run there sees only digits' marks, 0, and comes out over 64.
  static constexpr unsigned exact_runs = 16;
  INTSUM_ALWAYS_INLINE static bytes runs(const bytes& v, unsigned next_run, const constants& k) {
    const bytes u = lane_marks(v, k);
    const vec after = V::splat8(static_cast<int>(64 - next_run));
    const bytes start = u.map([&k](vec x) { return V::shuffle(x, k.lane_start); });
    const bytes ahead = max_u8(start.template shift_down<8>(after), start.template shift_down<16>(after));
    return k.mark - max_u8(u, ahead);
  }

  // The digits, signed; those past the end of the list count 0. Other bytes
  // are left as they are, as their runs are 0. Many files have no negative
  // integers at all.
  INTSUM_ALWAYS_INLINE static bytes signed_digits(const bytes& v, const block_plan& plan,
                                                  const constants& k) {
    bytes digit = v.map([&k](vec x) { return V::sub8(x, k.zero_char); });
    if (plan.negative != 0) digit = negate_where(digit, k.expand(plan.negative));
    if (plan.live != plan.digit) digit = digit & k.expand(plan.live);
    return digit;
  }

  // Adds the signed digits times the weights of their runs, for runs up to
  // `Most`: 5 (weights below 2^16) or 15. Each of a block's vectors adds a
  // product pair of at most 2 * 255 * 9 to each 16-bit lane, which must not
  // saturate.
  static_assert(bytes::count * 2 * 255 * 9 <= 0x7fff, "the products of a block overflow 16 bits");
  template <unsigned Most>
  INTSUM_ALWAYS_INLINE static void add_weighted(const bytes& run, const bytes& digit, accumulators& acc,
                                                const constants& k) {
    auto product = [&](int b) {
      vec sum = V::maddubs(V::shuffle(k.weight[b], run.v[0]), digit.v[0]);
      for (unsigned i = 1; i < bytes::count; ++i)
        sum = V::add16(sum, V::maddubs(V::shuffle(k.weight[b], run.v[i]), digit.v[i]));
      return sum;
    };
    acc.low = V::add32(acc.low, V::add32(V::madd16(product(0), k.ones16), V::madd16(product(1), k.shift8)));
    if constexpr (Most > runs_weighed_in(2))
      acc.high = V::add16(acc.high, V::add16(product(2), V::template sll16<8>(product(3))));
  }

  // Whether some run is over `limit`, read off the runs at hand rather
  // than the masks, which costs a third as much.
  INTSUM_ALWAYS_INLINE static bool any_over(vec longest, vec limit) {
    const vec over = V::subs_u8(longest, limit);
    return !V::all_zero(over);
  }

  INTSUM_ALWAYS_INLINE static void weigh(const unsigned char* p, const block_plan& plan, accumulators& acc,
                                         const constants& k) {
    if (plan.live == 0) return;
    const bytes v = bytes::load(p);
    const bytes run = runs(v, plan.next_run(), k), digit = signed_digits(v, plan, k);
    vec longest = run.v[0];
    for (unsigned i = 1; i < bytes::count; ++i) longest = V::max_u8(longest, run.v[i]);
    if (!any_over(longest, k.five)) return add_weighted<runs_weighed_in(2)>(run, digit, acc, k);
    // Runs over exact_runs come out over 64 (the scan sees no mark for them).
    static_assert(looked_up_runs <= exact_runs);
    if (!any_over(longest, k.fifteen)) return add_weighted<looked_up_runs>(run, digit, acc, k);
    // In one lane of the low sums: the accumulators stay all vectors, in registers.
    acc.low = V::add32(acc.low, V::from32(weigh_in_words(p, plan)));
  }

  static std::uint32_t total(const accumulators& acc) {
    return sum_of_lanes<std::uint32_t>(acc.low) + (sum_of_lanes<std::uint16_t>(acc.high) << 16);
  }

  // The live digits, signed, and 0 in every other byte.
  INTSUM_ALWAYS_INLINE static bytes exact_digits(const unsigned char* p, const block_plan& plan,
                                                 const constants& k) {
    const bytes digit =
        bytes::load(p).map([&k](vec x) { return V::sub8(x, k.zero_char); }) & k.expand(plan.live);
    return plan.negative != 0 ? negate_where(digit, k.expand(plan.negative)) : digit;
  }

  // The fold converts integers of up to two digits from every byte at once,
  // and longer ones, up to 16 digits, in vector lanes (lane_values.h).
  static constexpr unsigned converted_digits = 16;
  INTSUM_ALWAYS_INLINE static void convert(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch, const constants& k) {
    if (!has_run<3>(plan.live))
      return convert_values_of_two(vector_bytes<V>{}, exact_digits(p, plan, k), at, plan.negative, batch);
    convert_in_lanes(p, plan, at, batch);
  }
};

}  // namespace
}  // namespace block
}  // namespace intsum
