// Bytes read as 64-bit words, little-endian whatever the CPU, and the byte
// classes tested a word at a time: bit 7 of each byte says what the byte is.
// Each word test is proven, byte by byte, to be the classes of class_of.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "block/digits.h"  // block::load_le64
#include "core/byte_class.h"

namespace intsum {
namespace {

using word = std::uint64_t;
using bytes = const unsigned char*;

constexpr word bytes_of(unsigned char c) { return 0x0101010101010101u * c; }
constexpr word high_bits = bytes_of(0x80);

// On RISC-V (rv64gc) a word at any address may be slow or trap, and bit scans
// are library calls: there words come from aligned ones, scans from tables.
#if defined(__riscv)
constexpr bool unaligned_loads = false, native_scans = false;
#else
constexpr bool unaligned_loads = true, native_scans = true;
#endif

// N words from q on, little-endian; on RISC-V from N + 1 aligned ones.
template <std::size_t N>
INTSUM_ALWAYS_INLINE std::array<word, N> load(bytes q) {
  constexpr std::size_t size = unaligned_loads ? 1 : 8;
  const std::size_t offset = reinterpret_cast<std::uintptr_t>(q) & (size - 1);
  bytes aligned = std::assume_aligned<size>(q - offset);
  auto at = [&](std::size_t i) {
    const word low = block::load_le64(aligned + 8 * i) >> 8 * offset;
    return unaligned_loads ? low : low | block::load_le64(aligned + 8 * i + 8) << 1 << (63 - 8 * offset);
  };
  return [&]<std::size_t... I>(std::index_sequence<I...>) { return std::array<word, N>{at(I)...}; }
  (std::make_index_sequence<N>{});
}

// Bit scans where the CPU has no instruction for them (de Bruijn).
struct bit_scan_tables {
  unsigned char lowest[64], highest[256];
};
constexpr word de_bruijn = 0x03f79d71b4ca8b09u;

constexpr bit_scan_tables bit_scans = [] {
  bit_scan_tables t{};
  for (unsigned i = 0; i < 64; ++i) t.lowest[(de_bruijn << i) >> 58] = static_cast<unsigned char>(i);
  for (unsigned m = 1; m < 256; ++m) t.highest[m] = static_cast<unsigned char>(8 * std::bit_width(m) - 1);
  return t;
}();

// The lowest set bit of x (not 0); the highest of m (only bits 7 of bytes).
INTSUM_ALWAYS_INLINE unsigned lowest_bit(word x) {
  if constexpr (native_scans) return static_cast<unsigned>(std::countr_zero(x));
  return bit_scans.lowest[((x & (0 - x)) * de_bruijn) >> 58];
}
INTSUM_ALWAYS_INLINE unsigned highest_bit(word m) {
  if constexpr (native_scans) return 63 - static_cast<unsigned>(std::countl_zero(m));
  return bit_scans.highest[((m >> 7) * 0x0102040810204080u) >> 56];
}

// The lowest bit 7 of bytes 0 to 6 as 8 * byte + 7; 62 if none (not found).
INTSUM_ALWAYS_INLINE unsigned lowest(word m) { return lowest_bit(m | word{1} << 62); }

// Bit 7 of each byte of y = w ^ "00000000" that is not a digit. A byte of
// 0xba or more may mark the next byte too; it ends the digits before that.
constexpr word non_digits(word y) { return ((y + bytes_of(0x76)) | y) & high_bits; }

// Bit 7 of each byte 0x09 to 0x0d: tab, newline, vertical tab, form feed, CR.
constexpr word controls(word w) {
  return (w + bytes_of(0x80 - '\t')) & ~(w + bytes_of(0x80 - '\r' - 1)) & high_bits;
}

// Bit 7 of each byte that is not white space; bytes of 0x80 and up are
// not, and their carries may mark the byte after them, past them anyway.
constexpr word non_white(word w) {
  return (((w ^ bytes_of(' ')) + bytes_of(0x7f)) | w) & ~controls(w) & high_bits;
}

// Bit 7 where the white space after an integer stops: not white space, or a
// comma after a tab, newline or the like (commas go with spaces only).
// Correctness rests on this test, not only speed: the bytes it leaves
// unmarked are skipped unread, so every byte that ends the list must be
// marked, for the next integer's read to find it and flag the segment.
constexpr word stops(word w) {
  const word control = controls(w), not_space = (w ^ bytes_of(' ')) + bytes_of(0x7f);
  return ((not_space & ~control & (((w ^ bytes_of(',')) + bytes_of(0x7f)) | (0 - control))) | w) & high_bits;
}

// The word tests, one byte at a time, are the classes: byte c alone, and
// (for stops) after other white space.
constexpr bool marks_byte(word (*test)(word), unsigned char c, word before = 0) {
  return (test(before | word{c} << 8) >> 15 & 1) != 0;
}
constexpr unsigned char some_other_white = '\t';
static_assert(class_of(some_other_white) == byte_class::other_white);
static_assert(tests_class([](unsigned char c) { return marks_byte(non_digits, c ^ '0', '0' ^ '0'); },
                          byte_class::other, byte_class::minus, byte_class::plus, byte_class::space,
                          byte_class::comma, byte_class::other_white));
static_assert(tests_class([](unsigned char c) { return marks_byte(controls, c); }, byte_class::other_white));
static_assert(tests_class([](unsigned char c) { return marks_byte(non_white, c); }, byte_class::other,
                          byte_class::digit, byte_class::minus, byte_class::plus, byte_class::comma));
static_assert(tests_class([](unsigned char c) { return marks_byte(stops, c); }, byte_class::other,
                          byte_class::digit, byte_class::minus, byte_class::plus));
static_assert(tests_class([](unsigned char c) { return marks_byte(stops, c, some_other_white); },
                          byte_class::other, byte_class::digit, byte_class::minus, byte_class::plus,
                          byte_class::comma));

// The bytes one at a time, where the kernel reads them so: compares, which
// cost less than class_of's, proven to be its classes.
constexpr bool is_white(unsigned char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }
constexpr bool is_separator(unsigned char c) { return c == ' ' || c == ','; }
constexpr bool is_digit(unsigned char c) { return static_cast<unsigned char>(c - '0') < 10; }
constexpr bool is_sign(unsigned char c) { return c == '+' || c == '-'; }
static_assert(tests_class(is_white, byte_class::space, byte_class::other_white));
static_assert(tests_class(is_separator, byte_class::space, byte_class::comma));
static_assert(tests_class(is_digit, byte_class::digit));
static_assert(tests_class(is_sign, byte_class::plus, byte_class::minus));

}  // namespace
}  // namespace intsum
