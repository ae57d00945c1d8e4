// The fold behind sequential_compute, with the knobs that tests and
// benchmarks turn: which scanner runs, and how much each read asks for.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "sequential_compute.h"

namespace intsum {

enum class kernel { automatic, scalar, avx2, avx512 };
// Every kernel this build has, whether or not this CPU can run it.
inline constexpr kernel all_kernels[] = {kernel::scalar, kernel::avx2, kernel::avx512};

inline constexpr std::size_t default_read_size = 128 * 1024;

struct fold_options {
  kernel use = kernel::automatic;             // for add only; other combiners always run scalar
  std::size_t read_size = default_read_size;  // clamped to [1, default_read_size]
};

// A source of bytes with read(2)'s contract: bytes read, 0 at the end, -1 on error.
struct reader {
  ssize_t (*read)(void* context, unsigned char* buffer, std::size_t size);
  void* context;
};

bool kernel_available(kernel k);
const char* kernel_name(kernel k);
// The kernel that `automatic` stands for on this CPU.
kernel best_kernel();

fold_result fold(reader in, combiner f, const fold_options& options);
fold_result fold_file(const char* filename, combiner f, const fold_options& options);

}  // namespace intsum
