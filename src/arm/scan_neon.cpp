// The kernel for Advanced SIMD (NEON), part of every aarch64 CPU: the NEON
// kernel (neon_blocks.h) with plain multiplies.
#include "arm/neon_blocks.h"
#include "core/kernels.h"

namespace intsum {

// Everything inlined, lambdas too, so that the vectors stay in registers.
[[gnu::flatten]] chunk_result sum_neon(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_neon_chunk<block::summing<neon_blocks>>(c, p, n, eof);
}

[[gnu::flatten]] chunk_result fold_neon(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_neon_chunk<block::folding<neon_blocks>>(c, p, n, eof);
}

}  // namespace intsum
