// The AVX-512 intrinsics. In a build with INTSUM_EMULATE_AVX512, for testing
// the AVX-512 kernel on CPUs without AVX-512, they are SIMDe's portable
// versions instead, with those the kernel uses that SIMDe 0.7 lacks written
// out here.
#pragma once

#if !defined(INTSUM_EMULATE_AVX512)
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
// GCC 12's AVX-512 headers start some results from an undefined vector, and
// then warn about it wherever those intrinsics are inlined (GCC bug 105593,
// mended in GCC 13). The warnings point into the headers, so this silences
// them there and nowhere else.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>
#include <simde/x86/gfni.h>

#include <cstdint>
#include <cstring>

using __mmask8 = simde__mmask8;
using __mmask16 = simde__mmask16;
using __mmask32 = simde__mmask32;
using __mmask64 = simde__mmask64;

namespace intsum::emulated {

template <class T>
struct elements {
  T at[64 / sizeof(T)];
  explicit elements(simde__m512i v) { std::memcpy(at, &v, 64); }
  elements() = default;
  simde__m512i vector() const {
    simde__m512i v;
    std::memcpy(&v, at, 64);
    return v;
  }
};

// Elements n on of b, then of a, as though a were above b: the instruction's `valign`.
template <class T>
simde__m512i align(simde__m512i a, simde__m512i b, int n) {
  constexpr int count = 64 / sizeof(T);
  const elements<T> x(a), y(b);
  elements<T> r;
  for (int i = 0; i < count; ++i) {
    const int j = i + (n & (count - 1));
    r.at[i] = j < count ? y.at[j] : x.at[j - count];
  }
  return r.vector();
}

}  // namespace intsum::emulated

inline simde__m512i _mm512_alignr_epi64(simde__m512i a, simde__m512i b, int n) {
  return intsum::emulated::align<std::uint64_t>(a, b, n);
}

inline simde__m512i _mm512_alignr_epi32(simde__m512i a, simde__m512i b, int n) {
  return intsum::emulated::align<std::uint32_t>(a, b, n);
}

inline simde__m512i _mm512_shuffle_i64x2(simde__m512i a, simde__m512i b, int control) {
  const intsum::emulated::elements<std::uint64_t> x(a), y(b);
  intsum::emulated::elements<std::uint64_t> r;
  for (int i = 0; i < 4; ++i) {
    const auto& from = i < 2 ? x : y;
    const int pair = control >> (2 * i) & 3;
    r.at[2 * i] = from.at[2 * pair];
    r.at[2 * i + 1] = from.at[2 * pair + 1];
  }
  return r.vector();
}

// SIMDe 0.7 aliases this one with four arguments.
#undef _mm512_madd_epi16
inline simde__m512i _mm512_madd_epi16(simde__m512i a, simde__m512i b) { return simde_mm512_madd_epi16(a, b); }

// The bytes of a that k selects, in order, then zeros.
inline simde__m512i _mm512_maskz_compress_epi8(__mmask64 k, simde__m512i a) {
  const intsum::emulated::elements<std::uint8_t> x(a);
  intsum::emulated::elements<std::uint8_t> r{};
  int n = 0;
  for (int i = 0; i < 64; ++i)
    if ((k >> i & 1) != 0) r.at[n++] = x.at[i];
  return r.vector();
}

// The 64 bytes from p where k has their bit, else 0. (All are read: the
// kernel's blocks are whole.)
inline simde__m512i _mm512_maskz_loadu_epi8(__mmask64 k, const void* p) {
  intsum::emulated::elements<std::uint8_t> x;
  std::memcpy(x.at, p, 64);
  for (int i = 0; i < 64; ++i)
    if ((k >> i & 1) == 0) x.at[i] = 0;
  return x.vector();
}

// Sixteen signed bytes widened to 32 bits.
inline simde__m512i _mm512_cvtepi8_epi32(simde__m128i a) {
  std::int8_t x[16];
  std::memcpy(x, &a, 16);
  intsum::emulated::elements<std::int32_t> r;
  for (int i = 0; i < 16; ++i) r.at[i] = x[i];
  return r.vector();
}

inline __mmask32 _mm512_cmpeq_epi16_mask(simde__m512i a, simde__m512i b) {
  const intsum::emulated::elements<std::uint16_t> x(a), y(b);
  __mmask32 m = 0;
  for (int i = 0; i < 32; ++i) m |= static_cast<__mmask32>(x.at[i] == y.at[i]) << i;
  return m;
}

#endif
