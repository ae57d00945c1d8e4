// The integers' values, for the fold with a combiner other than add: a
// block's integers in file order into a batch, which the combiner is
// applied to from time to time (docs/design.md, "Values, for other
// combiners"). An integer may run on from block to block; its digits so far
// wait as `pending`.
#pragma once

#include <bit>
#include <cstdint>

#include "block/digits.h"
#include "block/rules.h"

namespace intsum {
namespace block {
namespace {

// Folds `count` values into c, in file order: the list's first value
// becomes the result, and the combiner takes each one after it. Four calls a
// round: the loop's own branch and counter cost less, and its speed depends
// less on where the loop happens to sit in memory.
[[gnu::noinline]] inline void fold_values(fold_carry& c, const std::uint32_t* value, unsigned count) {
  unsigned i = 0;
  if (!c.any && count != 0) {
    c.result = static_cast<int>(value[0]);
    c.any = true;
    i = 1;
  }
  const combiner f = c.f;
  int r = c.result;
  for (; i + 4 <= count; i += 4) {
    r = f(r, static_cast<int>(value[i]));
    r = f(r, static_cast<int>(value[i + 1]));
    r = f(r, static_cast<int>(value[i + 2]));
    r = f(r, static_cast<int>(value[i + 3]));
  }
  for (; i < count; ++i) r = f(r, static_cast<int>(value[i]));
  c.result = r;
}

struct value_batch {
  // A block holds at most this many integers: each needs a digit, and a
  // byte that is no digit before the next.
  static constexpr unsigned most_per_block = block_bytes / 2;
  // After a block the batch is applied from this count on, so that the next
  // block finds room.
  static constexpr unsigned apply_from = 96;
  // Room for a block's values after that, and for a kernel that writes
  // eight at a time to write up to seven past them.
  static constexpr unsigned capacity = apply_from + most_per_block + 8;
  // The trial at a chunk's end starts empty, and none of its values may
  // reach the combiner before it is known to count.
  static_assert((max_tail + 1) / block_bytes * most_per_block <= apply_from,
                "the trial's blocks would apply the batch");

  fold_carry* out;
  // The first block of the run that fills the batch: no byte before it may
  // be read, which a run from the start of a buffer needs.
  const unsigned char* run = nullptr;
  std::uint32_t pending = 0;  // the digits so far of the integer that goes on into the next block
  bool continuing = false;    // whether there is one
  unsigned count = 0;
  std::uint32_t value[capacity];

  INTSUM_ALWAYS_INLINE void apply() {
    fold_values(*out, value, count);
    count = 0;
  }
};

// Where a block's integers are: `ends` marks the last digit of each, and
// byte 63 when an integer goes on into the next block (which `last` leaves
// out); each has its first digit in `first`, the k-th with the k-th.
struct integer_ends {
  std::uint64_t last, ends, first;
};

INTSUM_ALWAYS_INLINE integer_ends integer_ends_of(std::uint64_t digit, std::uint64_t live,
                                                  std::uint64_t next_starts_with_digit) {
  const std::uint64_t last = live & ~((digit >> 1) | (next_starts_with_digit << 63));
  return {last, last | (live & std::uint64_t{1} << 63), live & ~(digit << 1)};
}

// After a kernel has written the signed values of the integers of `at` from
// out = batch.value + batch.count on, in order, each as though it began and
// ended in the block: the first takes the digits that the previous block
// left pending, the one that goes on waits, and the others join the batch.
// (The count comes from `out`: read again after the stores, which may alias
// it for all the compiler knows, it would wait on them.)
INTSUM_ALWAYS_INLINE void take_converted(value_batch& batch, std::uint32_t* out, const integer_ends& at,
                                         std::uint64_t negative) {
  auto sign_of = [negative](int place) { return 0u - static_cast<std::uint32_t>(negative >> place & 1); };
  // Pending digits are not signed; values are.
  if ((at.first & 1) != 0 && batch.continuing) {
    const std::uint32_t minus = sign_of(0);
    out[0] += ((batch.pending * ten_to.of[std::countr_zero(at.ends) + 1]) ^ minus) - minus;
    batch.continuing = false;
  }
  auto taken = static_cast<unsigned>(std::popcount(at.ends));
  if (at.ends != at.last) {
    --taken;
    const std::uint32_t minus = sign_of(63);
    batch.pending = (out[taken] ^ minus) - minus;
    batch.continuing = true;
  }
  batch.count = static_cast<unsigned>(out - batch.value) + taken;
}

// Converts the integers of the block at p into the batch, one at a time, a
// word of eight digits at a time. Longest is the longest run of digits in
// the block: up to 8, 16, or any. The 7 bytes after the block are read.
template <int Longest>
INTSUM_ALWAYS_INLINE void convert_runs_in_words(const unsigned char* p, const block_plan& plan,
                                                const integer_ends& at, value_batch& batch) {
  std::uint32_t* const values = batch.value + batch.count;
  std::uint32_t* out = values;
  std::uint64_t first = at.first;
  for (std::uint64_t ends = at.ends; ends != 0; ends &= ends - 1, first &= first - 1) {
    const auto end = static_cast<unsigned>(std::countr_zero(ends));
    const auto start = static_cast<unsigned>(std::countr_zero(first));
    const std::uint32_t v = Longest <= 16 ? short_value<(Longest > 8)>(p + start, end - start + 1)
                                          : value_of_digits(p + start, end - start + 1);
    const std::uint32_t minus = 0u - static_cast<std::uint32_t>(plan.negative >> end & 1);
    *out++ = (v ^ minus) - minus;
  }
  take_converted(batch, values, at, plan.negative);
}

// The conversion every kernel can fall back on, picked per block, on what
// is usually alike all through a file.
INTSUM_ALWAYS_INLINE void convert_in_words(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch) {
  if (!has_run<9>(plan.live)) [[likely]]
    convert_runs_in_words<8>(p, plan, at, batch);
  else if (!has_run<17>(plan.live))
    convert_runs_in_words<16>(p, plan, at, batch);
  else
    convert_runs_in_words<64>(p, plan, at, batch);
}

// The values when no integer in the block has more than two digits, as in
// many files of counts: each byte's digit plus ten times the one before it,
// for every byte at once; at each integer's end, its value. `digits` holds
// the block's live digits, signed, and 0 in every other byte, in the vectors
// of a kernel whose operations `ops` names: byte_before(x) (each byte takes
// the one before it, byte 0 takes 0), times_ten(x), add(x, y) (bytes wrap,
// and the signed values fit them), and read_off(x, ends, out), which writes
// the bytes at `ends`, in order, widened to 32 bits from `out` on.
template <class Bytes, class Vectors>
INTSUM_ALWAYS_INLINE Vectors values_of_two(const Bytes& ops, const Vectors& digits) {
  return ops.add(digits, ops.times_ten(ops.byte_before(digits)));
}

template <class Bytes, class Vectors>
INTSUM_ALWAYS_INLINE void convert_values_of_two(const Bytes& ops, const Vectors& digits,
                                                const integer_ends& at, std::uint64_t negative,
                                                value_batch& batch) {
  std::uint32_t* const out = batch.value + batch.count;
  ops.read_off(values_of_two(ops, digits), at.ends, out);
  take_converted(batch, out, at, negative);
}

// read_off one byte at a time, from the bytes of the block in order.
INTSUM_ALWAYS_INLINE void read_off_each(const std::int8_t* value, std::uint64_t ends, std::uint32_t* out) {
  for (; ends != 0; ends &= ends - 1) *out++ = static_cast<std::uint32_t>(value[std::countr_zero(ends)]);
}

}  // namespace
}  // namespace block
}  // namespace intsum
