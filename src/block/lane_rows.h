// The rows by which the fold's lane conversions (arm/lane_values.h,
// x86/lane_values.h) multiply each integer's last 16 bytes, its digits
// once '0' is taken from them, and the cursor that gives each integer its
// bytes and its row.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "block/block.h"

namespace intsum {
namespace block {
namespace {

// Row 2n + negative, for an integer whose last digit is n bytes after
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
        t.scale[2 * n + negative][i] = static_cast<std::int8_t>(negative != 0 ? -factor : factor);
      }
  return t;
}

inline constexpr lane_tables lane_table = make_lane_tables();

// Walks a block's integers in order, giving each one's last 16 bytes and
// its row; past the last integer it gives the bytes after the block, whose
// lanes are not taken. Bytes before the block are read, and cleared by the
// rows, except before the first block of a run, which may start a buffer:
// there those that end in its first 15 bytes are read from a copy of its
// first 16 bytes with 16 zeros before them, `front`. The copy is the
// caller's: kept in the cursor, it made GCC keep the whole cursor in memory,
// a tenth slower.
struct lane_integer {
  const unsigned char* bytes;
  const std::int8_t* row;
};

template <bool FirstOfRun>
struct lane_cursor {
  const unsigned char* in_block;  // the 16 bytes that end at byte e start at in_block + e
  const unsigned char* in_front;  // the same, in the copy
  std::uint64_t ends, negative;
  std::size_t after = 0;  // one past the last digit of the integer before

  INTSUM_ALWAYS_INLINE static lane_cursor over(const unsigned char* block, unsigned char (&front)[32],
                                               std::uint64_t ends, std::uint64_t negative) {
    if constexpr (FirstOfRun) std::memcpy(front + 16, block, 16);
    return {block - 15, front + 1, ends, negative};
  }

  INTSUM_ALWAYS_INLINE lane_integer next() {
    // 64 bits wide, the byte's place is an address's offset as it stands.
    const auto end = static_cast<std::size_t>(std::countr_zero(ends));
    ends &= ends - 1;
    // The distance from the last digit of the integer before, and the sign:
    // interleaved, the rows need no mask of the sign, two steps fewer. Past
    // the last integer `end` is 64, a shift too far but for the mask.
    const std::size_t row = 2 * (end + 1 - after) + (negative >> (end & 63) & 1);
    after = end + 1;
    // Picked without a branch, which would often be mispredicted.
    const unsigned char* bytes = (FirstOfRun && end < 15 ? in_front : in_block) + end;
    return {bytes, lane_table.scale[row]};
  }
};

}  // namespace
}  // namespace block
}  // namespace intsum
