// The format's rules as bit arithmetic on a block's class masks: which
// digits count, which are negative, and where the list ends; what one block
// passes to the next is two bits (docs/design.md, "The rules").
#pragma once

#include <bit>
#include <cstdint>

#include "block/classes.h"

namespace intsum {
namespace block {
namespace {

// A carry into a block known to be 0, for the lanes that work out both cases.
struct no_carry {};
template <class M>
INTSUM_ALWAYS_INLINE M or_and(M a, M, no_carry) {
  return a;
}
template <class M>
INTSUM_ALWAYS_INLINE M and_or(M a, M b, no_carry) {
  return a & b;
}

// What the rules make of a block's classes before the carries into it are
// known.
template <class M>
struct partial_rules {
  M before_digit;     // bytes with a digit after them
  M after_digit;      // bytes with a digit before them
  M separator_runs;   // first bytes of the runs of spaces and commas
  M negative_starts;  // first digits of the digit runs right after a minus
  M stops;            // other bytes, and signs with no digit after them
};

// `next_digit` holds the digits of the block after each block.
template <class M>
INTSUM_ALWAYS_INLINE partial_rules<M> partial_rules_of(const basic_classes<M>& c, M next_digit) {
  const M d = c.digit, before_digit = (d >> 1) | (next_digit << 63);
  return {before_digit, d << 1, and_not(c.separator, c.separator << 1), and_not_and(d, d << 1, c.minus << 1),
          or_and_not(c.other, c.sign, before_digit)};
}

// Spaces and commas count as a separator only in a run that directly
// follows an integer; adding a start bit to a run clears the whole run.
// `after_integer`: whether the block before ended in an integer or its
// separator, so that a run at byte 0 counts (1, or no_carry).
template <class M, class Carry>
INTSUM_ALWAYS_INLINE M separators(const basic_classes<M>& c, const partial_rules<M>& r, Carry after_integer) {
  return and_not(c.separator, c.separator + and_or(r.separator_runs, r.after_digit, after_integer));
}

// The list ends at the first stop: an other byte, a sign with no digit
// after it, or a comma that no integer's separator run holds.
template <class M>
INTSUM_ALWAYS_INLINE M stops(const basic_classes<M>& c, const partial_rules<M>& r, M separator) {
  return or_and_not(r.stops, c.comma, separator);
}

// Digits of negative integers: runs right after a minus, and with
// `negative` the run at byte 0, going on from the block before.
template <class M, class Carry>
INTSUM_ALWAYS_INLINE M negatives(const basic_classes<M>& c, const partial_rules<M>& r, Carry negative) {
  return and_not(c.digit, c.digit + or_and(r.negative_starts, c.digit, negative));
}

// The digits below the first stop.
template <class M>
INTSUM_ALWAYS_INLINE M live_digits(M digit, M stop) {
  return and_not_and(digit, stop, stop - M(1));
}

// What the bytes before a block leave it, in the top bit of these masks of
// the block before: whether a space or comma at its start follows an
// integer (the last byte was a digit or a separator), and whether digits at
// its start are negative (the last byte was a minus or a digit of a
// negative integer). A sign at the end of a block needs no carry: the block
// checks it against the next block's first byte.
template <class M>
INTSUM_ALWAYS_INLINE M passes_after_integer(const basic_classes<M>& c, M separator) {
  return c.digit | separator;
}
template <class M>
INTSUM_ALWAYS_INLINE M passes_negative(const basic_classes<M>& c, M negative) {
  return negative | c.minus;
}

// The carry from block to block, each 0 or 1: the top bits of
// passes_after_integer and passes_negative.
struct carry_bits {
  std::uint64_t after_integer = 0;
  std::uint64_t negative = 0;
};

// A chunk's state as the carry into its first block. Phases that the carry
// merges go on alike: digits of a positive integer and a separator (spaces
// and commas may follow either, and the digits of both weigh as positive),
// a plus sign and white space (its digits must be checked in the block
// before, which sees the next block's first byte).
inline carry_bits carry_from(const scan_state& state) {
  const bool digits = state.at == phase::digits;
  return {digits || state.at == phase::separator, (digits || state.at == phase::sign) && state.negative};
}

// The state a summing chunk leaves: each carry as the phase it stands for.
// Its digits are summed as they come, so `value` stays 0; `digits` stands
// for "after a digit of a negative integer", whether it goes on or not.
inline scan_state state_from(const carry_bits& carry) {
  scan_state state;
  state.at = carry.after_integer ? (carry.negative ? phase::digits : phase::separator)
                                 : (carry.negative ? phase::sign : phase::blank);
  state.negative = carry.negative != 0;
  return state;
}

// What the rules give the kernel for one block.
struct block_plan {
  std::uint64_t digit;       // all digits of the block
  std::uint64_t live;        // digits that count: those before the end of the list
  std::uint64_t negative;    // digits of negative integers
  std::uint64_t next_digit;  // the digits of the next block

  // The digits at the start of the next block, up to 64: how far an
  // integer at the block's end goes on.
  INTSUM_ALWAYS_INLINE unsigned next_run() const {
    return static_cast<unsigned>(std::countr_one(next_digit));
  }
};

// A block's plan, and its stops: the list ends in it when they are not 0.
struct plan_and_stop {
  block_plan p;
  std::uint64_t stop;
};

// The rules for one block, given its classes, the digits of the next block
// and the carry from the block before; leaves in `carry` the carry after it.
INTSUM_ALWAYS_INLINE plan_and_stop plan_block(const classes& c, std::uint64_t next_digit, carry_bits& carry) {
  const partial_rules<std::uint64_t> r = partial_rules_of(c, next_digit);
  const std::uint64_t separator = separators(c, r, carry.after_integer);
  const std::uint64_t stop = stops(c, r, separator);
  const std::uint64_t negative = negatives(c, r, carry.negative);
  carry = {passes_after_integer(c, separator) >> 63, passes_negative(c, negative) >> 63};
  return {{c.digit, live_digits(c.digit, stop), negative, next_digit}, stop};
}

}  // namespace
}  // namespace block
}  // namespace intsum
