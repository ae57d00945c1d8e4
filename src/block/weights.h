// The sum's weights: a digit k places from the end of its integer adds its
// value times 10^k mod 2^32 (docs/design.md, "Digit runs and weights"). The
// kernels look weights up by the digit's run; a block with a run too long
// for their lookups is weighed here instead, a run of digits at a time.
#pragma once

#include <bit>
#include <cstdint>

#include "block/digits.h"
#include "block/rules.h"

namespace intsum {
namespace block {
namespace {

// The longest run the kernels weigh by lookups; longer ones come here.
inline constexpr unsigned looked_up_runs = 15;
// Tables by run, 0 (no digit) to looked_up_runs, for 16-entry byte shuffles.
static_assert(looked_up_runs + 1 <= 16, "a run's weight must be one 16-entry shuffle's lookup");

// The longest run whose weight 10^(run - 1) is below 2^(8 bytes): runs
// up to 3 weigh in one byte, up to 5 in two.
constexpr unsigned runs_weighed_in(unsigned bytes) {
  unsigned run = 1;
  for (std::uint64_t weight = 10; weight < std::uint64_t{1} << (8 * bytes); weight *= 10) ++run;
  return run;
}
static_assert(runs_weighed_in(1) == 3 && runs_weighed_in(2) == 5);

// The weight tables for 16-entry byte shuffles, one per byte of the 32-bit
// weight: entry r holds that byte of 10^(r-1) mod 2^32 for a digit whose
// run, counted from it to the end of its integer, is r long; 0 for r = 0
// (no digit).
struct weight_planes {
  alignas(16) unsigned char byte[4][looked_up_runs + 1];
};

constexpr weight_planes make_weight_planes() {
  weight_planes w{};
  std::uint32_t power = 1;
  for (unsigned r = 1; r <= looked_up_runs; ++r, power *= 10)
    for (unsigned b = 0; b < 4; ++b) w.byte[b][r] = static_cast<unsigned char>(power >> (8 * b));
  return w;
}

// The sum of the live digits of the block at p at their weights: each run
// of digits by its value, times 10 to the digits of its integer that follow
// in the next block. The 7 bytes after the block must be readable. Rare, so
// kept out of the kernels' loops; the plan comes as its words, in registers,
// so that the kernels need not keep one in memory for it.
[[gnu::noinline]] inline std::uint32_t weigh_words(const unsigned char* p, std::uint64_t digit,
                                                   std::uint64_t live, std::uint64_t negative,
                                                   std::uint64_t next_digit) {
  std::uint32_t sum = 0;
  // The k-th first digit of a run goes with the k-th last.
  std::uint64_t first = live & ~(digit << 1), last = live & ~(digit >> 1);
  for (; last != 0; last &= last - 1, first &= first - 1) {
    const auto end = static_cast<unsigned>(std::countr_zero(last));
    const auto start = static_cast<unsigned>(std::countr_zero(first));
    std::uint32_t v = value_of_digits(p + start, end - start + 1);
    if (end == 63) v *= ten_to.of[std::countr_one(next_digit)];
    const std::uint32_t minus = 0u - static_cast<std::uint32_t>(negative >> end & 1);
    sum += (v ^ minus) - minus;
  }
  return sum;
}

INTSUM_ALWAYS_INLINE std::uint32_t weigh_in_words(const unsigned char* p, const block_plan& plan) {
  return weigh_words(p, plan.digit, plan.live, plan.negative, plan.next_digit);
}

}  // namespace
}  // namespace block
}  // namespace intsum
