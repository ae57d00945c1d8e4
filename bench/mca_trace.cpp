// mca_trace KERNEL SHAPE BYTES [mix]: sums the first BYTES bytes of a
// benchmark shape from memory with one kernel, in one chunk, or with `mix`
// folds them with a combiner of its own (a * 31 + b) through its pointer.
// bench/mca.sh runs it under qemu to record the instructions the kernel
// executes, for llvm-mca.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/fold.h"
#include "mix.h"
#include "shapes.h"

namespace {

struct memory_source {
  std::string data;
  std::size_t pos = 0;

  static ssize_t read(void* context, unsigned char* buffer, std::size_t size) {
    auto& m = *static_cast<memory_source*>(context);
    const std::size_t n = std::min(size, m.data.size() - m.pos);
    std::memcpy(buffer, m.data.data() + m.pos, n);
    m.pos += n;
    return static_cast<ssize_t>(n);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const bool args = argc == 4 || (argc == 5 && std::strcmp(argv[4], "mix") == 0);
  const intsum::kernel* k = args ? intsum::find_kernel(argv[1]) : nullptr;
  const auto shape = args ? intsum::bench::parse_shape(argv[2]) : std::nullopt;
  const std::size_t bytes = args ? std::strtoull(argv[3], nullptr, 10) : 0;
  if (k == nullptr || !shape || bytes == 0 || bytes > intsum::default_read_size) {
    std::fprintf(stderr, "usage: mca_trace KERNEL wide|small|mixed BYTES [mix] (at most %zu bytes)\n",
                 intsum::default_read_size);
    return 2;
  }
  memory_source in{intsum::bench::generate(*shape, bytes)};
  in.data.resize(bytes);  // a prefix of any longer run's input
  const fold_result r =
      intsum::fold({memory_source::read, &in}, argc == 5 ? intsum::bench::mix : add, {.use = k});
  std::printf("Result: %d\n", r.value);
  return 0;
}
