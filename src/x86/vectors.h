// The byte-vector operations that the mark-scan kernel (mark_scan.h) is
// written in, for 128-bit (SSE4) and 256-bit (AVX2) vectors: the same names
// for both widths, each one instruction, or two where the wider vector's
// 128-bit lanes get in the way. Each width is there only where the kernel
// that uses it is compiled for it.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "block/block.h"

namespace intsum {
namespace block {
namespace {

#if defined(__AVX2__)
struct v256 {
  using type = __m256i;
  static constexpr unsigned bytes = 32;

  INTSUM_ALWAYS_INLINE static type zero() { return _mm256_setzero_si256(); }
  INTSUM_ALWAYS_INLINE static type splat8(int c) { return _mm256_set1_epi8(static_cast<char>(c)); }
  INTSUM_ALWAYS_INLINE static type splat16(int c) { return _mm256_set1_epi16(static_cast<short>(c)); }
  INTSUM_ALWAYS_INLINE static type splat64(std::uint64_t c) {
    return _mm256_set1_epi64x(static_cast<long long>(c));
  }
  INTSUM_ALWAYS_INLINE static type load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
  }
  INTSUM_ALWAYS_INLINE static void store(void* p, type x) { _mm256_store_si256(static_cast<__m256i*>(p), x); }
  // 16 bytes in each 128-bit lane, for byte shuffles.
  INTSUM_ALWAYS_INLINE static type table16(const void* p) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(p)));
  }
  INTSUM_ALWAYS_INLINE static std::uint64_t movemask(type x) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(x));
  }

  INTSUM_ALWAYS_INLINE static type add8(type a, type b) { return _mm256_add_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type sub8(type a, type b) { return _mm256_sub_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type eq8(type a, type b) { return _mm256_cmpeq_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type gt8(type a, type b) { return _mm256_cmpgt_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type max_u8(type a, type b) { return _mm256_max_epu8(a, b); }
  INTSUM_ALWAYS_INLINE static type subs_u8(type a, type b) { return _mm256_subs_epu8(a, b); }
  INTSUM_ALWAYS_INLINE static bool all_zero(type x) { return _mm256_testz_si256(x, x) != 0; }
  INTSUM_ALWAYS_INLINE static type and_(type a, type b) { return _mm256_and_si256(a, b); }
  INTSUM_ALWAYS_INLINE static type or_(type a, type b) { return _mm256_or_si256(a, b); }
  INTSUM_ALWAYS_INLINE static type xor_(type a, type b) { return _mm256_xor_si256(a, b); }
  // a & ~b
  INTSUM_ALWAYS_INLINE static type and_not(type a, type b) { return _mm256_andnot_si256(b, a); }
  // Byte i: table[index[i]] within its 128-bit lane, 0 where index has its top bit.
  INTSUM_ALWAYS_INLINE static type shuffle(type table, type index) {
    return _mm256_shuffle_epi8(table, index);
  }
  template <int N>
  INTSUM_ALWAYS_INLINE static type srl64(type x) {
    return _mm256_srli_epi64(x, N);
  }
  template <int N>
  INTSUM_ALWAYS_INLINE static type sll16(type x) {
    return _mm256_slli_epi16(x, N);
  }
  // Unsigned bytes of a times signed bytes of b, adjacent pairs summed to 16 bits.
  INTSUM_ALWAYS_INLINE static type maddubs(type a, type b) { return _mm256_maddubs_epi16(a, b); }
  // 16-bit lanes multiplied, adjacent pairs summed to 32 bits.
  INTSUM_ALWAYS_INLINE static type madd16(type a, type b) { return _mm256_madd_epi16(a, b); }
  INTSUM_ALWAYS_INLINE static type add16(type a, type b) { return _mm256_add_epi16(a, b); }
  INTSUM_ALWAYS_INLINE static type add32(type a, type b) { return _mm256_add_epi32(a, b); }
  // x in the lowest 32-bit lane, zeros above.
  INTSUM_ALWAYS_INLINE static type from32(std::uint32_t x) {
    return _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(x)));
  }

  // Bytes N to N + 31 of the 64 bytes a (first) and b (after it).
  template <int N>
  INTSUM_ALWAYS_INLINE static type funnel(type a, type b) {
    static_assert(N > 0 && N < 32);
    const type middle = _mm256_permute2x128_si256(a, b, 0x21);  // upper half of a, lower of b
    if constexpr (N < 16) return _mm256_alignr_epi8(middle, a, N);
    if constexpr (N == 16) return middle;
    if constexpr (N > 16) return _mm256_alignr_epi8(b, middle, N - 16);
  }
};
#endif

#if defined(__SSE4_1__) && defined(__SSSE3__)
struct v128 {
  using type = __m128i;
  static constexpr unsigned bytes = 16;

  INTSUM_ALWAYS_INLINE static type zero() { return _mm_setzero_si128(); }
  INTSUM_ALWAYS_INLINE static type splat8(int c) { return _mm_set1_epi8(static_cast<char>(c)); }
  INTSUM_ALWAYS_INLINE static type splat16(int c) { return _mm_set1_epi16(static_cast<short>(c)); }
  INTSUM_ALWAYS_INLINE static type splat64(std::uint64_t c) {
    return _mm_set1_epi64x(static_cast<long long>(c));
  }
  INTSUM_ALWAYS_INLINE static type load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
  }
  INTSUM_ALWAYS_INLINE static void store(void* p, type x) { _mm_store_si128(static_cast<__m128i*>(p), x); }
  INTSUM_ALWAYS_INLINE static type table16(const void* p) { return load(p); }
  INTSUM_ALWAYS_INLINE static std::uint64_t movemask(type x) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(x));
  }

  INTSUM_ALWAYS_INLINE static type add8(type a, type b) { return _mm_add_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type sub8(type a, type b) { return _mm_sub_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type eq8(type a, type b) { return _mm_cmpeq_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type gt8(type a, type b) { return _mm_cmpgt_epi8(a, b); }
  INTSUM_ALWAYS_INLINE static type max_u8(type a, type b) { return _mm_max_epu8(a, b); }
  INTSUM_ALWAYS_INLINE static type subs_u8(type a, type b) { return _mm_subs_epu8(a, b); }
  INTSUM_ALWAYS_INLINE static bool all_zero(type x) { return _mm_testz_si128(x, x) != 0; }
  INTSUM_ALWAYS_INLINE static type and_(type a, type b) { return _mm_and_si128(a, b); }
  INTSUM_ALWAYS_INLINE static type or_(type a, type b) { return _mm_or_si128(a, b); }
  INTSUM_ALWAYS_INLINE static type xor_(type a, type b) { return _mm_xor_si128(a, b); }
  INTSUM_ALWAYS_INLINE static type and_not(type a, type b) { return _mm_andnot_si128(b, a); }
  INTSUM_ALWAYS_INLINE static type shuffle(type table, type index) { return _mm_shuffle_epi8(table, index); }
  template <int N>
  INTSUM_ALWAYS_INLINE static type srl64(type x) {
    return _mm_srli_epi64(x, N);
  }
  template <int N>
  INTSUM_ALWAYS_INLINE static type sll16(type x) {
    return _mm_slli_epi16(x, N);
  }
  INTSUM_ALWAYS_INLINE static type maddubs(type a, type b) { return _mm_maddubs_epi16(a, b); }
  INTSUM_ALWAYS_INLINE static type madd16(type a, type b) { return _mm_madd_epi16(a, b); }
  INTSUM_ALWAYS_INLINE static type add16(type a, type b) { return _mm_add_epi16(a, b); }
  INTSUM_ALWAYS_INLINE static type add32(type a, type b) { return _mm_add_epi32(a, b); }
  INTSUM_ALWAYS_INLINE static type from32(std::uint32_t x) { return _mm_cvtsi32_si128(static_cast<int>(x)); }

  template <int N>
  INTSUM_ALWAYS_INLINE static type funnel(type a, type b) {
    static_assert(N > 0 && N < 16);
    return _mm_alignr_epi8(b, a, N);
  }
};
#endif

}  // namespace
}  // namespace block
}  // namespace intsum
