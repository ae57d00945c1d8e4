// One revision's side of bench/kernel_ab.cpp, built against that revision's
// own headers with its namespace renamed (intsum_a or intsum_b), so that its
// kernel is called through its own declared types.
#include <cstddef>
#include <cstdint>

#include "scan.h"

#define INTSUM_AB_CONCAT(a, b) a##b
#define INTSUM_AB_NAMED(prefix, name) INTSUM_AB_CONCAT(prefix, name)

namespace intsum {

chunk_result INTSUM_AB_NAMED(sum_, INTSUM_AB_KERNEL_NAME)(sum_carry& c, const unsigned char* p, std::size_t n,
                                                          bool eof);

// The sum of the whole input, as one chunk at the end of input.
std::uint32_t INTSUM_AB_NAMED(ab_sum_, INTSUM_AB_KERNEL_NAME)(const unsigned char* p, std::size_t n) {
  sum_carry c{};
  INTSUM_AB_NAMED(sum_, INTSUM_AB_KERNEL_NAME)(c, p, n, true);
  return c.sum;
}

}  // namespace intsum
