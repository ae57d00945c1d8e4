// The kernel for x86-64-v2 (SSSE3, SSE4.1, SSE4.2 and POPCNT), for the
// x86-64 CPUs without AVX2: the mark-scan kernel (mark_scan.h) on four
// 128-bit vectors a block, the same instructions as AVX2's at half the width.
#include "core/kernels.h"
#include "x86/mark_scan.h"

namespace intsum {
namespace {

using namespace block;

struct sse4_blocks : mark_scan<v128> {};

}  // namespace

chunk_result sum_sse4(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<summing<sse4_blocks>>(c, p, n, eof);
}

chunk_result fold_sse4(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<folding<sse4_blocks>>(c, p, n, eof);
}

}  // namespace intsum
