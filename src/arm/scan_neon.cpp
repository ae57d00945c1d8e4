// The kernel for Advanced SIMD (NEON), part of every aarch64 CPU: the
// classes and rules of rules.h, then every digit weighed by its place, with
// the work cut to fit two 128-bit pipes. As in the AVX-512 kernel, runs come
// from windows of the digit mask.
//
// A block is loaded with ld4, so vector j holds bytes j, j + 4, j + 8, ...:
// lane i of vector j is byte 4i + j. Byte masks then come out in block order
// from a few shift-and-insert steps, and a shift of 4m bytes is a move of m
// lanes. Byte classes come from one 64-entry table lookup as three code bits;
// digit runs up to 8 from windows of the digit mask, up to 16 by doubling,
// and weights from 16-entry lookups (docs/design.md, "NEON").
#include <arm_neon.h>

#include <bit>
#include <type_traits>

#include "block/chunk.h"
#include "core/kernels.h"

namespace intsum {
namespace {

using namespace block;

// Each weight 10^k mod 2^32 as four signed bytes t0..t3 with
// t0 + t1 2^8 + t2 2^16 + t3 2^24 = 10^k mod 2^32, so that signed digits
// times them fit signed 8-bit multiplies. Entry r is for run r (place
// r - 1), up to 15, with 0 for no digit.
struct signed_weights {
  alignas(16) std::int8_t by_run[4][16];
};

constexpr signed_weights make_signed_weights() {
  signed_weights w{};
  std::uint32_t power = 1;
  for (unsigned r = 1; r <= looked_up_runs; ++r, power *= 10) {
    std::int64_t x = power;
    for (unsigned b = 0; b < 4; ++b) {
      std::int64_t t = x & 0xff;
      if (t >= 128) t -= 256;
      w.by_run[b][r] = static_cast<std::int8_t>(t);
      x = (x - t) / 256;
    }
  }
  return w;
}

constexpr signed_weights weights = make_signed_weights();

// Code bits of the byte classes: x (bit 7), y (bit 0) and z (bit 6); 0 for
// every other byte, those of 0x40 and above included (out of the table).
constexpr unsigned char x_bit = 0x80, y_bit = 0x01, z_bit = 0x40;

constexpr unsigned char code_of(byte_class c) {
  switch (c) {
    case byte_class::digit:
      return x_bit;
    case byte_class::other_white:
      return y_bit;
    case byte_class::space:
      return z_bit;
    case byte_class::comma:
      return y_bit | z_bit;
    case byte_class::minus:
      return x_bit | y_bit;
    case byte_class::plus:
      return x_bit | z_bit;
    case byte_class::other:
      break;
  }
  return 0;
}

struct class_table {
  alignas(16) unsigned char code[64];
};

constexpr class_table make_class_table() {
  class_table t{};
  for (unsigned c = 0; c < 64; ++c) t.code[c] = code_of(class_of(static_cast<unsigned char>(c)));
  return t;
}

constexpr class_table classes_of = make_class_table();
// tbl gives 0 for an index past the table, and 0 is other's code.
static_assert(other_from(sizeof classes_of.code), "every byte past the table must be other");
static_assert(code_of(byte_class::other) == 0);

using quad = uint8x16x4_t;

// The mask of bit 7 of every byte of a block held as ld4 left it.
INTSUM_ALWAYS_INLINE std::uint64_t top_bits(const quad& c) {
  const uint8x16_t t01 = vsriq_n_u8(c.val[1], c.val[0], 1);
  const uint8x16_t t23 = vsriq_n_u8(c.val[3], c.val[2], 1);
  const uint8x16_t t = vsriq_n_u8(t23, t01, 2);
  // Each byte now holds the four bits of its lane in its top nibble.
  const uint8x16_t both = vsriq_n_u8(t, t, 4);
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(both), 4)), 0);
}

// The same for bit 0.
INTSUM_ALWAYS_INLINE std::uint64_t bottom_bits(const quad& c) {
  const uint8x16_t t01 = vsliq_n_u8(c.val[0], c.val[1], 1);
  const uint8x16_t t23 = vsliq_n_u8(c.val[2], c.val[3], 1);
  const uint8x16_t t = vsliq_n_u8(t01, t23, 2);
  const uint8x16_t both = vsliq_n_u8(t, t, 4);
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(both), 4)), 0);
}

// Calls f(j) for j = 0 to 3, as constants: GCC keeps loops over the four
// vectors of a block rolled, with the vectors in memory.
template <class F>
INTSUM_ALWAYS_INLINE void each4(F&& f) {
  f(std::integral_constant<int, 0>{});
  f(std::integral_constant<int, 1>{});
  f(std::integral_constant<int, 2>{});
  f(std::integral_constant<int, 3>{});
}

// The operations of convert_values_of_two (values.h) on a block as ld4
// loads it. Byte 4i + j - 1 is lane i of vector j - 1, or lane i - 1 of
// vector 3.
struct quad_bytes {
  INTSUM_ALWAYS_INLINE static quad byte_before(const quad& x) {
    return {{vextq_u8(vdupq_n_u8(0), x.val[3], 15), x.val[0], x.val[1], x.val[2]}};
  }
  INTSUM_ALWAYS_INLINE static quad times_ten(const quad& x) {
    quad r;
    each4([&](auto j) { r.val[j] = vmulq_u8(x.val[j], vdupq_n_u8(10)); });
    return r;
  }
  INTSUM_ALWAYS_INLINE static quad add(const quad& x, const quad& y) {
    quad r;
    each4([&](auto j) { r.val[j] = vaddq_u8(x.val[j], y.val[j]); });
    return r;
  }
  INTSUM_ALWAYS_INLINE static void read_off(const quad& x, std::uint64_t ends, std::uint32_t* out) {
    alignas(16) std::int8_t value[block_bytes];
    vst4q_u8(reinterpret_cast<std::uint8_t*>(value), x);
    read_off_each(value, ends, out);
  }
};

struct neon_blocks {
  struct constants {
    uint8x16_t zero_char = vdupq_n_u8('0'), ones = vdupq_n_u8(0xff), seven = vdupq_n_u8(7);
    uint8x16x4_t classes;
    // Lane i takes byte i / 2 of a mask, or the byte after it.
    uint8x16_t this_byte = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7};
    uint8x16_t next_byte = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8};
    // Lane i of vector j is byte p = 4i + j, bit p % 8 of its mask byte.
    int8x16_t down[4], up[4];    // shifts that line bits p to p + 7 up from two mask bytes
    uint8x16_t bit[4];           // 1 << (p % 8)
    uint8x16_t to_end[4];        // 63 - p: a run longer from p reaches the block's end
    int8x16_t weight_by_run[4];  // signed weight byte b

    constants() {
      // Loads are macros in Clang, which it does not take in member initializers.
      for (int j = 0; j < 4; ++j) classes.val[j] = vld1q_u8(classes_of.code + 16 * j);
      for (int j = 0; j < 4; ++j) {
        alignas(16) std::int8_t d[16], u[16];
        alignas(16) std::uint8_t b[16], e[16];
        for (int i = 0; i < 16; ++i) {
          const int p = 4 * i + j;
          d[i] = static_cast<std::int8_t>(-(p % 8));
          u[i] = static_cast<std::int8_t>(8 - p % 8);
          b[i] = static_cast<std::uint8_t>(1u << (p % 8));
          e[i] = static_cast<std::uint8_t>(63 - p);
        }
        down[j] = vld1q_s8(d);
        up[j] = vld1q_s8(u);
        bit[j] = vld1q_u8(b);
        to_end[j] = vld1q_u8(e);
        weight_by_run[j] = vld1q_s8(weights.by_run[j]);
      }
    }

    // 0xff in the bytes whose bit is set in m.
    INTSUM_ALWAYS_INLINE quad expand(std::uint64_t m) const {
      const uint8x16_t spread = vqtbl1q_u8(vreinterpretq_u8_u64(vdupq_n_u64(m)), this_byte);
      return {{vtstq_u8(spread, bit[0]), vtstq_u8(spread, bit[1]), vtstq_u8(spread, bit[2]),
               vtstq_u8(spread, bit[3])}};
    }
  };

  struct accumulators {
    // Sums of signed digit times weight byte, one per byte of the weight.
    // Byte 0 needs all 32 bits, byte 1 the low 24; bytes 2 and 3 are needed
    // only mod 2^16 and 2^8 and stay in lanes of that width.
    int32x4_t byte0 = vdupq_n_s32(0), byte1 = vdupq_n_s32(0);
    int16x8_t byte2 = vdupq_n_s16(0);
    int8x16_t byte3 = vdupq_n_s8(0);
  };

  // The sum of a block weighed in words (weights.h), in one lane of a sum
  // that counts once: the accumulators stay all vectors, in registers.
  INTSUM_ALWAYS_INLINE static void add_weighed_in_words(accumulators& acc, std::uint32_t sum) {
    acc.byte0 = vaddq_s32(acc.byte0, vsetq_lane_s32(static_cast<std::int32_t>(sum), vdupq_n_s32(0), 0));
  }

  INTSUM_ALWAYS_INLINE static classes classify(const unsigned char* p, const constants& k) {
    const quad v = vld4q_u8(p);
    const quad code = {{vqtbl4q_u8(k.classes, v.val[0]), vqtbl4q_u8(k.classes, v.val[1]),
                        vqtbl4q_u8(k.classes, v.val[2]), vqtbl4q_u8(k.classes, v.val[3])}};
    const std::uint64_t x = top_bits(code), y = bottom_bits(code);
    const std::uint64_t z = top_bits({{vshlq_n_u8(code.val[0], 1), vshlq_n_u8(code.val[1], 1),
                                       vshlq_n_u8(code.val[2], 1), vshlq_n_u8(code.val[3], 1)}});
    return classes::of(x & ~(y | z), x & y, x & z, z & ~(x | y), y & z, y & ~(x | z));
  }

  // Run lengths up to 8, from each byte: the trailing zeros of the 8 bits
  // of the inverted digit mask from that byte on (bits past 63 read as 1).
  INTSUM_ALWAYS_INLINE static quad short_runs(std::uint64_t digit, const constants& k) {
    const uint8x16_t not_digit =
        vreinterpretq_u8_u64(vsetq_lane_u64(~digit, vreinterpretq_u64_u8(k.ones), 0));
    const uint8x16_t here = vqtbl1q_u8(not_digit, k.this_byte), after = vqtbl1q_u8(not_digit, k.next_byte);
    quad runs;
    each4([&](auto j) {
      runs.val[j] = vclzq_u8(vrbitq_u8(vorrq_u8(vshlq_u8(here, k.down[j]), vshlq_u8(after, k.up[j]))));
    });
    return runs;
  }

  // Doubling: where the run from a byte is S = 4 Lanes, the most the last
  // step can give, add the run from S bytes on, Lanes lanes further. The
  // run less S - 1, saturating, is 1 there and 0 elsewhere.
  template <int Lanes>
  INTSUM_ALWAYS_INLINE static void extend(quad& runs, uint8x16_t s_less_one) {
    each4([&](auto j) {
      const uint8x16_t further = vextq_u8(runs.val[j], vdupq_n_u8(0), Lanes);
      runs.val[j] = vmlaq_u8(runs.val[j], vqsubq_u8(runs.val[j], s_less_one), further);
    });
  }

  // Every live digit's run, exactly, in a block with none over 15: windows
  // give 8, one doubling 16.
  static_assert(looked_up_runs <= 2 * 8);
  INTSUM_ALWAYS_INLINE static quad live_runs(const block_plan& plan, const constants& k) {
    quad runs = short_runs(plan.digit, k);
    extend<2>(runs, k.seven);
    // A run that reaches the end of the block goes on into the next one.
    const uint8x16_t next_run = vdupq_n_u8(static_cast<std::uint8_t>(plan.next_run()));
    each4(
        [&](auto j) { runs.val[j] = vmlaq_u8(runs.val[j], vqsubq_u8(runs.val[j], k.to_end[j]), next_run); });
    if (plan.live != plan.digit) {
      const quad live = k.expand(plan.live);
      each4([&](auto j) { runs.val[j] = vandq_u8(runs.val[j], live.val[j]); });
    }
    return runs;
  }

  // The products of signed digits and weight bytes of one block, in two
  // chains: vectors 0 and 1, 2 and 3. Each 16-bit lane of the two chains'
  // sum holds 8 products of at most 9 * 128; byte 3 is needed only mod 2^8.
  static_assert(8 * 9 * 128 <= 0x7fff, "a block's products overflow 16 bits");
  struct products {
    int16x8_t low[3][2];
    int8x16_t byte3[2];
  };

  template <int J, int B>
  INTSUM_ALWAYS_INLINE static void add_product(products& sum, int8x16_t signed_digit, int8x16_t w) {
    constexpr int chain = J / 2;
    constexpr bool first = J % 2 == 0;
    if constexpr (B == 3) {
      sum.byte3[chain] = first ? vmulq_s8(signed_digit, w) : vmlaq_s8(sum.byte3[chain], signed_digit, w);
    } else {
      int16x8_t& p = sum.low[B][chain];
      p = first ? vmull_s8(vget_low_s8(signed_digit), vget_low_s8(w))
                : vmlal_s8(p, vget_low_s8(signed_digit), vget_low_s8(w));
      p = vmlal_high_s8(p, signed_digit, w);
    }
  }

  INTSUM_ALWAYS_INLINE static void weigh(const unsigned char* p, const block_plan& plan, accumulators& acc,
                                         const constants& k) {
    if (plan.live == 0) return;
    if (runs_over<looked_up_runs>(plan.digit, plan.next_run())) [[unlikely]] {
      add_weighed_in_words(acc, weigh_in_words(p, plan));
      return;
    }
    const quad v = vld4q_u8(p);
    const quad runs = live_runs(plan, k);
    const quad negative = k.expand(plan.negative);
    products sum;
    each4([&](auto j) {
      const int8x16_t digit = vreinterpretq_s8_u8(vsubq_u8(v.val[j], k.zero_char));
      const int8x16_t neg = vreinterpretq_s8_u8(negative.val[j]);
      const int8x16_t signed_digit = vsubq_s8(veorq_s8(digit, neg), neg);
      each4([&](auto b) {
        constexpr int J = decltype(j)::value, B = decltype(b)::value;
        add_product<J, B>(sum, signed_digit, vqtbl1q_s8(k.weight_by_run[B], runs.val[J]));
      });
    });
    acc.byte0 = vpadalq_s16(acc.byte0, vaddq_s16(sum.low[0][0], sum.low[0][1]));
    acc.byte1 = vpadalq_s16(acc.byte1, vaddq_s16(sum.low[1][0], sum.low[1][1]));
    acc.byte2 = vaddq_s16(acc.byte2, vaddq_s16(sum.low[2][0], sum.low[2][1]));
    acc.byte3 = vaddq_s8(acc.byte3, vaddq_s8(sum.byte3[0], sum.byte3[1]));
  }

  // The fold converts blocks of integers of up to two digits from every
  // byte at once (values.h), the others in words.
  static constexpr unsigned converted_digits = 2;
  INTSUM_ALWAYS_INLINE static void convert(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch, const constants& k) {
    const quad v = vld4q_u8(p), counts = k.expand(plan.live), minus = k.expand(plan.negative);
    quad d;
    each4([&](auto j) {
      const uint8x16_t x = vandq_u8(vsubq_u8(v.val[j], k.zero_char), counts.val[j]);
      d.val[j] = vsubq_u8(veorq_u8(x, minus.val[j]), minus.val[j]);
    });
    convert_values_of_two(quad_bytes{}, d, at, plan.negative, batch);
  }

  static std::uint32_t total(const accumulators& acc) {
    return sum_of_lanes<std::int32_t>(acc.byte0) + (sum_of_lanes<std::int32_t>(acc.byte1) << 8) +
           (sum_of_lanes<std::int16_t>(acc.byte2) << 16) + (sum_of_lanes<std::int8_t>(acc.byte3) << 24);
  }
};

}  // namespace

// Everything inlined, lambdas too, so that the vectors stay in registers.
[[gnu::flatten]] chunk_result sum_neon(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<summing<neon_blocks>>(c, p, n, eof);
}

[[gnu::flatten]] chunk_result fold_neon(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<folding<neon_blocks>>(c, p, n, eof);
}

}  // namespace intsum
