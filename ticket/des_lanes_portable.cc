// The bitsliced core on plain 64-bit integers: 64 blocks at a time on any CPU.
// Bytes are assembled by shifts, so big-endian machines load the same words.

#include "ticket/des_lanes.h"

#include "ticket/des_bitslice.h"

namespace {

struct word64 {
  std::uint64_t v;

  static constexpr std::size_t lanes = 64;
  static constexpr std::size_t bytes = 8;
  static constexpr bool has_ternary = false;

  static word64 load(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return {v};
  }
  void store(std::uint8_t* p) const {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  static word64 splat(std::uint64_t mask) { return {mask}; }
  template <int n>
  word64 shl() const {
    return {v << n};
  }
  template <int n>
  word64 shr() const {
    return {v >> n};
  }
  static word64 andnot(word64 a, word64 b) { return {a.v & ~b.v}; }
  friend word64 operator&(word64 a, word64 b) { return {a.v & b.v}; }
  friend word64 operator|(word64 a, word64 b) { return {a.v | b.v}; }
  friend word64 operator^(word64 a, word64 b) { return {a.v ^ b.v}; }
  friend word64 operator~(word64 a) { return {~a.v}; }
};

}  // namespace

const des_lanes::core des_lanes::portable_64 = {word64::lanes, des_bitslice::crypt_blocks<word64>};
