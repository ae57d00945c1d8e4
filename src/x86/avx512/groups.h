// The chunk driver of the AVX-512 kernel: a group of eight blocks at a time
// in three stages. The kernel classifies the blocks into masks; the rules
// run on all eight at once (lanes.h); then the kernel weighs each block,
// or the fold converts its integers. Only the first and last stages see
// bytes, and no block waits on the one before (docs/design.md, "Eight
// blocks at once").
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

#include "block/chunk.h"
#include "x86/avx512/lanes.h"

namespace intsum {
namespace block {
namespace {

// Besides what every block kernel provides (block/passes.h), a grouped one
// gives the classes of the eight blocks from p, lane j for block j, and
// for the sum weighs block j of the group whose masks are m (m.live,
// m.negative and m.pair(j)), the block being at p, with Needs what the
// group may have; after a group weighed with has_long, redo_long_runs
// weighs what its lookups could not.
template <class K>
concept grouped_kernel = classifies<K> && requires(const unsigned char* p, const typename K::constants& k) {
  { K::classify_group(p, k) } -> std::same_as<group_classes>;
};

template <class K>
concept weighs_groups = grouped_kernel<K> && accumulates<K> &&
    requires(const unsigned char* p, const group_masks& m, unsigned j, typename K::accumulators& acc,
             const typename K::constants& k) {
  K::template weigh<has_negative | has_medium | has_long>(p, m, j, acc, k);
  K::template weigh<0>(p, m, j, acc, k);
  K::redo_long_runs(p, m, j, acc, k);
};

// The passes the grouped driver runs: the sum of a kernel that weighs
// groups, and the fold block by block.
template <class P>
concept group_pass = pass<P> && grouped_kernel<typename P::kernel> &&
    (P::folds ? block_pass<P> : weighs_groups<typename P::kernel>);

INTSUM_ALWAYS_INLINE bool plan_group(group_masks& m, unsigned count, carry_bits& carry) {
  const group_classes c{_mm512_load_si512(m.digit), _mm512_load_si512(m.minus),
                        _mm512_load_si512(m.sign),  _mm512_load_si512(m.separator),
                        _mm512_load_si512(m.comma), _mm512_load_si512(m.other)};
  return plan_lanes(c, _mm512_loadu_si512(m.digit + 1), count, carry, m);
}

// Classifies the `count` blocks from p, at most a group, into m, and the
// digits of the block after them.
template <grouped_kernel Kernel>
INTSUM_ALWAYS_INLINE void classify_group(const unsigned char* p, unsigned count, group_masks& m,
                                         const typename Kernel::constants& k) {
  for (unsigned j = 0; j < group_blocks; ++j) {
    if (j < count) {
      const classes c = Kernel::classify(p + block_bytes * j, k);
      m.digit[j] = c.digit;
      m.minus[j] = c.minus;
      m.sign[j] = c.sign;
      m.separator[j] = c.separator;
      m.comma[j] = c.comma;
      m.other[j] = c.other;
    } else {
      m.digit[j] = m.minus[j] = m.sign[j] = m.separator[j] = m.comma[j] = m.other[j] = 0;
    }
  }
  m.digit[group_blocks] = 0;
  m.digit[count] = Kernel::classify(p + block_bytes * count, k).digit;
}

// Weighs the `count` blocks from p with their masks in m. Each block reads
// its masks from memory, and the loop is not unrolled: left to itself, GCC
// takes them out of vector registers lane by lane and keeps every block's
// constants live at once, spilling the accumulators.
template <weighs_groups Kernel, unsigned Needs>
INTSUM_ALWAYS_INLINE void weigh_blocks(const unsigned char* p, const group_masks& m, unsigned count,
                                       typename Kernel::accumulators& acc,
                                       const typename Kernel::constants& k) {
#pragma GCC unroll 1
  for (unsigned j = 0; j < count; ++j) Kernel::template weigh<Needs>(p + block_bytes * j, m, j, acc, k);
  if constexpr ((Needs & has_long) != 0) Kernel::redo_long_runs(p, m, count, acc, k);
}

// The sum's weighing is picked once per group, on what is usually alike all
// through a file, so the choice is well predicted and costs no block a
// branch. The fold takes every block one way.
template <group_pass Pass>
INTSUM_ALWAYS_INLINE void take_group(const unsigned char* p, group_masks& m, unsigned count,
                                     typename Pass::work& work, const typename Pass::kernel::constants& k) {
  using Kernel = typename Pass::kernel;
  if constexpr (Pass::folds) {
#pragma GCC unroll 1
    for (unsigned j = 0; j < count; ++j) Pass::take(p + block_bytes * j, m.plan_of(j), work, k);
  } else {
    const unsigned needs = m.needs;
    __asm__ volatile("" : : "r"(&m) : "memory");
    // Read before the barrier, so the choice needs no reload; the
    // usual mixed file comes first. has_long never comes without has_medium.
    constexpr unsigned all = has_negative | has_medium | has_long;
    if (needs == all) return weigh_blocks<Kernel, all>(p, m, count, work, k);
    if (needs == (has_medium | has_long))
      return weigh_blocks<Kernel, has_medium | has_long>(p, m, count, work, k);
    if (needs == 0) return weigh_blocks<Kernel, 0>(p, m, count, work, k);
    if (needs == has_negative) return weigh_blocks<Kernel, has_negative>(p, m, count, work, k);
    if (needs == has_medium) return weigh_blocks<Kernel, has_medium>(p, m, count, work, k);
    return weigh_blocks<Kernel, has_negative | has_medium>(p, m, count, work, k);
  }
}

// Runs the `count` blocks from p, at most a group, each seeing the digits
// of the next (so the block at p + 64 * count must be readable). True when
// the list ends.
template <group_pass Pass>
INTSUM_ALWAYS_INLINE bool run_part_group(const unsigned char* p, unsigned count, carry_bits& carry,
                                         typename Pass::work& work,
                                         const typename Pass::kernel::constants& k) {
  group_masks m;
  classify_group<typename Pass::kernel>(p, count, m, k);
  const bool ended = plan_group(m, count, carry);
  take_group<Pass>(p, m, count, work, k);
  return ended;
}

inline constexpr std::size_t group_bytes = group_blocks * block_bytes;

// The classes of group g + 1 of the `groups` from p; past the last group,
// only the digits of the block after it, in every lane.
template <grouped_kernel Kernel>
INTSUM_ALWAYS_INLINE group_classes classes_after(const unsigned char* p, std::size_t g, std::size_t groups,
                                                 const typename Kernel::constants& k) {
  const unsigned char* q = p + group_bytes * (g + 1);
  if (g + 1 < groups) return Kernel::classify_group(q, k);
  group_classes c;
  c.digit = lanes(Kernel::classify(q, k).digit);
  return c;
}

// The rules of a whole group, given its classes and those of the group after it.
INTSUM_ALWAYS_INLINE bool plan_whole_group(const group_classes& now, const group_classes& next,
                                           carry_bits& carry, group_masks& m) {
  return plan_lanes(now, _mm512_alignr_epi64(next.digit.v, now.digit.v, 1), group_blocks, carry, m);
}

// Runs `groups` whole groups from p, the block after them readable. True
// when the list ends. The groups go through the three stages at once: while
// group g is weighed, the rules of group g + 1 have run, so that their chain
// of carries overlaps the weighing, and group g + 2 has been classified.
// At the top of iteration g: m[g % 2] is the plan of group g, `ended` says
// whether the list ends in it, `next` holds the classes of group g + 1
// (classes_after), and `carry` is the carry after group g.
template <group_pass Pass>
INTSUM_ALWAYS_INLINE bool run_whole_groups(const unsigned char* p, std::size_t groups, carry_bits& carry,
                                           typename Pass::work& work,
                                           const typename Pass::kernel::constants& k) {
  using Kernel = typename Pass::kernel;
  group_masks m[2];
  group_classes next = classes_after<Kernel>(p, 0, groups, k);
  bool ended = plan_whole_group(Kernel::classify_group(p, k), next, carry, m[0]);
  for (std::size_t g = 0; g < groups; ++g) {
    bool next_ended = false;
    if (!ended && g + 1 < groups) {
      const group_classes after_next = classes_after<Kernel>(p, g + 1, groups, k);
      next_ended = plan_whole_group(next, after_next, carry, m[(g + 1) % 2]);
      next = after_next;
    }
    take_group<Pass>(p + group_bytes * g, m[g % 2], group_blocks, work, k);
    if (ended) return true;
    ended = next_ended;
  }
  return false;
}

// Runs `count` blocks from p, each seeing the digits of the next (so the
// block at p + 64 * count must be readable). True when the list ends.
template <group_pass Pass>
INTSUM_ALWAYS_INLINE bool run_groups(const unsigned char* p, std::size_t count, carry_bits& carry,
                                     typename Pass::work& work, const typename Pass::kernel::constants& k) {
  const std::size_t groups = count / group_blocks;
  if (groups != 0 && run_whole_groups<Pass>(p, groups, carry, work, k)) return true;
  const auto part = static_cast<unsigned>(count % group_blocks);
  return part != 0 && run_part_group<Pass>(p + group_bytes * groups, part, carry, work, k);
}

// run_chunk of chunk.h, a group at a time.
template <group_pass Pass>
INTSUM_ALWAYS_INLINE chunk_result run_chunk_in_groups(typename Pass::carry_type& c, const unsigned char* p,
                                                      std::size_t n, bool eof) {
  return run_chunk_with<Pass>(
      c, p, n, eof,
      [](const unsigned char* q, std::size_t count, carry_bits& t, auto& w, const auto& k) {
        return run_groups<Pass>(q, count, t, w, k);
      },
      [](const unsigned char* q, std::size_t count, carry_bits& t, auto& w, const auto& k) {
        return run_part_group<Pass>(q, static_cast<unsigned>(count), t, w, k);
      });
}

}  // namespace
}  // namespace block
}  // namespace intsum
