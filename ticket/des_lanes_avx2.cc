// Bitsliced cores on AVX2 registers: 128 and 256 blocks at a time, built
// with -mavx2 and called only where the CPU and the OS offer AVX2.

#include "ticket/des_lanes.h"

#include <immintrin.h>

#include "ticket/des_bitslice.h"

namespace {

struct word128 {
  __m128i v;

  static constexpr std::size_t lanes = 128;
  static constexpr std::size_t bytes = 16;
  static constexpr bool has_ternary = false;

  static word128 load(const std::uint8_t* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
  void store(std::uint8_t* p) const { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static word128 splat(std::uint64_t mask) { return {_mm_set1_epi64x(static_cast<long long>(mask))}; }
  template <int n>
  word128 shl() const {
    return {_mm_slli_epi64(v, n)};
  }
  template <int n>
  word128 shr() const {
    return {_mm_srli_epi64(v, n)};
  }
  static word128 andnot(word128 a, word128 b) { return {_mm_andnot_si128(b.v, a.v)}; }
  friend word128 operator&(word128 a, word128 b) { return {_mm_and_si128(a.v, b.v)}; }
  friend word128 operator|(word128 a, word128 b) { return {_mm_or_si128(a.v, b.v)}; }
  friend word128 operator^(word128 a, word128 b) { return {_mm_xor_si128(a.v, b.v)}; }
  friend word128 operator~(word128 a) { return {_mm_xor_si128(a.v, _mm_set1_epi32(-1))}; }
};

struct word256 {
  __m256i v;

  static constexpr std::size_t lanes = 256;
  static constexpr std::size_t bytes = 32;
  static constexpr bool has_ternary = false;

  static word256 load(const std::uint8_t* p) { return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))}; }
  void store(std::uint8_t* p) const { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static word256 splat(std::uint64_t mask) { return {_mm256_set1_epi64x(static_cast<long long>(mask))}; }
  template <int n>
  word256 shl() const {
    return {_mm256_slli_epi64(v, n)};
  }
  template <int n>
  word256 shr() const {
    return {_mm256_srli_epi64(v, n)};
  }
  static word256 andnot(word256 a, word256 b) { return {_mm256_andnot_si256(b.v, a.v)}; }
  friend word256 operator&(word256 a, word256 b) { return {_mm256_and_si256(a.v, b.v)}; }
  friend word256 operator|(word256 a, word256 b) { return {_mm256_or_si256(a.v, b.v)}; }
  friend word256 operator^(word256 a, word256 b) { return {_mm256_xor_si256(a.v, b.v)}; }
  friend word256 operator~(word256 a) { return {_mm256_xor_si256(a.v, _mm256_set1_epi32(-1))}; }
};

}  // namespace

const des_lanes::core des_lanes::avx2_128 = {word128::lanes, des_bitslice::crypt_blocks<word128>};
const des_lanes::core des_lanes::avx2_256 = {word256::lanes, des_bitslice::crypt_blocks<word256>};
