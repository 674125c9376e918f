// The bitsliced core on 512-bit registers with AVX-512F's three-input logic
// instruction, built with -mavx512f and called only where the CPU and the OS
// offer it: 512 blocks at a time.

#include "ticket/des_lanes.h"

#include <immintrin.h>

#include "ticket/des_bitslice.h"

namespace {

struct word512 {
  __m512i v;

  static constexpr std::size_t lanes = 512;
  static constexpr std::size_t bytes = 64;
  static constexpr bool has_ternary = true;

  static word512 load(const std::uint8_t* p) { return {_mm512_loadu_si512(p)}; }
  void store(std::uint8_t* p) const { _mm512_storeu_si512(p, v); }
  static word512 splat(std::uint64_t mask) { return {_mm512_set1_epi64(static_cast<long long>(mask))}; }
  // The unmasked shifts trip g++ 12's uninitialised-value warning inside its
  // own header; with every lane selected these compile to the same
  // instruction.
  template <int n>
  word512 shl() const {
    return {_mm512_maskz_slli_epi64(0xFF, v, n)};
  }
  template <int n>
  word512 shr() const {
    return {_mm512_maskz_srli_epi64(0xFF, v, n)};
  }
  template <int imm>
  static word512 ternary(word512 a, word512 b, word512 c) {
    return {_mm512_ternarylogic_epi64(a.v, b.v, c.v, imm)};
  }
  static word512 andnot(word512 a, word512 b) { return {_mm512_andnot_si512(b.v, a.v)}; }
  friend word512 operator&(word512 a, word512 b) { return {_mm512_and_si512(a.v, b.v)}; }
  friend word512 operator^(word512 a, word512 b) { return {_mm512_xor_si512(a.v, b.v)}; }
};

}  // namespace

const des_lanes::core des_lanes::ternary_512 = {word512::lanes, des_bitslice::crypt_blocks<word512>};
