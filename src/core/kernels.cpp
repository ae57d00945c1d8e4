// The table of kernels, and the CPU check that picks one. Its lines come
// from the intsum_kernel lines of CMakeLists.txt (kernel_list.h), one for
// each kernel that this build has: INTSUM_KERNEL(name, check), where the
// check is made of INTSUM_CPU_HAS("extension") terms on x86-64, of
// INTSUM_HWCAP_HAS('LETTER') terms on riscv64 and of
// INTSUM_HWCAP_HAS_BIT(HWCAP_NAME) terms on aarch64, or
// INTSUM_KERNEL_BEHIND_SCALAR(name, check) for one that the scalar scanner
// beats on this processor. Each kernel is src/FAMILY/scan_NAME.cpp,
// compiled with its own target flags, and its entry points sum_NAME and
// fold_NAME are declared in kernels.h.
#include "core/kernels.h"

#if defined(__riscv) || defined(__aarch64__)
#include <sys/auxv.h>
#endif

#include "core/fold.h"

namespace intsum {
namespace {

bool always() { return true; }

#define INTSUM_CPU_HAS(extension) __builtin_cpu_supports(extension)
// Linux reports each single-letter extension of RISC-V as bit (letter - 'A')
// of AT_HWCAP; it reports V only for the ratified vector extension, not for
// the drafts before it.
#define INTSUM_HWCAP_HAS(letter) ((getauxval(AT_HWCAP) >> ((letter) - 'A') & 1) != 0)
#define INTSUM_HWCAP_HAS_BIT(bit) ((getauxval(AT_HWCAP) & (bit)) != 0)
#define INTSUM_KERNEL(name, check) \
  bool supports_##name() { return check; }
#define INTSUM_KERNEL_BEHIND_SCALAR INTSUM_KERNEL
#include "kernel_list.h"
#undef INTSUM_KERNEL_BEHIND_SCALAR
#undef INTSUM_KERNEL
#undef INTSUM_HWCAP_HAS_BIT
#undef INTSUM_HWCAP_HAS
#undef INTSUM_CPU_HAS

// Best first: the program runs the first one the CPU supports.
constexpr kernel table[] = {
#define INTSUM_KERNEL(name, check) {#name, sum_##name, fold_##name, supports_##name},
#define INTSUM_KERNEL_BEHIND_SCALAR(name, check)
#include "kernel_list.h"
#undef INTSUM_KERNEL_BEHIND_SCALAR
#undef INTSUM_KERNEL
    {"scalar", sum_scalar, fold_scalar, always},
#define INTSUM_KERNEL(name, check)
#define INTSUM_KERNEL_BEHIND_SCALAR(name, check) {#name, sum_##name, fold_##name, supports_##name},
#include "kernel_list.h"
#undef INTSUM_KERNEL_BEHIND_SCALAR
#undef INTSUM_KERNEL
};

}  // namespace

std::span<const kernel> all_kernels() { return table; }

const kernel& best_kernel() {
  // The scalar scanner, which every CPU runs, ends the search at the latest.
  const kernel* k = table;
  while (!k->supported()) ++k;
  return *k;
}

const kernel* find_kernel(std::string_view name) {
  for (const kernel& k : table)
    if (name == k.name) return &k;
  return nullptr;
}

}  // namespace intsum
