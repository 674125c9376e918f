#ifndef TICKET_DES_BITSLICE_H
#define TICKET_DES_BITSLICE_H

// The bitsliced DES core, one template over the word type W. A word holds one
// bit of W::lanes blocks; 64 words ("planes") hold W::lanes whole blocks, and
// every operation of a round then works on all of them at once. The initial
// and final permutations and the expansion become the choice of which plane
// to read, so only the S-boxes cost operations.
//
// W: lanes (a multiple of 64), bytes (lanes / 8), has_ternary; load(p) and
// store(p) of 'bytes' bytes as 64-bit words taken least significant byte
// first; splat(m) with m in every 64-bit element; shl<n>() and shr<n>() of
// every 64-bit element; & and ^; then either ternary<imm> (has_ternary) or
// |, ~ and andnot(a, b) = a & ~b for the two-input circuits (see the
// circuits' header).
//
// Only templates on W live here: each word type is compiled in its own file
// with its own instruction set, and nothing from that file may be picked by
// the linker for code that runs on a lesser CPU.

#include <cstddef>
#include <cstdint>

#include "ticket/des_sbox_circuits.h"
#include "ticket/des_tables.h"

namespace des_bitslice {

inline constexpr int rounds = 16;
inline constexpr int round_key_bits = 48;
// One 64-bit mask (all zeros or all ones) per round-key bit, round after round.
inline constexpr int round_masks = rounds * round_key_bits;

// Where the index tables of a round come from, worked out at compile time.
struct plan {
  // Plane of each bit of the permuted block: halves L (0..31) and R (32..63).
  int block_plane[64];
  // Half-block bit (0..31) feeding each of the 48 S-box inputs.
  int box_input[48];
  // Half-block bit (0..31) that each of the 32 S-box outputs is xored into.
  int box_output[32];
};

// A block is loaded as a little-endian 64-bit word per lane, so the standard's
// bit d (the most significant bit of byte (d - 1) / 8 first) is word bit
// 8 * ((d - 1) / 8) + 7 - (d - 1) % 8, and the transpose makes that the plane.
constexpr int plane_of(int bit) { return 8 * ((bit - 1) / 8) + 7 - (bit - 1) % 8; }

constexpr plan make_plan() {
  plan p{};
  for (int i = 0; i < 64; ++i) p.block_plane[i] = plane_of(des_tables::initial[static_cast<std::size_t>(i)]);
  for (int i = 0; i < 48; ++i) p.box_input[i] = des_tables::expansion[static_cast<std::size_t>(i)] - 1;
  for (int i = 0; i < 32; ++i) p.box_output[des_tables::sbox_permutation[static_cast<std::size_t>(i)] - 1] = i;
  return p;
}

inline constexpr plan the_plan = make_plan();

// Swaps the off-diagonal blocks of size j in each 64 x 64 bit matrix: row k
// (bit j clear) gives its high columns to row k + j's low columns.
template <class W, int j>
inline void transpose_step(W* rows, std::uint64_t low_columns) {
  const W mask = W::splat(low_columns);
  for (int k = 0; k < 64; ++k) {
    if ((k & j) != 0) continue;
    const W t = (rows[k].template shr<j>() ^ rows[k + j]) & mask;
    rows[k + j] = rows[k + j] ^ t;
    rows[k] = rows[k] ^ t.template shl<j>();
  }
}

// Transposes each 64-bit column of 64 words as a 64 x 64 bit matrix: bit b of
// row i becomes bit i of row b. Its own inverse.
template <class W>
inline void transpose(W* rows) {
  transpose_step<W, 32>(rows, 0x00000000FFFFFFFFULL);
  transpose_step<W, 16>(rows, 0x0000FFFF0000FFFFULL);
  transpose_step<W, 8>(rows, 0x00FF00FF00FF00FFULL);
  transpose_step<W, 4>(rows, 0x0F0F0F0F0F0F0F0FULL);
  transpose_step<W, 2>(rows, 0x3333333333333333ULL);
  transpose_step<W, 1>(rows, 0x5555555555555555ULL);
}

template <class W, int box>
inline void sbox(W a0, W a1, W a2, W a3, W a4, W a5, W& o0, W& o1, W& o2, W& o3) {
  if constexpr (W::has_ternary) {
    if constexpr (box == 0) sbox1_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 1) sbox2_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 2) sbox3_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 3) sbox4_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 4) sbox5_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 5) sbox6_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 6) sbox7_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 7) sbox8_ternary(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
  } else {
    if constexpr (box == 0) sbox1_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 1) sbox2_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 2) sbox3_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 3) sbox4_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 4) sbox5_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 5) sbox6_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 6) sbox7_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
    if constexpr (box == 7) sbox8_gates(a0, a1, a2, a3, a4, a5, o0, o1, o2, o3);
  }
}

// One box of a round: six expanded bits of `in` xored with the round key in,
// four bits xored into `out`.
template <class W, int box>
inline void round_box(const W* in, W* out, const std::uint64_t* key) {
  constexpr const int* input = the_plan.box_input + 6 * box;
  constexpr const int* output = the_plan.box_output + 4 * box;
  sbox<W, box>(in[input[0]] ^ W::splat(key[6 * box + 0]), in[input[1]] ^ W::splat(key[6 * box + 1]),
               in[input[2]] ^ W::splat(key[6 * box + 2]), in[input[3]] ^ W::splat(key[6 * box + 3]),
               in[input[4]] ^ W::splat(key[6 * box + 4]), in[input[5]] ^ W::splat(key[6 * box + 5]), out[output[0]],
               out[output[1]], out[output[2]], out[output[3]]);
}

// out ^= f(in, key): the halves change roles each round instead of moving.
template <class W>
inline void des_round(const W* in, W* out, const std::uint64_t* key) {
  round_box<W, 0>(in, out, key);
  round_box<W, 1>(in, out, key);
  round_box<W, 2>(in, out, key);
  round_box<W, 3>(in, out, key);
  round_box<W, 4>(in, out, key);
  round_box<W, 5>(in, out, key);
  round_box<W, 6>(in, out, key);
  round_box<W, 7>(in, out, key);
}

// Encrypts (or decrypts) W::lanes independent blocks: block b is the 8 bytes
// at in + 8 * b, its result goes to out + 8 * b. masks holds round_masks
// entries in encryption order.
template <class W>
void crypt_blocks(const std::uint64_t* masks, bool decrypt, const std::uint8_t* in, std::uint8_t* out) {
  W rows[64];
  for (int i = 0; i < 64; ++i) rows[i] = W::load(in + static_cast<std::size_t>(i) * W::bytes);
  transpose(rows);
  W half[64];  // L in 0..31, R in 32..63
  for (int i = 0; i < 64; ++i) half[i] = rows[the_plan.block_plane[i]];

  // Decryption is encryption with the round keys taken last to first.
  const auto key = [&](int round) { return masks + round_key_bits * (decrypt ? rounds - 1 - round : round); };
  for (int round = 0; round < rounds; round += 2) {
    des_round(half + 32, half, key(round));
    des_round(half, half + 32, key(round + 1));
  }

  // The last round's halves are swapped on the way out: the final
  // permutation reads R16 before L16.
  for (int i = 0; i < 64; ++i) rows[the_plan.block_plane[i]] = half[(i + 32) % 64];
  transpose(rows);
  for (int i = 0; i < 64; ++i) rows[i].store(out + static_cast<std::size_t>(i) * W::bytes);
}

}  // namespace des_bitslice

#endif
