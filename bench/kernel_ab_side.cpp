// One revision's side of bench/kernel_ab.cpp, built against that revision's
// own headers with its namespace renamed (intsum_a or intsum_b), so that its
// kernel is called through its own declared types: the sum, or with
// INTSUM_AB_FOLD the fold with another combiner.
#include <cstddef>
#include <cstdint>

#include "mix.h"
#include "scan.h"

#define INTSUM_AB_CONCAT(a, b) a##b
#define INTSUM_AB_NAMED(prefix, name) INTSUM_AB_CONCAT(prefix, name)

namespace intsum {

chunk_result INTSUM_AB_NAMED(sum_, INTSUM_AB_KERNEL_NAME)(sum_carry& c, const unsigned char* p, std::size_t n,
                                                          bool eof);

#if defined(INTSUM_AB_FOLD)
chunk_result INTSUM_AB_NAMED(fold_, INTSUM_AB_KERNEL_NAME)(fold_carry& c, const unsigned char* p,
                                                           std::size_t n, bool eof);

// The fold of the whole input with it, as one chunk at the end of input.
std::uint32_t INTSUM_AB_NAMED(ab_sum_, INTSUM_AB_KERNEL_NAME)(const unsigned char* p, std::size_t n) {
  fold_carry c{};
  c.f = bench::mix;
  INTSUM_AB_NAMED(fold_, INTSUM_AB_KERNEL_NAME)(c, p, n, true);
  return static_cast<std::uint32_t>(c.result);
}
#else
// The sum of the whole input, as one chunk at the end of input.
std::uint32_t INTSUM_AB_NAMED(ab_sum_, INTSUM_AB_KERNEL_NAME)(const unsigned char* p, std::size_t n) {
  sum_carry c{};
  INTSUM_AB_NAMED(sum_, INTSUM_AB_KERNEL_NAME)(c, p, n, true);
  return c.sum;
}
#endif

}  // namespace intsum
