// The fold behind sequential_compute, with the knobs that tests and
// benchmarks turn: which scanner runs, and how much each read asks for.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>
#include <string_view>

#include "core/scan.h"
#include "sequential_compute.h"

namespace intsum {

// A kernel: the sum, and the fold with any combiner. The table of them,
// and the CPU check that picks one, live in kernels.cpp.
struct kernel {
  const char* name;
  sum_kernel sum;
  fold_kernel fold;
  bool (*supported)();  // whether this CPU can run it
};

// Every kernel this build has, best first, whether or not this CPU can run it.
std::span<const kernel> all_kernels();
// The first kernel in the table that this CPU can run; the scalar scanner at worst.
const kernel& best_kernel();
// The kernel of that name in this build, or nullptr.
const kernel* find_kernel(std::string_view name);

inline constexpr std::size_t default_read_size = 128 * 1024;

struct fold_options {
  const kernel* use = nullptr;                // nullptr: best_kernel()
  std::size_t read_size = default_read_size;  // clamped to [1, default_read_size]
};

// A source of bytes with read(2)'s contract: bytes read, 0 at the end, -1 on error.
struct reader {
  ssize_t (*read)(void* context, unsigned char* buffer, std::size_t size);
  void* context;
};

fold_result fold(reader in, combiner f, const fold_options& options);
fold_result fold_file(const char* filename, combiner f, const fold_options& options);

}  // namespace intsum
