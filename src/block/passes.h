// The two things a block kernel does with each block's plan, and what a
// chunk starts from and leaves behind for each: summing, where the kernel
// weighs the live digits into its accumulators, and folding, where it
// converts the integers into a batch of values for the combiner
// (docs/design.md, "Summing and folding"). The drivers (chunk.h, groups512.h)
// run either.
#pragma once

#include <cstdint>

#include "block/values.h"
#include "block/weights.h"

namespace intsum {
namespace block {
namespace {

// A kernel provides:
//   constants                  vectors made once per chunk
//   accumulators               the running sums, in vector registers
//   classify(p, k)             the classes of the block at p
//   weigh(p, plan, acc, k)     adds the block's live digits at their weights
//   total(acc)                 the accumulated sum, mod 2^32
//   converted_digits           0, or the longest digit run that convert takes
//   convert(p, plan, at, batch, k)
//                              writes the signed values of the integers of
//                              a block with no longer runs (integer_ends `at`,
//                              some live digits, room in the batch), then
//                              take_converted
template <class Kernel>
struct summing {
  using kernel = Kernel;
  using carry_type = sum_carry;
  using work = typename Kernel::accumulators;
  static constexpr bool folds = false;

  INTSUM_ALWAYS_INLINE static work start(const sum_carry&) { return {}; }
  INTSUM_ALWAYS_INLINE static void take(const unsigned char* p, const block_plan& plan, work& acc,
                                        const typename Kernel::constants& k) {
    Kernel::weigh(p, plan, acc, k);
  }
  // Before the trial at a chunk's end: nothing to settle.
  INTSUM_ALWAYS_INLINE static void settle(work&) {}
  INTSUM_ALWAYS_INLINE static void finish(sum_carry& c, const work& acc, const carry_bits& carry,
                                          bool ended) {
    c.state = ended ? scan_state{phase::ended} : state_from(carry);
    c.sum += Kernel::total(acc);
  }
};

template <class Kernel>
struct folding {
  using kernel = Kernel;
  using carry_type = fold_carry;
  using work = value_batch;
  static constexpr bool folds = true;

  INTSUM_ALWAYS_INLINE static value_batch start(fold_carry& c) {
    value_batch batch;
    batch.out = &c;
    batch.continuing = c.state.at == phase::digits;
    batch.pending = c.state.value;
    return batch;
  }

  // The kernel's own conversion for the blocks it takes, words for the rest.
  INTSUM_ALWAYS_INLINE static void take(const unsigned char* p, const block_plan& plan, value_batch& batch,
                                        const typename Kernel::constants& k) {
    if (plan.live != 0) {
      const integer_ends at = integer_ends_of(plan.digit, plan.live, plan.next_digit & 1);
      if (Kernel::converted_digits != 0 && !has_run<Kernel::converted_digits + 1>(plan.live))
        Kernel::convert(p, plan, at, batch, k);
      else
        convert_in_words(p, plan, at, batch);
    }
    // After the block, when its vectors are dead: the combiner's calls would
    // have the compiler keep them in memory.
    if (batch.count > value_batch::apply_from) batch.apply();
  }

  // The trial at a chunk's end starts with an empty batch, so that what it
  // adds can be dropped.
  INTSUM_ALWAYS_INLINE static void settle(value_batch& batch) { batch.apply(); }

  // As the sum's state, but here the kernel knows whether an integer goes
  // on: `digits` only for one that does, with its digits so far.
  INTSUM_ALWAYS_INLINE static void finish(fold_carry& c, value_batch& batch, const carry_bits& carry,
                                          bool ended) {
    batch.apply();
    if (ended) {
      c.state = scan_state{phase::ended};
      return;
    }
    c.state = state_from(carry);
    if (batch.continuing) {
      c.state.at = phase::digits;
      c.state.value = batch.pending;
    } else if (c.state.at == phase::digits) {
      c.state.at = phase::separator;
    }
  }
};

}  // namespace
}  // namespace block
}  // namespace intsum
