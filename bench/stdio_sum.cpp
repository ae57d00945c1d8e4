// stdio_sum FILE: the loop most people would write with stdio, kept as the
// baseline intsum is measured against. It is deliberately plain: fscanf for
// each integer, fgetc/ungetc for the spaces and commas after it.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s FILE\n", argc > 0 && argv[0] != nullptr ? argv[0] : "stdio_sum");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "r");
  if (f == nullptr) {
    std::perror(argv[1]);
    return 1;
  }

  // Unsigned, so the sum wraps modulo 2^32 without overflow. Out-of-range
  // integers are formally undefined for %d; glibc reads them as a long and
  // truncates, which is the same modulo-2^32 value.
  unsigned sum = 0;
  int x = 0;
  while (std::fscanf(f, "%d", &x) == 1) {
    sum += static_cast<unsigned>(x);
    int c = std::fgetc(f);
    while (c == ' ' || c == ',') c = std::fgetc(f);
    if (c != EOF) std::ungetc(c, f);
  }
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    std::fprintf(stderr, "%s: read error\n", argv[1]);
    return 1;
  }
  std::printf("Result: %d\n", static_cast<int>(sum));
  return 0;
}
