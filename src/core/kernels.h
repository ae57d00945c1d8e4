// Every kernel's two entry points, by their names: the sum (for add) and
// the fold with any other combiner, on the contract of scan.h. A vector
// kernel is built only for the processor its intsum_kernel line in
// CMakeLists.txt names; kernels.cpp tables those this build has, best
// first, and picks one by a CPU check.
#pragma once

#include <cstddef>

#include "core/scan.h"

namespace intsum {

// portable/scan_scalar.cpp: the byte-at-a-time reference, on every CPU.
chunk_result sum_scalar(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_scalar(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// x86/avx512/scan_avx512.cpp, on x86-64.
chunk_result sum_avx512(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_avx512(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// x86/scan_avx2.cpp, on x86-64.
chunk_result sum_avx2(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_avx2(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// x86/scan_sse4.cpp, on x86-64.
chunk_result sum_sse4(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_sse4(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// arm/scan_dotprod.cpp, on aarch64 with the dot product instructions.
chunk_result sum_dotprod(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_dotprod(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// arm/scan_neon.cpp, on aarch64.
chunk_result sum_neon(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_neon(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// riscv/scan_rvv.cpp, on riscv64 with the vector extension.
chunk_result sum_rvv(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_rvv(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// portable/scan_portable.cpp, on every processor: words of 64 bits in plain C++.
chunk_result sum_portable(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
chunk_result fold_portable(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

}  // namespace intsum
