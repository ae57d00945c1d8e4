// intsum_gen SHAPE MIB OUTFILE: writes a benchmark input of at least MIB MiB.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "shapes.h"

namespace {

int usage(const char* name) {
  std::fprintf(stderr,
               "Usage: %s SHAPE MIB OUTFILE\n"
               "  SHAPE: wide (random int32, \", \" between, 10 a line),\n"
               "         small (0-99, one a line),\n"
               "         mixed (1-10 digits, random signs and separators)\n"
               "  MIB:   size in MiB (the file ends at the first separator past it)\n",
               name);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "intsum_gen";
  if (argc != 4) return usage(name);

  auto s = intsum::bench::parse_shape(argv[1]);
  if (!s) {
    std::fprintf(stderr, "%s: unknown shape '%s'\n", name, argv[1]);
    return usage(name);
  }
  std::string_view mib_text = argv[2];
  std::uint64_t mib = 0;
  auto [end, ec] = std::from_chars(mib_text.data(), mib_text.data() + mib_text.size(), mib);
  if (ec != std::errc() || end != mib_text.data() + mib_text.size() || mib == 0 || mib > (1u << 20)) {
    std::fprintf(stderr, "%s: MIB must be a whole number from 1 to 1048576, not '%s'\n", name, argv[2]);
    return 2;
  }

  std::FILE* f = std::fopen(argv[3], "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "%s: cannot create %s: %s\n", name, argv[3], std::strerror(errno));
    return 1;
  }
  // The generator already writes in 1 MiB blocks; stdio's own buffer would
  // only add a copy.
  std::setvbuf(f, nullptr, _IONBF, 0);
  bool ok = true;
  intsum::bench::generate(*s, mib << 20, [&](std::string_view block) {
    if (ok && std::fwrite(block.data(), 1, block.size(), f) != block.size()) ok = false;
  });
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", name, argv[3], std::strerror(errno));
    std::remove(argv[3]);
    return 1;
  }
  return 0;
}
