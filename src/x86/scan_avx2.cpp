// The kernel for AVX2: the mark-scan kernel (mark_scan.h) on two 256-bit
// vectors a block.
#include "core/kernels.h"
#include "x86/mark_scan.h"

namespace intsum {
namespace {

using namespace block;

struct avx2_blocks : mark_scan<v256> {};

}  // namespace

chunk_result sum_avx2(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<summing<avx2_blocks>>(c, p, n, eof);
}

chunk_result fold_avx2(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<folding<avx2_blocks>>(c, p, n, eof);
}

}  // namespace intsum
