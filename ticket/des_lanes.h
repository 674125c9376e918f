#ifndef TICKET_DES_LANES_H
#define TICKET_DES_LANES_H

// The compiled bitsliced cores, one per word type, for the engine to choose
// from. Each x86 core lives in a file built with its own instruction set and
// may be called only when the CPU and the operating system offer that set.

#include <cstddef>
#include <cstdint>

namespace des_lanes {

// Encrypts or decrypts `lanes` independent 8-byte blocks from in to out
// (both lanes * 8 bytes) under the round-key masks of an engine key.
using crypt_function = void (*)(const std::uint64_t* masks, bool decrypt, const std::uint8_t* in, std::uint8_t* out);

struct core {
  std::size_t lanes;
  crypt_function crypt;
};

// 64-bit words: every build, any byte order.
extern const core portable_64;

#if defined(TICKET_DES_X86_LANES)
// AVX2: 128- and 256-bit words, two-input operations.
extern const core avx2_128;
extern const core avx2_256;
// AVX-512VL: 128- and 256-bit words with three-input operations.
extern const core ternary_128;
extern const core ternary_256;
// AVX-512F: 512-bit words with three-input operations.
extern const core ternary_512;
#endif

}  // namespace des_lanes

#endif
