// Throughput of each kernel on each input shape, from memory, so disk and
// page cache stay out of the numbers: fold/ reads a 16 MiB input through
// fold, copying it into the read buffer as a file read would; kernel/ runs
// the kernel alone on a 256 KiB input that stays in the L2 cache, which
// shows changes to a kernel more sharply; combiner/ is fold/ with a
// combiner of the caller's, called through its pointer, and calls/ the
// floor for that: the same integers from an array, through the same
// pointer. Benchmarks are registered at start-up from all_kernels: a new
// kernel shows up here without touching this file.
#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/fold.h"
#include "mix.h"
#include "shapes.h"

namespace {

constexpr std::uint64_t corpus_bytes = 16u << 20;
constexpr std::size_t kernel_bytes = 256 * 1024;
constexpr std::size_t bytes_per_read = 128 * 1024;

// One input per shape, made on first use so listing the benchmarks stays cheap.
const std::string& corpus(intsum::bench::shape s) {
  static std::string made[std::size(intsum::bench::all_shapes)];
  std::string& text = made[static_cast<std::size_t>(s)];
  if (text.empty()) text = intsum::bench::generate(s, corpus_bytes);
  return text;
}

// read(2) from a buffer. The copy is kept on purpose: fold always works on
// its own buffer, as it does with a real file.
struct memory_source {
  std::string_view data;
  std::size_t pos = 0;

  static ssize_t read(void* context, unsigned char* buffer, std::size_t size) {
    auto& m = *static_cast<memory_source*>(context);
    std::size_t n = std::min({size, bytes_per_read, m.data.size() - m.pos});
    std::memcpy(buffer, m.data.data() + m.pos, n);
    m.pos += n;
    return static_cast<ssize_t>(n);
  }
};

using intsum::bench::mix;

void fold_with(benchmark::State& state, const intsum::kernel* k, intsum::bench::shape s, combiner f) {
  const std::string& text = corpus(s);
  for (auto _ : state) {
    memory_source src{text};
    fold_result r = intsum::fold({memory_source::read, &src}, f, {.use = k});
    benchmark::DoNotOptimize(r);
    if (r.status != fold_status::ok) {
      state.SkipWithError("fold failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

void fold_memory(benchmark::State& state, const intsum::kernel* k, intsum::bench::shape s) {
  fold_with(state, k, s, add);
}

void fold_combiner(benchmark::State& state, const intsum::kernel* k, intsum::bench::shape s) {
  fold_with(state, k, s, mix);
}

// The shape's integers from an array, through the combiner's pointer, which
// the compiler cannot see through: what calling it costs at the least.
void calls_alone(benchmark::State& state, const intsum::kernel*, intsum::bench::shape s) {
  const std::string& text = corpus(s);
  static std::vector<int> xs;
  xs.clear();
  memory_source src{text};
  intsum::fold({memory_source::read, &src},
               [](int, int b) {
                 xs.push_back(b);
                 return 0;
               },
               {.use = intsum::find_kernel("scalar")});
  combiner volatile through = mix;
  for (auto _ : state) {
    const combiner f = through;
    int r = 0;
    for (int x : xs) r = f(r, x);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// The start of the shape's input, 64-byte aligned as fold's read buffer is.
void kernel_alone(benchmark::State& state, const intsum::kernel* k, intsum::bench::shape s) {
  const std::string& text = corpus(s);
  const std::size_t n = std::min(text.size(), kernel_bytes);
  auto* in = static_cast<unsigned char*>(std::aligned_alloc(64, kernel_bytes));
  std::memcpy(in, text.data(), n);
  for (auto _ : state) {
    intsum::sum_carry c{};
    benchmark::DoNotOptimize(k->sum(c, in, n, true));
    benchmark::DoNotOptimize(c.sum);
  }
  std::free(in);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
}

const bool registered = [] {
  struct family {
    const char* prefix;
    void (*run)(benchmark::State&, const intsum::kernel*, intsum::bench::shape);
    benchmark::TimeUnit unit;
  };
  for (intsum::bench::shape s : intsum::bench::all_shapes) {
    std::string name = std::string("calls/") + intsum::bench::shape_name(s);
    benchmark::RegisterBenchmark(name.c_str(), calls_alone, nullptr, s)->Unit(benchmark::kMillisecond);
  }
  for (const family& f : {family{"fold/", fold_memory, benchmark::kMillisecond},
                          family{"combiner/", fold_combiner, benchmark::kMillisecond},
                          family{"kernel/", kernel_alone, benchmark::kMicrosecond}}) {
    for (const intsum::kernel& k : intsum::all_kernels()) {
      if (!k.supported()) continue;
      for (intsum::bench::shape s : intsum::bench::all_shapes) {
        std::string name = std::string(f.prefix) + k.name + "/" + intsum::bench::shape_name(s);
        benchmark::RegisterBenchmark(name.c_str(), f.run, &k, s)->Unit(f.unit);
      }
    }
  }
  return true;
}();

}  // namespace
