// Two builds of the vector kernels in one process, timed trial by trial in
// turn on each shape, so that both see the same load on a shared machine.
// Built by bench/kernel_ab.sh, which compiles each build's kernels with the
// namespace renamed to intsum_a and intsum_b.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/fold.h"
#include "shapes.h"

// Each build's sum of a whole input with one kernel (kernel_ab_side.cpp);
// ab_kernels.h, written by the script, names the kernels both builds have.
using ab_sum = std::uint32_t (*)(const unsigned char* p, std::size_t n);
#define INTSUM_AB_KERNEL(name)                                    \
  namespace intsum_a {                                            \
  std::uint32_t ab_sum_##name(const unsigned char*, std::size_t); \
  }                                                               \
  namespace intsum_b {                                            \
  std::uint32_t ab_sum_##name(const unsigned char*, std::size_t); \
  }
#include "ab_kernels.h"
#undef INTSUM_AB_KERNEL

namespace {

struct ab_pair {
  std::string_view name;
  ab_sum a, b;
};

constexpr ab_pair pairs[] = {
#define INTSUM_AB_KERNEL(name) {#name, intsum_a::ab_sum_##name, intsum_b::ab_sum_##name},
#include "ab_kernels.h"
#undef INTSUM_AB_KERNEL
};

constexpr std::size_t input_bytes = 256 * 1024;  // stays in the L2 cache
constexpr int runs_per_trial = 20;

// GiB/s of one trial; the sum goes to `sum`.
double trial(ab_sum k, const unsigned char* in, std::size_t n, std::uint32_t& sum) {
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < runs_per_trial; ++r) sum = k(in, n);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return runs_per_trial * static_cast<double>(n) / took.count() / (1 << 30);
}

double median(std::vector<double> v, double at = 0.5) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(at * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view name = argc > 1 ? argv[1] : "avx512";
  const int trials = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
  const ab_pair* pair = nullptr;
  for (const ab_pair& p : pairs)
    if (p.name == name) pair = &p;
  const intsum::kernel* k = intsum::find_kernel(name);
  if (pair == nullptr || k == nullptr) {
    std::printf("%.*s: not a kernel of both builds\n", static_cast<int>(name.size()), name.data());
    return 2;
  }
  const ab_sum a = pair->a, b = pair->b;
  if (!k->supported()) {
    std::printf("%.*s: this CPU cannot run it\n", static_cast<int>(name.size()), name.data());
    return 0;
  }
  auto* in = static_cast<unsigned char*>(std::aligned_alloc(64, input_bytes));
  int status = 0;
  for (intsum::bench::shape s : intsum::bench::all_shapes) {
    const std::string text = intsum::bench::generate(s, input_bytes).substr(0, input_bytes);
    std::memcpy(in, text.data(), text.size());
    std::vector<double> ga, gb, ratio;
    std::uint32_t sum_a = 0, sum_b = 0;
    for (int t = 0; t < trials; ++t) {
      ga.push_back(trial(a, in, text.size(), sum_a));
      gb.push_back(trial(b, in, text.size(), sum_b));
      ratio.push_back(gb.back() / ga.back());
    }
    std::printf("%-6.*s %-5s A %6.2f GiB/s  B %6.2f GiB/s  B/A %.3f (quartiles %.3f to %.3f)%s\n",
                static_cast<int>(name.size()), name.data(), intsum::bench::shape_name(s), median(ga),
                median(gb), median(ratio), median(ratio, 0.25), median(ratio, 0.75),
                sum_a == sum_b ? "" : "  SUMS DIFFER");
    if (sum_a != sum_b) status = 1;
  }
  std::free(in);
  return status;
}
