// The kernel for the RISC-V vector extension (RVV 1.0), for any vector
// length: the classes and rules of rules.h, then the values of the block's
// integers by Horner's rule in vector lanes, a power of two of digits a
// step (horner.h). Where a block takes four registers (128-bit vectors),
// the sum weighs each digit by a table lookup instead (planes.h), as that
// needs less of the register file. It runs blocks one at a time, with
// every operation set to the block's 64 lanes, so the vector length decides
// only how many registers a block takes (docs/design.md, "RVV").
#include <riscv_vector.h>

#include <bit>
#include <type_traits>

#include "block/chunk.h"
#include "core/kernels.h"
#include "riscv/classify.h"
#include "riscv/horner.h"
#include "riscv/planes.h"

namespace intsum {
namespace {

using namespace block;

template <int R>
struct rvv_blocks {
  using V = block_vectors<R>;

  // The vectors' constants are made where they are used: vector types cannot
  // be members, and the compiler keeps them in registers across the loop.
  struct constants {};
  // The sum of the blocks run so far. Their vector sums are not kept here but
  // in registers, by each run of blocks (sum_blocks).
  struct accumulators {
    std::uint32_t sum = 0;
  };

  INTSUM_ALWAYS_INLINE static classes classify(const unsigned char* p, const constants&) {
    return classify_block<R>(p);
  }
  static std::uint32_t total(const accumulators& acc) { return acc.sum; }

  // The fold converts every block whose runs have at most 16 digits in
  // lanes, the rest in words.
  static constexpr unsigned converted_digits = 16;

  template <unsigned Digits>
  INTSUM_ALWAYS_INLINE static void convert_runs(const unsigned char* p, const block_plan& plan,
                                                const integer_ends& at, value_batch& batch) {
    std::uint32_t* const out = batch.value + batch.count;
    const typename V::i8 digits = signed_digits<R>(p, plan);
    if constexpr (R == 4)
      values_at_ends<R, Digits>(digits, plan.live, compressed_values{at.ends, out});
    else
      values_at_ends<R, Digits>(digits, plan.live, scattered_values<R>{at.ends, out});
    take_converted(batch, out, at, plan.negative);
  }

  INTSUM_ALWAYS_INLINE static void convert(const unsigned char* p, const block_plan& plan,
                                           const integer_ends& at, value_batch& batch, const constants&) {
    by_longest_run(plan.live, [&](auto digits) { convert_runs<digits>(p, plan, at, batch); });
  }
};

// Adds the values of the block's integers into the lanes of `sums`, for a
// block with no run of more than 16 digits: the one that goes on into the
// next block times 10 to its digits there (lane 63, `at_top`: whatever
// lane 63 holds is added only if it ends a run).
template <int R>
INTSUM_ALWAYS_INLINE void add_values(const unsigned char* p, const block_plan& plan, std::uint64_t live,
                                     typename block_vectors<R>::mask at_top,
                                     typename block_vectors<R>::i32& sums) {
  using V = block_vectors<R>;
  static_assert(V::halves == 1);
  const typename V::mask at_ends = V::mask_of(live & ~(live >> 1));
  // The digits of the next block: 63 stands for 64, as 10^n is 0 from
  // n = 32 on, so that countr_zero needs no branch for 0.
  const auto next_run = std::countr_zero(~plan.next_digit | std::uint64_t{1} << 63);
  const auto later = static_cast<std::int32_t>(ten_to.of[next_run]);
  auto add = [&](auto v, std::size_t) {
    typename V::i32 x;
    if constexpr (std::is_same_v<decltype(v), typename V::i8>)
      x = __riscv_vwcvt_x(__riscv_vwcvt_x(v, lanes), lanes);
    else if constexpr (std::is_same_v<decltype(v), typename V::i16>)
      x = __riscv_vwcvt_x(v, lanes);
    else
      x = v;
    sums = __riscv_vadd_mu(at_ends, sums, sums, __riscv_vmul_mu(at_top, x, x, later, lanes), lanes);
  };
  // All steps, whatever the runs: a branch here would keep the compiler from
  // running the rules of the next block alongside.
  values_at_ends<R, 16>(signed_digits<R>(p, plan), live, add);
}

// The blocks one after another (run_blocks) where an out-of-order core
// overlaps them anyway, as a pipeline for in-order ones.
template <int R, class Pass>
INTSUM_ALWAYS_INLINE bool run_rvv_blocks(const unsigned char* p, std::size_t count, carry_bits& carry,
                                         typename Pass::work& work,
                                         const typename Pass::kernel::constants& k) {
  if constexpr (R == 4) {
    // run_blocks, for the sum's weighing too, which is no whole pass: it
    // holds its sums in registers, as vector types cannot be members.
    classes now = classify_block<R>(p);
    for (std::size_t b = 0; b < count; ++b, p += block_bytes) {
      const classes next = classify_block<R>(p + block_bytes);
      const plan_and_stop planned = plan_block(now, next.digit, carry);
      Pass::take(p, planned.p, work, k);
      if (planned.stop != 0) return true;
      now = next;
    }
    return false;
  } else {
    return run_compared_blocks<R, Pass>(p, count, carry, work, k);
  }
}

// A pass for run_blocks whose work is a weighing: a function of the block
// and its plan that holds the sums in registers.
template <int R, class Weigh>
struct weighing {
  using kernel = rvv_blocks<R>;
  using work = Weigh;
  INTSUM_ALWAYS_INLINE static void take(const unsigned char* p, const block_plan& plan, Weigh& weigh,
                                        const typename kernel::constants&) {
    weigh(p, plan);
  }
};

template <int R, class Weigh>
INTSUM_ALWAYS_INLINE bool weigh_blocks(const unsigned char* p, std::size_t count, carry_bits& carry,
                                       Weigh weigh, const typename rvv_blocks<R>::constants& k) {
  return run_rvv_blocks<R, weighing<R, Weigh>>(p, count, carry, weigh, k);
}

// Runs `count` blocks from p for the sum, as run_blocks does, with the sums
// in registers: by place-weight tables where a block takes four registers,
// by each integer's value otherwise.
template <int R>
INTSUM_ALWAYS_INLINE bool sum_blocks(const unsigned char* p, std::size_t count, carry_bits& carry,
                                     typename rvv_blocks<R>::accumulators& acc,
                                     const typename rvv_blocks<R>::constants& k) {
  using V = block_vectors<R>;
  if constexpr (R == 4) {
    vint32m4_t low = __riscv_vmv_v_x_i32m4(0, lanes / 4);
    vint16m2_t byte2 = __riscv_vmv_v_x_i16m2(0, lanes / 4);
    vint8m1_t byte3 = __riscv_vmv_v_x_i8m1(0, lanes / 4);
    const plane_sums sums{low, byte2, byte3};
    const vuint8m1_t table0 = load_table(0), table1 = load_table(1), table2 = load_table(2),
                     table3 = load_table(3);
    const plane_tables tables{table0, table1, table2, table3};
    const bool ended = weigh_blocks<R>(
        p, count, carry,
        [&](const unsigned char* q, const block_plan& plan) {
          if (plan.live == 0) return;
          const unsigned next_run = plan.next_run();
          if (too_long(plan.live, next_run)) [[unlikely]] {
            acc.sum += weigh_in_words(q, plan);
            return;
          }
          weigh_planes(q, plan, next_run, tables, sums);
        },
        k);
    acc.sum += planes_total(sums);
    return ended;
  } else {
    typename V::i32 sums = V::zero32();
    const typename V::mask at_top = V::mask_of(std::uint64_t{1} << 63);
    const bool ended = weigh_blocks<R>(
        p, count, carry,
        [&](const unsigned char* q, const block_plan& plan) {
          // No branch before the vector work, which the compiler can then
          // run alongside the rules of the next block.
          const bool too_long = has_run<17>(plan.live);
          add_values<R>(q, plan, too_long ? 0 : plan.live, at_top, sums);
          if (too_long) [[unlikely]]
            acc.sum += weigh_in_words(q, plan);
        },
        k);
    acc.sum +=
        static_cast<std::uint32_t>(__riscv_vmv_x(__riscv_vredsum(sums, __riscv_vmv_v_x_i32m1(0, 1), lanes)));
    return ended;
  }
}

template <int R>
INTSUM_ALWAYS_INLINE chunk_result sum_with(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  const auto run = [](const unsigned char* q, std::size_t count, carry_bits& carry, auto& acc, const auto& k)
      __attribute__((always_inline)) {
    return sum_blocks<R>(q, count, carry, acc, k);
  };
  return run_chunk_with<summing<rvv_blocks<R>>>(c, p, n, eof, run, run);
}

template <int R>
INTSUM_ALWAYS_INLINE chunk_result fold_with(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  const auto run = [](const unsigned char* q, std::size_t count, carry_bits& carry, auto& batch,
                      const auto& k) __attribute__((always_inline)) {
    return run_rvv_blocks<R, folding<rvv_blocks<R>>>(q, count, carry, batch, k);
  };
  return run_chunk_with<folding<rvv_blocks<R>>>(c, p, n, eof, run, run);
}

// The number of registers that hold a block: the vector length decides.
INTSUM_ALWAYS_INLINE int block_registers() {
  const std::size_t bytes = __riscv_vlenb();
  return bytes >= lanes ? 1 : bytes == lanes / 2 ? 2 : 4;
}

// The cores with vectors longer than 128 bits that run Linux are in-order
// (SiFive X280, SpacemiT X60), where each vector instruction waits for its
// inputs and every instruction after it waits too: for them the compiler
// spreads the rules of the next block between the vector instructions of
// this one (run_compared_blocks), as the model of the X280 asks. The
// out-of-order cores with 128-bit vectors (SiFive P670) are faster with
// the usual order.
#define INTSUM_IN_ORDER __attribute__((target("tune=sifive-x280")))

// Each as a function of its own, to be scheduled for its cores, with
// everything inlined, lambdas too, so that the vectors stay in registers.
[[gnu::flatten, gnu::noinline]] chunk_result sum_short(sum_carry& c, const unsigned char* p, std::size_t n,
                                                       bool eof) {
  return sum_with<4>(c, p, n, eof);
}
[[gnu::flatten, gnu::noinline]] INTSUM_IN_ORDER chunk_result sum_long2(sum_carry& c, const unsigned char* p,
                                                                       std::size_t n, bool eof) {
  return sum_with<2>(c, p, n, eof);
}
[[gnu::flatten, gnu::noinline]] INTSUM_IN_ORDER chunk_result sum_long1(sum_carry& c, const unsigned char* p,
                                                                       std::size_t n, bool eof) {
  return sum_with<1>(c, p, n, eof);
}
[[gnu::flatten, gnu::noinline]] chunk_result fold_short(fold_carry& c, const unsigned char* p, std::size_t n,
                                                        bool eof) {
  return fold_with<4>(c, p, n, eof);
}
[[gnu::flatten, gnu::noinline]] INTSUM_IN_ORDER chunk_result fold_long2(fold_carry& c, const unsigned char* p,
                                                                        std::size_t n, bool eof) {
  return fold_with<2>(c, p, n, eof);
}
[[gnu::flatten, gnu::noinline]] INTSUM_IN_ORDER chunk_result fold_long1(fold_carry& c, const unsigned char* p,
                                                                        std::size_t n, bool eof) {
  return fold_with<1>(c, p, n, eof);
}

}  // namespace

chunk_result sum_rvv(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  switch (block_registers()) {
    case 1:
      return sum_long1(c, p, n, eof);
    case 2:
      return sum_long2(c, p, n, eof);
    default:
      return sum_short(c, p, n, eof);
  }
}

chunk_result fold_rvv(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  switch (block_registers()) {
    case 1:
      return fold_long1(c, p, n, eof);
    case 2:
      return fold_long2(c, p, n, eof);
    default:
      return fold_short(c, p, n, eof);
  }
}

}  // namespace intsum
