// Runs a block kernel over a chunk: its whole blocks, each seeing the next,
// then the last bytes on trial (docs/design.md, "A chunk's end").
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "block/passes.h"

namespace intsum {
namespace block {
namespace {

// Runs `count` blocks from p, each seeing the classes of the next (so the
// block at p + 64 * count must be readable). True when the list ends.
template <block_pass Pass>
INTSUM_ALWAYS_INLINE bool run_blocks(const unsigned char* p, std::size_t count, carry_bits& carry,
                                     typename Pass::work& work, const typename Pass::kernel::constants& k) {
  using Kernel = typename Pass::kernel;
  classes now = Kernel::classify(p, k);
  for (std::size_t b = 0; b < count; ++b, p += block_bytes) {
    const classes next = Kernel::classify(p + block_bytes, k);
    const plan_and_stop planned = plan_block(now, next.digit, carry);
    Pass::take(p, planned.p, work, k);
    if (planned.stop != 0) return true;
    now = next;
  }
  return false;
}

// What runs `count` blocks from p as run_blocks does: with the carry, the
// pass's work and the kernel's constants; true when the list ends.
template <class Run, class Pass>
concept runs_blocks = std::is_invocable_r_v<bool, Run&, const unsigned char*, std::size_t, carry_bits&,
                                            typename Pass::work&, const typename Pass::kernel::constants&>;

// The end of a chunk whose whole blocks with a lookahead, up to pos, have
// been run (`ended` when the list ended in them), the rest on trial.
template <pass Pass, runs_blocks<Pass> Run>
INTSUM_ALWAYS_INLINE chunk_result finish_chunk(typename Pass::carry_type& c, const unsigned char* p,
                                               std::size_t n, std::size_t pos, bool eof, bool ended,
                                               carry_bits carry, typename Pass::work& work, Run run_trial,
                                               const typename Pass::kernel::constants& k) {
  if (!ended) {
    // The bytes after the last whole block with a lookahead, in whole blocks,
    // and a lookahead after them. At the end of input they are padded with
    // NULs, which end the list as the end of input does. Otherwise they are
    // padded with digits, which end nothing, to learn whether the list ends
    // within them: then no more need be read.
    alignas(64) unsigned char trial_bytes[max_tail + 1 + lookahead_bytes];
    static_assert((max_tail + 1) % block_bytes == 0);
    std::memset(trial_bytes, eof ? 0 : '0', sizeof trial_bytes);
    std::memcpy(trial_bytes, p + pos, n - pos);
    Pass::settle(work);
    carry_bits trial_carry = carry;
    typename Pass::work trial = work;
    Pass::runs_from(trial, trial_bytes);
    ended = run_trial(trial_bytes, (n - pos + block_bytes - 1) / block_bytes, trial_carry, trial, k);
    if (ended || eof) {
      work = trial;
      ended = true;
    }
  }
  Pass::finish(c, work, carry, ended);
  return {ended ? n : pos, ended};
}

// Runs a pass over one chunk with `run`, and `run_trial` for the at most
// two blocks at the end of the chunk.
template <pass Pass, runs_blocks<Pass> Run, runs_blocks<Pass> Trial>
INTSUM_ALWAYS_INLINE chunk_result run_chunk_with(typename Pass::carry_type& c, const unsigned char* p,
                                                 std::size_t n, bool eof, Run run, Trial run_trial) {
  if (c.state.at == phase::ended) return {n, true};
  const typename Pass::kernel::constants k;
  typename Pass::work work = Pass::start(c);
  Pass::runs_from(work, p);
  carry_bits carry = carry_from(c.state);
  // Whole blocks with their lookahead after them.
  const std::size_t pos = n > lookahead_bytes ? (n - lookahead_bytes) / block_bytes * block_bytes : 0;
  const bool ended = pos != 0 && run(p, pos / block_bytes, carry, work, k);
  return finish_chunk<Pass>(c, p, n, pos, eof, ended, carry, work, run_trial, k);
}

// run_chunk_with block by block.
template <block_pass Pass>
INTSUM_ALWAYS_INLINE chunk_result run_chunk(typename Pass::carry_type& c, const unsigned char* p,
                                            std::size_t n, bool eof) {
  const auto blocks = [](const unsigned char* q, std::size_t count, carry_bits& t, auto& w, const auto& k) {
    return run_blocks<Pass>(q, count, t, w, k);
  };
  return run_chunk_with<Pass>(c, p, n, eof, blocks, blocks);
}

}  // namespace
}  // namespace block
}  // namespace intsum
