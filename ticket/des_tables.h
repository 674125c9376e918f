#ifndef TICKET_DES_TABLES_H
#define TICKET_DES_TABLES_H

// The fixed permutations of DES as the standard writes them: bit numbers
// count from 1, bit 1 being the most significant bit of the first byte.
// The S-boxes themselves live in the generator of their circuits.

#include <array>
#include <cstdint>

namespace des_tables {

// Initial permutation: bit i of the permuted block is bit initial[i - 1] of
// the input. The final permutation is its inverse.
inline constexpr std::array<std::uint8_t, 64> initial = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,  //
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,  //
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,  //
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

// Expansion of the 32-bit right half to the 48 S-box input bits.
inline constexpr std::array<std::uint8_t, 48> expansion = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,  //
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,  //
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

// Permutation of the 32 S-box output bits.
inline constexpr std::array<std::uint8_t, 32> sbox_permutation = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,  //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// Key schedule: the 56 key bits kept, in two halves of 28.
inline constexpr std::array<std::uint8_t, 56> key_choice_1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,  //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,  //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,  //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// The 48 bits of a round key, from the two rotated halves.
inline constexpr std::array<std::uint8_t, 48> key_choice_2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,   //
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,  //
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left rotation of each half before each of the 16 rounds.
inline constexpr std::array<std::uint8_t, 16> key_rotations = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

}  // namespace des_tables

#endif
