// Runs the fuzz target without libFuzzer, wherever the tests run (under
// qemu in the cross builds): every file of a corpus, then for each a number
// of seeded mutations. A finding aborts, as under libFuzzer.
//
//   fuzz_replay CORPUS_DIR [MUTATIONS_PER_FILE]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr std::size_t max_len = 8192;  // as in the libFuzzer runs (.ci/run)

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A few edits of the kinds that matter here: bytes of the format's classes,
// runs of them, cuts, and pieces of other inputs.
std::string mutate(std::string s, const std::vector<std::string>& corpus, std::mt19937_64& rng) {
  static constexpr char interesting[] = "0123456789 ,,  +-\t\n\r\v\fx.;\x80\xff";
  auto below = [&rng](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
  auto some_byte = [&] {
    return rng() % 4 == 0 ? static_cast<char>(rng()) : interesting[below(sizeof interesting)];
  };
  for (std::size_t edits = 1 + below(8); edits > 0; --edits) {
    const std::size_t at = below(s.size() + 1);
    switch (rng() % 6) {
      case 0:
        if (at < s.size()) s[at] = some_byte();
        break;
      case 1:
        s.insert(at, 1, some_byte());
        break;
      case 2:
        s.insert(at, 1 + below(80), some_byte());
        break;
      case 3:
        s.erase(at, 1 + below(16));
        break;
      case 4: {
        const std::string& other = corpus[below(corpus.size())];
        const std::size_t from = below(other.size());
        s.insert(at, other, from, 1 + below(200));
        break;
      }
      default:
        s.insert(at, s.substr(at, 1 + below(64)));
        break;
    }
  }
  if (s.size() > max_len) s.resize(max_len);
  return s;
}

int run(const std::string& input) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [MUTATIONS_PER_FILE]\n", argc > 0 ? argv[0] : "fuzz_replay");
    return 2;
  }
  const unsigned long mutations = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;

  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
    if (entry.is_regular_file()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> corpus;
  for (const auto& p : paths) corpus.push_back(read_file(p));
  if (corpus.empty()) {
    std::fprintf(stderr, "%s: no inputs\n", argv[1]);
    return 2;
  }

  for (std::size_t i = 0; i < corpus.size(); ++i) {
    // Printed first, so that a finding names its input: file i, then
    // mutation m of it from seed i.
    std::printf("%s: the file and %lu mutations (seed %zu)\n", paths[i].filename().c_str(), mutations, i);
    std::fflush(stdout);
    run(corpus[i]);
    std::mt19937_64 rng(i);
    for (unsigned long m = 0; m < mutations; ++m) run(mutate(corpus[i], corpus, rng));
  }
  std::printf("%zu files, %zu inputs, every kernel agreed with the scalar scanner\n", corpus.size(),
              corpus.size() * (1 + mutations));
  return 0;
}
