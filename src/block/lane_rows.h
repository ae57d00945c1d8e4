// The rows by which the fold's lane conversions (arm/lane_values.h,
// x86/lane_values.h) multiply each integer's last 16 bytes, its digits
// once '0' is taken from them.
#pragma once

#include <cstdint>

#include "block/block.h"

namespace intsum {
namespace block {
namespace {

// Row n + 65 negative, for an integer whose last digit is n bytes after
// the last of the integer before it (or after the byte before the block):
// 0 for the bytes of the integer before it, then 10 and 1 by turns, so that
// bytes 14 and 15 are a pair, with the integer's sign. The bytes between
// the two integers are no digits, 0 once '0' is taken from them, so the row
// needs no length of the integer's own; past a block's last integer the
// distance is at most 64.
inline constexpr unsigned lane_rows = 65;
struct lane_tables {
  alignas(16) std::int8_t scale[2 * lane_rows][16];
};

constexpr lane_tables make_lane_tables() {
  lane_tables t{};
  for (unsigned negative = 0; negative < 2; ++negative)
    for (unsigned n = 0; n < lane_rows; ++n)
      for (unsigned i = n < 16 ? 16 - n : 0; i < 16; ++i) {
        const int factor = i % 2 == 0 ? 10 : 1;
        t.scale[lane_rows * negative + n][i] = static_cast<std::int8_t>(negative != 0 ? -factor : factor);
      }
  return t;
}

inline constexpr lane_tables lane_table = make_lane_tables();

// The row of the integer that ends at byte `end`, given one past the last
// digit of the integer before and whether it is negative.
INTSUM_ALWAYS_INLINE unsigned lane_row(unsigned end, unsigned after, std::uint64_t negative) {
  const unsigned minus = 0u - static_cast<unsigned>(negative >> (end & 63) & 1);
  return end + 1 - after + (minus & lane_rows);
}

}  // namespace
}  // namespace block
}  // namespace intsum
