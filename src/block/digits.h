// Digits to values, eight to a 64-bit word, on any CPU: what every kernel's
// integers fall back on, and the powers of ten the weights come from.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "block/block.h"

namespace intsum {
namespace block {
namespace {

// 10^n mod 2^32, for n up to 64. From 10^32 on, a multiple of 2^32, all are 0.
struct powers_of_ten {
  std::uint32_t of[65];
};

constexpr powers_of_ten make_powers_of_ten() {
  powers_of_ten t{};
  std::uint32_t power = 1;
  for (unsigned n = 0; n <= 64; ++n, power *= 10) t.of[n] = power;
  return t;
}

inline constexpr powers_of_ten ten_to = make_powers_of_ten();

// Eight bytes as a little-endian word, whatever the CPU.
INTSUM_ALWAYS_INLINE std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

// For an integer of `length` digits, up to 16, the bytes of its last 8 and
// of the 8 before them that are its own: the last bytes of each of the two
// little-endian words that end with them.
struct digit_mask_table {
  std::uint64_t low[17], high[17];
};

constexpr digit_mask_table make_digit_masks() {
  digit_mask_table t{};
  for (unsigned length = 0; length <= 16; ++length) {
    const unsigned low = length < 8 ? length : 8, high = length - low;
    t.low[length] = low == 0 ? 0 : ~std::uint64_t{0} << (8 * (8 - low));
    t.high[length] = high == 0 ? 0 : ~std::uint64_t{0} << (8 * (8 - high));
  }
  return t;
}

inline constexpr digit_mask_table digit_masks = make_digit_masks();

// The value of the eight digit values in the bytes of w, the first in the
// lowest byte: pairs, then fours, then all eight, each step one multiply.
INTSUM_ALWAYS_INLINE std::uint32_t eight_digits(std::uint64_t w) {
  w = (w * (10 * 256 + 1)) >> 8 & 0x00ff00ff00ff00ffu;
  w = (w * (100 * 65536 + 1)) >> 16 & 0x0000ffff0000ffffu;
  return static_cast<std::uint32_t>((w * (10000 * (std::uint64_t{1} << 32) + 1)) >> 32);
}

// The digit values of the `length` bytes from b, 1 to 8, as the last bytes
// of a word: those before them count as leading zeros. The bytes up to b + 7
// must be readable.
INTSUM_ALWAYS_INLINE std::uint64_t digits_at(const unsigned char* b, unsigned length) {
  // Exclusive or turns '0' to '9' into 0 to 9, with no borrow between bytes.
  return (load_le64(b) ^ 0x3030303030303030u) << (8 * (8 - length));
}

// The value mod 2^32 of the `length` digits from b: up to 8, or up to 16
// with `Long`. The 8 bytes from b, and from the last 8 digits, must be readable.
template <bool Long>
INTSUM_ALWAYS_INLINE std::uint32_t short_value(const unsigned char* b, unsigned length) {
  if constexpr (!Long) {
    return eight_digits(digits_at(b, length));
  } else {
    // The last eight or fewer, and before them the rest, if any.
    const unsigned high = length > 8 ? length - 8 : 0;
    const std::uint64_t first = high == 0 ? 0 : digits_at(b, high);
    return eight_digits(first) * 100000000u + eight_digits(digits_at(b + high, length - high));
  }
}

// The value mod 2^32 of the `length` digits from b, any number of them:
// the first 1 to 8, then eight at a time. The 7 bytes after them must be
// readable.
inline std::uint32_t value_of_digits(const unsigned char* b, unsigned length) {
  const unsigned first = (length - 1) % 8 + 1;
  std::uint32_t v = eight_digits(digits_at(b, first));
  for (unsigned at = first; at < length; at += 8) v = v * 100000000u + eight_digits(digits_at(b + at, 8));
  return v;
}

}  // namespace
}  // namespace block
}  // namespace intsum
