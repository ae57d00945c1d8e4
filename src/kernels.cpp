// The table of summing kernels, and the CPU check that picks one. A new
// kernel is its own source file and one line here.
#include <iterator>

#include "fold.h"

namespace intsum {

// The vector kernels, each in its own file with its own target flags.
#if defined(__x86_64__)
chunk_result sum_avx2(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result sum_avx512(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
#elif defined(__aarch64__)
chunk_result sum_neon(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
#endif

namespace {

bool always() { return true; }

#if defined(__x86_64__)
bool has_avx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi"); }
bool has_avx512_icelake() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni") &&
         __builtin_cpu_supports("avx512bitalg") && __builtin_cpu_supports("gfni") &&
         __builtin_cpu_supports("bmi");
}
#endif

// Best first: the program runs the first one the CPU supports.
constexpr kernel table[] = {
#if defined(__x86_64__)
    {"avx512", sum_avx512, has_avx512_icelake},
    {"avx2", sum_avx2, has_avx2},
#elif defined(__aarch64__)
    {"neon", sum_neon, always},  // Advanced SIMD is part of every aarch64 CPU
#endif
    {"scalar", sum_scalar, always},
};

}  // namespace

std::span<const kernel> all_kernels() { return table; }

const kernel& best_kernel() {
  for (const kernel& k : table)
    if (k.supported()) return k;
  return table[std::size(table) - 1];
}

const kernel* find_kernel(std::string_view name) {
  for (const kernel& k : table)
    if (name == k.name) return &k;
  return nullptr;
}

}  // namespace intsum
