// The AVX-512 kernel's values for the fold: each integer of up to 16
// digits in a block converted in a vector lane of its own, eight or four at
// a time, from the compressed places of the integers' ends (docs/design.md,
// "AVX-512").
#pragma once

#include <bit>
#include <cstdint>

#include "block/values.h"
#include "x86/avx512/intrinsics.h"

namespace intsum {
namespace block {
namespace {

// Bytes 8 to a 64-bit lane for integers of up to 8 digits in the block,
// 16 to a 128-bit lane for up to 16.
struct value_lane_table {
  alignas(64) unsigned char byte_index[64];
  alignas(64) unsigned char of_qword[64];  // byte i: i / 8, the lane's integer
  alignas(64) unsigned char back8[64];     // byte i: its place before the last, i % 8 - 7 (mod 256)
  alignas(64) unsigned char of_xmm[64];    // byte i: i / 16
  alignas(64) unsigned char back16[64];    // i % 16 - 15
  alignas(64) unsigned char tens[64];      // 10, 1, 10, 1, ...: pairs of digits
  alignas(64) std::int16_t hundreds[32];   // 100, 1, ...: pairs of pairs
  alignas(64) std::int16_t ten_thousands[32];
  alignas(64) std::uint32_t first_of_xmm[16];  // dword 4i: the value of lane i
};

constexpr value_lane_table make_value_lanes() {
  value_lane_table t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.byte_index[i] = static_cast<unsigned char>(i);
    t.of_qword[i] = static_cast<unsigned char>(i / 8);
    t.back8[i] = static_cast<unsigned char>(i % 8 - 7);
    t.of_xmm[i] = static_cast<unsigned char>(i / 16);
    t.back16[i] = static_cast<unsigned char>(i % 16 - 15);
    t.tens[i] = i % 2 == 0 ? 10 : 1;
  }
  for (unsigned i = 0; i < 32; ++i) {
    t.hundreds[i] = i % 2 == 0 ? 100 : 1;
    t.ten_thousands[i] = i % 2 == 0 ? 10000 : 1;
  }
  for (unsigned i = 0; i < 16; ++i) t.first_of_xmm[i] = 4 * (i % 4);
  return t;
}

inline constexpr value_lane_table value_lanes = make_value_lanes();

INTSUM_ALWAYS_INLINE __m512i load_table(const void* p) { return _mm512_load_si512(p); }

// The operations of values_of_two (values.h) on one block in one vector.
struct bytes512 {
  __m512i index, one;
  INTSUM_ALWAYS_INLINE __m512i byte_before(__m512i x) const {
    return _mm512_maskz_permutexvar_epi8(~std::uint64_t{1}, _mm512_sub_epi8(index, one), x);
  }
  INTSUM_ALWAYS_INLINE static __m512i times_ten(__m512i x) {
    const __m512i twice = _mm512_add_epi8(x, x), four = _mm512_add_epi8(twice, twice);
    return _mm512_add_epi8(_mm512_add_epi8(four, four), twice);
  }
  INTSUM_ALWAYS_INLINE static __m512i add(__m512i x, __m512i y) { return _mm512_add_epi8(x, y); }
};

// A block's integers, signed digits and where they start and end, for
// converting them in lanes.
struct lane_integers {
  __m512i digits, end_at, start_at;
  std::uint32_t* out;
  unsigned count;

  // The digits of lane integer i, from its start to its end, as the last
  // bytes of the lane (`of_lane`, `back`: which integer each byte belongs
  // to, and how far before its last byte); those before its start are zeros.
  // Pairs of them as 16-bit values.
  INTSUM_ALWAYS_INLINE __m512i pairs(__m512i of_lane, __m512i back, int i) const {
    const __m512i select = _mm512_add_epi8(of_lane, _mm512_set1_epi8(static_cast<char>(i)));
    const __m512i from = _mm512_add_epi8(_mm512_permutexvar_epi8(select, end_at), back);
    const __mmask64 in = _mm512_cmpge_epi8_mask(from, _mm512_permutexvar_epi8(select, start_at));
    return _mm512_maddubs_epi16(load_table(value_lanes.tens),
                                _mm512_maskz_permutexvar_epi8(in, from, digits));
  }

  // Eight integers to a vector, the value of four digits in each half of a
  // 64-bit lane.
  INTSUM_ALWAYS_INLINE void convert_up_to_8() const {
    const __m512i hundreds = load_table(value_lanes.hundreds);
    for (unsigned i = 0; i < count; i += 8) {
      const __m512i four = _mm512_madd_epi16(
          pairs(load_table(value_lanes.of_qword), load_table(value_lanes.back8), static_cast<int>(i)),
          hundreds);
      const __m512i eight =
          _mm512_add_epi32(_mm512_mul_epu32(four, _mm512_set1_epi64(10000)), _mm512_srli_epi64(four, 32));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi64_epi32(eight));
    }
  }

  // Four to a vector: in each 128-bit lane, four values of four digits,
  // then two of eight, then one.
  INTSUM_ALWAYS_INLINE void convert_up_to_16() const {
    const __m512i hundreds = load_table(value_lanes.hundreds);
    for (unsigned i = 0; i < count; i += 4) {
      const __m512i four = _mm512_madd_epi16(
          pairs(load_table(value_lanes.of_xmm), load_table(value_lanes.back16), static_cast<int>(i)),
          hundreds);
      const __m512i eight =
          _mm512_madd_epi16(_mm512_packs_epi32(four, four), load_table(value_lanes.ten_thousands));
      const __m512i sixteen = _mm512_add_epi32(_mm512_mul_epu32(eight, _mm512_set1_epi64(100000000)),
                                               _mm512_srli_epi64(eight, 32));
      _mm_storeu_si128(
          reinterpret_cast<__m128i*>(out + i),
          _mm512_castsi512_si128(_mm512_permutexvar_epi32(load_table(value_lanes.first_of_xmm), sixteen)));
    }
  }
};

// Converts the integers of a block with digit runs of up to 16 into the
// batch: `digits` holds its live digits, signed, 0 in every other byte.
INTSUM_ALWAYS_INLINE void convert_in_lanes(__m512i digits, std::uint64_t live, std::uint64_t negative,
                                           const integer_ends& at, value_batch& batch, __m512i one) {
  const __m512i index = load_table(value_lanes.byte_index);
  std::uint32_t* out = batch.value + batch.count;
  if (!has_run<3>(live)) {
    // No integer of more than two digits: their values, compressed to the
    // integers' ends, are widened straight into the batch.
    const __m512i value = _mm512_maskz_compress_epi8(at.ends, values_of_two(bytes512{index, one}, digits));
    _mm512_storeu_si512(out, _mm512_cvtepi8_epi32(_mm512_castsi512_si128(value)));
    _mm512_storeu_si512(out + 16, _mm512_cvtepi8_epi32(_mm512_extracti32x4_epi32(value, 1)));
    return take_converted(batch, out, at, negative);
  }
  const lane_integers integers{digits, _mm512_maskz_compress_epi8(at.ends, index),
                               _mm512_maskz_compress_epi8(at.first, index), out,
                               static_cast<unsigned>(std::popcount(at.ends))};
  if (!has_run<9>(live)) [[likely]]
    integers.convert_up_to_8();
  else
    integers.convert_up_to_16();
  take_converted(batch, out, at, negative);
}

}  // namespace
}  // namespace block
}  // namespace intsum
