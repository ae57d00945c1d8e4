// The AVX-512 kernel's byte classes: one byte permute gives each byte four
// class bits, and a group's class bytes are transposed into masks, eight
// blocks to a vector, with no mask register in between (docs/design.md,
// "AVX-512").
#pragma once

#include <array>
#include <cstdint>

#include "block/classes.h"
#include "x86/avx512/intrinsics.h"
#include "x86/avx512/lanes.h"

namespace intsum {
namespace block {
namespace {

// Four class bits for the bytes below 0x40, looked up by one byte permute;
// every byte from 0x40 on is other, in none of the classes. Minus, comma
// and other white space share one bit, "variant", which with the others tells
// all apart (classes::of_variant): four bits let two blocks share one class
// byte, the second block's bits four places up.
enum : unsigned char { is_digit = 1, is_separator = 2, is_sign = 4, is_variant = 8 };

constexpr unsigned char class_bits(byte_class c) {
  switch (c) {
    case byte_class::digit:
      return is_digit;
    case byte_class::minus:
      return is_sign | is_variant;
    case byte_class::plus:
      return is_sign;
    case byte_class::space:
      return is_separator;
    case byte_class::comma:
      return is_separator | is_variant;
    case byte_class::other_white:
      return is_variant;
    case byte_class::other:
      break;
  }
  return 0;
}

constexpr std::array<unsigned char, 64> make_class_table(unsigned shift) {
  std::array<unsigned char, 64> t{};
  for (unsigned c = 0; c < t.size(); ++c)
    t[c] = static_cast<unsigned char>(class_bits(class_of(static_cast<unsigned char>(c))) << shift);
  return t;
}

struct class_tables {
  alignas(64) std::array<unsigned char, 64> low = make_class_table(0), high = make_class_table(4);
};

inline constexpr class_tables class_table{};
// The table holds the bytes below 0x40; those from 0x40 on are clamped to
// 0x40 and read entry 0.
static_assert(other_from(0x40), "every byte from 0x40 on must be other, as the table leaves them out");
static_assert(class_table.low[0] == 0, "bytes from 0x40 on are looked up as NUL, which must be other");

// For the transpose of a group's class bytes into masks.
struct transpose_table {
  alignas(64) unsigned char reverse[64];   // the bytes of each 64-bit lane in reverse order
  alignas(64) unsigned char one_hot[64];   // byte i of each lane: bit i
  alignas(64) unsigned char by_class[64];  // lane b: byte b of each lane
  // Class lanes b and b + 4 of two vectors, then b + 1 and b + 5: b = 0, 2.
  alignas(64) std::uint64_t gather[2][8];
};

constexpr transpose_table make_transpose_table() {
  transpose_table t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.reverse[i] = static_cast<unsigned char>((i & ~7u) + 7 - (i & 7) - (i & ~15u));
    t.one_hot[i] = static_cast<unsigned char>(1u << (i & 7));
    t.by_class[i] = static_cast<unsigned char>(8 * (i & 7) + i / 8);
  }
  for (unsigned b = 0; b < 2; ++b)
    for (unsigned i = 0; i < 8; ++i) t.gather[b][i] = 2 * b + i / 4 + 4 * (i % 2) + 8 * (i / 2 % 2);
  return t;
}

inline constexpr transpose_table transposes = make_transpose_table();

// _mm512_shuffle_i64x2 controls: the lower or upper 256 bits of each source.
inline constexpr int lower_halves = 0x44, upper_halves = 0xee;
// The byte that the GF(2) affine map adds: none.
inline constexpr int no_constant = 0;

INTSUM_ALWAYS_INLINE __m512i splat8(int c) { return _mm512_set1_epi8(static_cast<char>(c)); }

// The vectors classification needs, made once per chunk.
struct classifier512 {
  __m512i below_class = splat8(0x40);
  __m512i class_low = _mm512_load_si512(class_table.low.data()),
          class_high = _mm512_load_si512(class_table.high.data());
  __m512i reverse = _mm512_load_si512(transposes.reverse), one_hot = _mm512_load_si512(transposes.one_hot),
          by_class = _mm512_load_si512(transposes.by_class);
  __m512i gather01 = _mm512_load_si512(transposes.gather[0]),
          gather23 = _mm512_load_si512(transposes.gather[1]);

  classifier512() {
    opaque(below_class, class_low, class_high, reverse, one_hot, by_class, gather01, gather23);
  }

  // Bytes from 0x40 on become 0x40, which the permute reads as entry 0,
  // NUL's: other, as they are. An unsigned min costs less than a compare
  // into a mask register.
  INTSUM_ALWAYS_INLINE __m512i class_bytes(__m512i v, __m512i table) const {
    return _mm512_permutexvar_epi8(_mm512_min_epu8(v, below_class), table);
  }

  INTSUM_ALWAYS_INLINE classes classify(const unsigned char* p) const {
    const __m512i c = class_bytes(_mm512_loadu_si512(p), class_low);
    auto has = [&c](int bits) { return _mm512_test_epi8_mask(c, splat8(bits)); };
    return classes::of_variant(has(is_digit), has(is_separator), has(is_sign), has(is_variant));
  }

  // The classes of eight blocks, lane j for block j. Two blocks share each
  // class byte. The bit matrix of each 64-bit lane (its bytes in reverse
  // order) is transposed by a GF(2) affine map with the lane as the matrix,
  // so that byte b of lane q holds class bit b of bytes 8q to 8q + 7; those
  // bytes gathered by class bit make lane b the mask of class b of the first
  // block and lane b + 4 that of the second. Then the lanes of the eight
  // blocks are gathered by class.
  INTSUM_ALWAYS_INLINE group_classes classify_group(const unsigned char* p) const {
    __m512i u[4];
    for (int h = 0; h < 4; ++h) {
      const __m512i c = _mm512_or_si512(class_bytes(_mm512_loadu_si512(p + 128 * h), class_low),
                                        class_bytes(_mm512_loadu_si512(p + 128 * h + 64), class_high));
      u[h] = _mm512_permutexvar_epi8(
          by_class, _mm512_gf2p8affine_epi64_epi8(one_hot, _mm512_shuffle_epi8(c, reverse), no_constant));
    }
    // Classes b and b + 1 of blocks 0 to 3, then of blocks 4 to 7.
    const __m512i first01 = _mm512_permutex2var_epi64(u[0], gather01, u[1]),
                  last01 = _mm512_permutex2var_epi64(u[2], gather01, u[3]),
                  first23 = _mm512_permutex2var_epi64(u[0], gather23, u[1]),
                  last23 = _mm512_permutex2var_epi64(u[2], gather23, u[3]);
    const __m512i digit = _mm512_shuffle_i64x2(first01, last01, lower_halves),
                  separator = _mm512_shuffle_i64x2(first01, last01, upper_halves),
                  sign = _mm512_shuffle_i64x2(first23, last23, lower_halves),
                  variant = _mm512_shuffle_i64x2(first23, last23, upper_halves);
    return group_classes::of_variant(digit, separator, sign, variant);
  }
};

}  // namespace
}  // namespace block
}  // namespace intsum
