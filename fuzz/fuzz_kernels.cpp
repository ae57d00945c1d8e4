// The first two bytes seed the read sizes; the rest is the file. Every
// kernel must agree with the scalar scanner reading it whole.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string_view>

#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace intsum;
  using namespace intsum::testing;
  if (size < 2) return 0;
  std::mt19937_64 rng(data[0] | data[1] << 8);
  const std::size_t max_read = 1 + data[0] % 160u;
  const std::string_view in(reinterpret_cast<const char*>(data + 2), size - 2);

  const fold_result want = fold_split(in, add, scalar_kernel());
  for (const kernel* k : available_kernels()) {
    const fold_result got = fold_random_reads(in, add, k, rng, max_read);
    if (got.status != want.status || got.value != want.value) std::abort();
  }
  return 0;
}
