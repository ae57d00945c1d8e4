// Two builds of the x86 vector kernels in one process, timed trial by trial
// in turn on each shape, so that both see the same load on a shared
// machine. Built by bench/kernel_ab.sh, which compiles each build's kernels
// with the namespace renamed to intsum_a and intsum_b.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fold.h"
#include "shapes.h"

// Each build's kernels take its own types, laid out as intsum's.
#define INTSUM_KERNELS_OF(ns)                                                   \
  namespace ns {                                                                \
  struct sum_carry;                                                             \
  struct chunk_result;                                                          \
  chunk_result sum_avx2(sum_carry&, const unsigned char*, std::size_t, bool);   \
  chunk_result sum_avx512(sum_carry&, const unsigned char*, std::size_t, bool); \
  }
INTSUM_KERNELS_OF(intsum_a)
INTSUM_KERNELS_OF(intsum_b)

namespace {

template <class F>
intsum::sum_kernel as_kernel(F* f) {
  return reinterpret_cast<intsum::sum_kernel>(f);
}

constexpr std::size_t input_bytes = 256 * 1024;  // stays in the L2 cache
constexpr int runs_per_trial = 20;

// GiB/s of one trial; the sum goes to `sum`.
double trial(intsum::sum_kernel k, const unsigned char* in, std::size_t n, std::uint32_t& sum) {
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < runs_per_trial; ++r) {
    intsum::sum_carry c{};
    k(c, in, n, true);
    sum = c.sum;
  }
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
  const bool avx2 = name == "avx2";
  const intsum::sum_kernel a = avx2 ? as_kernel(&intsum_a::sum_avx2) : as_kernel(&intsum_a::sum_avx512);
  const intsum::sum_kernel b = avx2 ? as_kernel(&intsum_b::sum_avx2) : as_kernel(&intsum_b::sum_avx512);
  const intsum::kernel* k = intsum::find_kernel(name);
  if (k == nullptr || !k->supported()) {
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
