// Helpers shared by the tests: in-memory readers that split input into
// chosen reads, and the list of kernels this machine can run.
#pragma once

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/fold.h"
#include "core/kernels.h"

namespace intsum::testing {

// Hands out `data` in reads of the sizes given by `sizes`, cycling through
// them; a size of 0 stands for a read that fails.
struct split_source {
  std::string_view data;
  std::vector<std::size_t> sizes;
  std::size_t pos = 0;
  std::size_t next = 0;

  static ssize_t read(void* context, unsigned char* buffer, std::size_t size) {
    auto& s = *static_cast<split_source*>(context);
    std::size_t want = s.sizes.empty() ? size : s.sizes[s.next++ % s.sizes.size()];
    if (want == 0) {
      errno = EIO;
      return -1;
    }
    std::size_t n = std::min({want, size, s.data.size() - s.pos});
    std::memcpy(buffer, s.data.data() + s.pos, n);
    s.pos += n;
    return static_cast<ssize_t>(n);
  }
};

inline fold_result fold_split(std::string_view data, combiner f, const kernel* k,
                              std::vector<std::size_t> sizes = {}) {
  split_source src{data, std::move(sizes)};
  return fold({split_source::read, &src}, f, {.use = k});
}

inline fold_result fold_random_reads(std::string_view data, combiner f, const kernel* k, std::mt19937_64& rng,
                                     std::size_t max_read) {
  std::vector<std::size_t> sizes(64);
  std::uniform_int_distribution<std::size_t> pick(1, max_read);
  for (auto& s : sizes) s = pick(rng);
  return fold_split(data, f, k, std::move(sizes));
}

inline std::vector<const kernel*> available_kernels() {
  std::vector<const kernel*> ks;
  for (const kernel& k : all_kernels())
    if (k.supported()) ks.push_back(&k);
  return ks;
}

inline const kernel* scalar_kernel() { return find_kernel("scalar"); }

// The stack a fold must fit in, in KiB. The AVX-512 kernel built from
// portable intrinsics, a test build, keeps its vectors on the stack.
#if defined(INTSUM_TEST_EMULATED_AVX512)
inline constexpr unsigned small_stack_kib = 256;
#else
inline constexpr unsigned small_stack_kib = 64;
#endif

inline int subtract(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b));
}

// A combiner that sees order and count: any lost, extra or swapped integer changes it.
inline int mix(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) * 31u + static_cast<unsigned>(b));
}

}  // namespace intsum::testing

namespace intsum {
// Names kernels in test output.
inline void PrintTo(const kernel* k, std::ostream* os) { *os << k->name; }
}  // namespace intsum
