// The NEON kernel's tables, made at compile time: its byte classes from
// class_of, the signed bytes of its weights, and what it looks up by a
// group's nibble of live digits (docs/design.md, "NEON").
#pragma once

#include <bit>
#include <cstdint>

#include "block/classes.h"
#include "block/weights.h"

namespace intsum {
namespace neon {
namespace {

using namespace block;

// Each weight 10^k mod 2^32 as four signed bytes t0..t3 with
// t0 + t1 2^8 + t2 2^16 + t3 2^24 = 10^k mod 2^32, so that signed pairs of
// digits times them fit signed 8-bit multiplies. Entry r is for run r (place
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

// Code bits of the byte classes: x (bit 7), y (bit 3) and z (bit 1); 0 for
// every other byte. Shifted one place and added, two vectors' bits sit side
// by side, and x and y a nibble apart (neon_blocks::classes_of_codes).
constexpr unsigned char x_bit = 0x80, y_bit = 0x08, z_bit = 0x02;

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

// The table is looked up by c ^ 0x20, three registers of it: entry i is
// byte i ^ 0x20, so the 48 entries hold the bytes from 0x20 to 0x3f and
// then those below 0x10. Every byte the table leaves out is other.
inline constexpr unsigned char class_index = 0x20;
inline constexpr unsigned class_entries = 48;

struct class_table {
  alignas(16) unsigned char code[class_entries];
};

constexpr class_table make_class_table() {
  class_table t{};
  for (unsigned i = 0; i < class_entries; ++i)
    t.code[i] = code_of(class_of(static_cast<unsigned char>(i ^ class_index)));
  return t;
}

constexpr bool only_other_left_out() {
  for (unsigned c = 0; c < 256; ++c)
    if ((c ^ class_index) >= class_entries && class_of(static_cast<unsigned char>(c)) != byte_class::other)
      return false;
  return true;
}
static_assert(only_other_left_out(), "the class table holds every byte that is not other");
// tbl gives 0 for an index past the table, and 0 is other's code.
static_assert(code_of(byte_class::other) == 0);

constexpr class_table classes_of = make_class_table();

// What the weighing looks up by a group's nibble of live digits (bit j for
// byte 4i + j). The group's two pairs of bytes are a, bytes 0 and 1, and b,
// bytes 2 and 3; a pair's value is its first digit times 10 when its second
// is a digit too, plus its second, and it weighs by the run of its last digit.
enum nibble_table {
  first_a,    // what byte 0 counts in pair a: 10, 1 or 0
  second_a,   // 0xff when byte 1 is a digit
  first_b,    // the same for pair b
  second_b,   //
  first_gap,  // the first byte that is no digit, 0 to 3, or 255 for none
  run_a,      // pair a's run when it ends in the group, else 255
  run_b,      // the same for pair b
  nibble_tables
};

struct nibble_lookups {
  alignas(16) unsigned char of[nibble_tables][16];
};

constexpr nibble_lookups make_nibble_lookups() {
  nibble_lookups t{};
  for (unsigned n = 0; n < 16; ++n) {
    auto bit = [n](unsigned j) { return (n >> j & 1) != 0; };
    t.of[first_a][n] = bit(0) ? (bit(1) ? 10 : 1) : 0;
    t.of[second_a][n] = bit(1) ? 0xff : 0;
    t.of[first_b][n] = bit(2) ? (bit(3) ? 10 : 1) : 0;
    t.of[second_b][n] = bit(3) ? 0xff : 0;
    t.of[first_gap][n] = n == 15 ? 255 : static_cast<unsigned char>(std::countr_one(n));
    t.of[run_a][n] = bit(1) ? (bit(2) ? (bit(3) ? 255 : 2) : 1) : (bit(0) ? 1 : 0);
    t.of[run_b][n] = bit(3) ? 255 : (bit(2) ? 1 : 0);
  }
  return t;
}

constexpr nibble_lookups nibbles = make_nibble_lookups();

}  // namespace
}  // namespace neon
}  // namespace intsum
