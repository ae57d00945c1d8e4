// intsum_kernel KERNEL FILE: sums FILE with one chosen kernel, so the
// benchmark script can time each kernel on its own. Not installed.
//   intsum_kernel list   names the kernels this CPU can run, one a line
//   intsum_kernel best   names the kernel intsum itself picks here
#include <cstdio>
#include <cstring>

#include "core/fold.h"

namespace {

int usage(const char* name) {
  std::fprintf(stderr, "Usage: %s KERNEL FILE | %s list | %s best\n", name, name, name);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "intsum_kernel";
  if (argc == 2 && std::strcmp(argv[1], "list") == 0) {
    // Simplest first, as this list has always been.
    auto ks = intsum::all_kernels();
    for (auto k = ks.rbegin(); k != ks.rend(); ++k)
      if (k->supported()) std::puts(k->name);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "best") == 0) {
    std::puts(intsum::best_kernel().name);
    return 0;
  }
  if (argc != 3) return usage(name);

  // "automatic" is what intsum itself runs.
  const intsum::kernel* k =
      std::strcmp(argv[1], "automatic") == 0 ? &intsum::best_kernel() : intsum::find_kernel(argv[1]);
  if (!k) {
    std::fprintf(stderr, "%s: no kernel named '%s' in this build\n", name, argv[1]);
    return 1;
  }
  if (!k->supported()) {
    std::fprintf(stderr, "%s: this CPU cannot run kernel '%s'\n", name, argv[1]);
    return 1;
  }

  fold_result r = intsum::fold_file(argv[2], add, {.use = k});
  switch (r.status) {
    case fold_status::open_failed:
      std::fprintf(stderr, "%s: cannot open %s\n", name, argv[2]);
      return 1;
    case fold_status::read_failed:
      std::fprintf(stderr, "%s: cannot read %s\n", name, argv[2]);
      return 1;
    case fold_status::no_memory:
      std::fprintf(stderr, "%s: out of memory\n", name);
      return 1;
    case fold_status::ok:
      break;
  }
  std::printf("Result: %d\n", r.value);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
