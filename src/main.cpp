// intsum FILE: prints the sum of the integers in FILE, modulo 2^32.
#include <cstdio>

#include "sequential_compute.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    // An empty argument vector reaches us as no name at all, or (Linux 5.18
    // and later) as an empty one.
    const char* name = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "intsum";
    std::printf("Usage: %s <filename>\n", name);
    return 1;
  }

  fold_result r = sequential_compute(argv[1], add);
  switch (r.status) {
    case fold_status::open_failed:
      std::puts("Error: File not found");
      return 1;
    case fold_status::read_failed:
      std::puts("Error: Cannot read file");
      return 1;
    case fold_status::no_memory:
      std::puts("Error: Out of memory");
      return 1;
    case fold_status::ok:
      break;
  }

  // A result that does not reach standard output is a failure.
  bool written = std::printf("Result: %d\n", r.value) > 0;
  written = std::fflush(stdout) == 0 && written;
  return written ? 0 : 1;
}
