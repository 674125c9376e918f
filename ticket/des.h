#ifndef TICKET_DES_H
#define TICKET_DES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Every encrypted part starts afresh from this vector: no CBC state is carried
// from one part to the next, so equal plaintexts give equal ciphertexts.
inline constexpr std::array<std::uint8_t, 8> fixed_iv = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x78, 0xB4, 0x2D};

// n brought up to the next multiple of the 8-byte cipher block.
constexpr std::size_t blocks(std::size_t n) { return (n + 7) / 8 * 8; }

// A single-DES key: 8 bytes, each of odd parity in a key the schedule accepts.
using des_key = std::array<std::uint8_t, 8>;

// A key's schedule as the cipher builds it. Its bytes are in the cipher
// library's own layout, which only the file that calls the cipher knows.
inline constexpr std::size_t key_schedule_len = 128;
struct key_schedule {
  alignas(8) std::array<std::uint8_t, key_schedule_len> bytes;
};

// Builds the schedule of an 8-byte single-DES key. Returns 0 when the key is
// accepted, -1 when a byte lacks odd parity, -2 for a weak or semi-weak key.
int make_key_schedule(std::span<const std::uint8_t, 8> key, key_schedule& out);

// Encrypts plain (n bytes, the last block completed with zero bytes) into the
// first blocks(n) bytes of cipher. False, with nothing written, when cipher is
// too small.
bool encrypt_part(const key_schedule& key, std::span<const std::uint8_t> plain, std::span<std::uint8_t> cipher);

// Decrypts blocks(n) bytes of cipher and writes exactly n bytes into plain.
// False, with nothing written, when n would read past cipher or write past
// plain.
bool decrypt_part(const key_schedule& key, std::span<const std::uint8_t> cipher, std::size_t n,
                  std::span<std::uint8_t> plain);

#endif
