// The first two bytes pick the read sizes; the rest is the file. Every
// kernel must agree with the scalar scanner reading it whole, both summing
// and folding with a combiner that sees order and count.
//
// Byte 0's low two bits pick how long reads may be: up to 160 bytes (0 and
// 1), which runs the kernels block by block at the ends of chunks; up to
// 4096, chunks of a few groups of blocks with many ends between them; or up
// to the whole buffer, where a long input is one chunk and grouped kernels
// reach their steady state. The rest of bytes 0 and 1 sets the longest read
// and seeds the sizes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>

#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace intsum;
  using namespace intsum::testing;
  if (size < 2) return 0;
  const unsigned header = data[0] | data[1] << 8;
  std::mt19937_64 rng(header);
  constexpr std::size_t longest[] = {160, 160, 4096, default_read_size};
  const std::size_t mode = header & 3;
  const std::size_t max_read = mode == 3 ? default_read_size : 1 + (header >> 2) % longest[mode];
  const std::string_view in(reinterpret_cast<const char*>(data + 2), size - 2);

  for (const combiner f : {add, mix}) {
    const fold_result want = fold_split(in, f, scalar_kernel());
    for (const kernel* k : available_kernels()) {
      const fold_result got = fold_random_reads(in, f, k, rng, max_read);
      if (got.status != want.status || got.value != want.value) {
        std::fprintf(stderr,
                     "kernel %s, %s, %zu bytes in reads of up to %zu: %d (status %d), want %d (status %d)\n",
                     k->name, f == add ? "sum" : "fold", in.size(), max_read, got.value,
                     static_cast<int>(got.status), want.value, static_cast<int>(want.status));
        std::abort();
      }
    }
  }
  return 0;
}
