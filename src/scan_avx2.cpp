// The kernel for AVX2: the mark-scan kernel (mark_scan.h) on two 256-bit
// vectors a block. For the fold it converts integers of up to 16 digits
// itself, four at a time in vector lanes, from the bytes that end each one.
#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "kernels.h"
#include "mark_scan.h"

namespace intsum {
namespace {

using namespace block;

// One integer of a block: its last 8 bytes, the 8 before, its length and
// the place of its last digit.
struct gathered {
  long long low, high, length, end;
};

// Gathers a block's integers one at a time, from the block or, for those
// that end in its first 15 bytes, from a copy with 16 zeros before them.
struct integer_gatherer {
  std::uintptr_t in_block, in_front;
  std::uint64_t ends, first;
  bool short_ones;  // no integer over 8 digits: the 8 bytes before are not needed

  // Past the last integer, reads the bytes after the block, which are not taken.
  INTSUM_ALWAYS_INLINE gathered next() {
    const auto e = static_cast<unsigned>(std::countr_zero(ends));
    // Picked without a branch, which would often be mispredicted.
    const auto* bytes = reinterpret_cast<const unsigned char*>((e < 15 ? in_front : in_block) + e);
    const gathered g = {static_cast<long long>(load_le64(bytes + 8)),
                        short_ones ? 0 : static_cast<long long>(load_le64(bytes)),
                        static_cast<long long>(e + 1 - static_cast<unsigned>(std::countr_zero(first))), e};
    ends &= ends - 1;
    first &= first - 1;
    return g;
  }
};

// The value of the digits in each 64-bit lane, the first in its lowest
// byte, in its low 32 bits; those in the first `64 - keep` bits are dropped.
INTSUM_ALWAYS_INLINE __m256i eight_in_lanes(__m256i bytes, __m256i keep, __m256i zero_char) {
  const __m256i digits =
      _mm256_and_si256(_mm256_subs_epu8(bytes, zero_char), _mm256_sllv_epi64(_mm256_set1_epi64x(-1), keep));
  const __m256i four = _mm256_madd_epi16(_mm256_maddubs_epi16(digits, _mm256_set1_epi16(0x010a)),
                                         _mm256_set1_epi32(0x00010064));
  return _mm256_add_epi32(_mm256_mul_epu32(four, _mm256_set1_epi64x(10000)), _mm256_srli_epi64(four, 32));
}

// The signed values of four gathered integers, in the low 32 bits of the lanes.
INTSUM_ALWAYS_INLINE __m256i convert_four(const gathered& a, const gathered& b, const gathered& c,
                                          const gathered& d, bool short_ones, __m256i signs,
                                          __m256i zero_char) {
  const __m256i len = _mm256_setr_epi64x(a.length, b.length, c.length, d.length);
  const __m256i low_kept = _mm256_slli_epi64(_mm256_min_epu32(len, _mm256_set1_epi64x(8)), 3);
  __m256i value = eight_in_lanes(_mm256_setr_epi64x(a.low, b.low, c.low, d.low),
                                 _mm256_sub_epi64(_mm256_set1_epi64x(64), low_kept), zero_char);
  if (!short_ones) {
    const __m256i high_keep = _mm256_sub_epi64(_mm256_set1_epi64x(128), _mm256_slli_epi64(len, 3));
    value = _mm256_add_epi32(
        value, _mm256_mul_epu32(
                   eight_in_lanes(_mm256_setr_epi64x(a.high, b.high, c.high, d.high), high_keep, zero_char),
                   _mm256_set1_epi64x(100000000)));
  }
  const __m256i at_end = _mm256_setr_epi64x(a.end, b.end, c.end, d.end);
  const __m256i minus = _mm256_sub_epi64(
      _mm256_setzero_si256(), _mm256_and_si256(_mm256_srlv_epi64(signs, at_end), _mm256_set1_epi64x(1)));
  return _mm256_sub_epi32(_mm256_xor_si256(value, minus), minus);
}

struct avx2_blocks : mark_scan<v256> {
  // Integers of more than two digits, up to 16, four at a time in vector
  // lanes; each integer's last 16 bytes gathered first.
  static constexpr unsigned converted_digits = 16;
  INTSUM_ALWAYS_INLINE static void convert(const unsigned char* p, const plan& plan, const integer_ends& at,
                                           value_batch& batch, const constants& k) {
    if (!has_run<3>(plan.live)) return mark_scan<v256>::convert(p, plan, at, batch, k);
    // The 16 bytes before the block's first 16, for the integers that end
    // there, in one store, so that the loads from it see it at once.
    alignas(32) unsigned char front[32];
    _mm256_store_si256(
        reinterpret_cast<__m256i*>(front),
        _mm256_inserti128_si256(k.zero_char, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 1));
    integer_gatherer integers{reinterpret_cast<std::uintptr_t>(p) - 15,
                              reinterpret_cast<std::uintptr_t>(front) + 1, at.ends, at.first,
                              !has_run<9>(plan.live)};
    const __m256i signs = _mm256_set1_epi64x(static_cast<long long>(plan.negative));
    const __m256i low_dwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    const auto count = static_cast<unsigned>(std::popcount(at.ends));
    std::uint32_t* out = batch.value + batch.count;
    for (unsigned i = 0; i < count; i += 4) {
      const gathered a = integers.next(), b = integers.next(), c = integers.next(), d = integers.next();
      const __m256i value = convert_four(a, b, c, d, integers.short_ones, signs, k.zero_char);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(value, low_dwords)));
    }
    take_converted(batch, out, at, plan.negative);
  }
};

}  // namespace

chunk_result sum_avx2(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<summing<avx2_blocks>>(c, p, n, eof);
}

chunk_result fold_avx2(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return run_chunk<folding<avx2_blocks>>(c, p, n, eof);
}

}  // namespace intsum
