#ifndef COMMON_NUMBERS_H
#define COMMON_NUMBERS_H

#include <cstdint>

// Decimal text to a 16-bit number: each character counts as its code minus 48
// at its decimal position, summed modulo 65536. Rejects nothing.
std::uint16_t to_num(const char* text);

// Number of characters before the terminating zero, modulo 65536.
std::uint16_t size(const char* text);

#endif
