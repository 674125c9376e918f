#ifndef COMMON_HEX_H
#define COMMON_HEX_H

#include <cstdint>
#include <span>

// Turns the first 16 characters of a key text into 8 key bytes, two
// hexadecimal characters a byte. Validates nothing: a bad key shows later,
// when the key schedule refuses it. Never reads past the terminating zero.
std::span<std::uint8_t, 8> hex_to_bytes(const char* text, std::span<std::uint8_t, 8> key);

#endif
