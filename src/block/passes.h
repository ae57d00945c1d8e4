// What a block kernel provides, and the two things done with each block's
// plan: summing, where the kernel weighs the live digits into its
// accumulators, and folding, where it converts the integers into a batch of
// values for the combiner; and what a chunk starts from and leaves behind
// for each (docs/design.md, "Summing and folding"). The drivers (chunk.h,
// x86/avx512/groups.h) run either.
#pragma once

#include <concepts>
#include <cstdint>

#include "block/values.h"
#include "block/weights.h"

namespace intsum {
namespace block {
namespace {

// Every block kernel: `constants`, the vectors made once per chunk, and the
// classes of the block at p.
template <class K>
concept classifies = std::default_initializable<typename K::constants> &&
    requires(const unsigned char* p, const typename K::constants& k) {
  { K::classify(p, k) } -> std::same_as<classes>;
};

// For the sum: `accumulators`, the running sums in vector registers, copied
// for the trial at a chunk's end, and their total mod 2^32.
template <class K>
concept accumulates = classifies<K> && std::copyable<typename K::accumulators> &&
    std::default_initializable<typename K::accumulators> && requires(const typename K::accumulators& acc) {
  { K::total(acc) } -> std::same_as<std::uint32_t>;
};

// For the sum block by block: adds the block's live digits at their weights.
template <class K>
concept weighs_blocks = accumulates<K> &&
    requires(const unsigned char* p, const block_plan& plan, typename K::accumulators& acc,
             const typename K::constants& k) {
  K::weigh(p, plan, acc, k);
};

// For the fold: writes the signed values of the integers of a block whose
// digit runs are at most `converted_digits` long (0: none) from the batch's
// count on, given their ends `at`, some live digits and room in the batch,
// then take_converted. Blocks with longer runs go to convert_in_words.
template <class K>
concept converts = classifies<K> &&
    requires(const unsigned char* p, const block_plan& plan, const integer_ends& at, value_batch& batch,
             const typename K::constants& k) {
  { K::converted_digits } -> std::convertible_to<unsigned>;
  K::convert(p, plan, at, batch, k);
};

// The sum: each block's live digits weighed into the accumulators.
template <accumulates Kernel>
struct summing {
  using kernel = Kernel;
  using carry_type = sum_carry;
  using work = typename Kernel::accumulators;
  static constexpr bool folds = false;

  INTSUM_ALWAYS_INLINE static work start(const sum_carry&) { return {}; }
  INTSUM_ALWAYS_INLINE static void take(const unsigned char* p, const block_plan& plan, work& acc,
                                        const typename Kernel::constants& k) requires weighs_blocks<Kernel> {
    Kernel::weigh(p, plan, acc, k);
  }
  INTSUM_ALWAYS_INLINE static void runs_from(work&, const unsigned char*) {}
  // Before the trial at a chunk's end: nothing to settle.
  INTSUM_ALWAYS_INLINE static void settle(work&) {}
  INTSUM_ALWAYS_INLINE static void finish(sum_carry& c, const work& acc, const carry_bits& carry,
                                          bool ended) {
    c.state = ended ? scan_state{phase::ended} : state_from(carry);
    c.sum += Kernel::total(acc);
  }
};

// The fold: each block's integers converted into the batch, which applies
// the combiner from time to time.
template <converts Kernel>
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

  // The blocks that the batch takes from here on start at p.
  INTSUM_ALWAYS_INLINE static void runs_from(value_batch& batch, const unsigned char* p) { batch.run = p; }

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

// What a driver runs: a pass of a kernel, its carry and its work (the
// accumulators or the batch), from a chunk's start to its end.
template <class P>
concept pass = classifies<typename P::kernel> && std::copyable<typename P::work> &&
    requires(typename P::carry_type& c, typename P::work& w, const carry_bits& carry, bool ended,
             const unsigned char* p) {
  { P::folds } -> std::convertible_to<bool>;
  { P::start(c) } -> std::same_as<typename P::work>;
  P::runs_from(w, p);
  P::settle(w);
  P::finish(c, w, carry, ended);
};

// A pass that takes a block's plan at a time, as the block-by-block driver
// (chunk.h) runs it.
template <class P>
concept block_pass = pass<P> && requires(const unsigned char* p, const block_plan& plan, typename P::work& w,
                                         const typename P::kernel::constants& k) {
  P::take(p, plan, w, k);
};

}  // namespace
}  // namespace block
}  // namespace intsum
