#include <intsum/sequential_compute.h>

#include <cstdio>

int larger(int a, int b) { return a > b ? a : b; }

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  intsum::fold_result r = intsum::sequential_compute(argv[1], larger);
  if (r.status != intsum::fold_status::ok) return 1;
  std::printf("Largest: %d\n", r.value);
}
