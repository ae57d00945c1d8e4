// intsum_checksum FILE: folds the integers of FILE with a combiner of its
// own, a checksum that changes with their order and count, as any program
// built against the fold can.
#include <cstdio>

#include "sequential_compute.h"

namespace {

// a * 31 + b, wrapping: every integer, its place and the count change it.
int checksum(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) * 31u + static_cast<unsigned>(b));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Usage: %s <filename>\n", argc > 0 && argv[0] != nullptr ? argv[0] : "intsum_checksum");
    return 1;
  }
  const fold_result r = sequential_compute(argv[1], checksum);
  switch (r.status) {
    case fold_status::ok:
      break;
    case fold_status::open_failed:
      std::puts("Error: File not found");
      return 1;
    case fold_status::read_failed:
      std::puts("Error: Cannot read file");
      return 1;
    case fold_status::no_memory:
      std::puts("Error: Out of memory");
      return 1;
  }
  std::printf("Checksum: %d\n", r.value);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
