// The kernel for aarch64 CPUs with the dot product instructions (FEAT_DotProd:
// Cortex-A76 and A55 on, every Neoverse): the NEON kernel (neon_blocks.h),
// its weighing by dot products.
#include "arm/neon_blocks.h"
#include "core/kernels.h"

#if !defined(__ARM_FEATURE_DOTPROD)
#error "scan_dotprod.cpp is built with the dot product instructions (CMakeLists.txt)"
#endif

namespace intsum {

// Everything inlined, lambdas too, so that the vectors stay in registers.
[[gnu::flatten]] chunk_result sum_dotprod(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_neon_chunk<block::summing<neon_blocks>>(c, p, n, eof);
}

[[gnu::flatten]] chunk_result fold_dotprod(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_neon_chunk<block::folding<neon_blocks>>(c, p, n, eof);
}

}  // namespace intsum
