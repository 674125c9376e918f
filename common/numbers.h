#ifndef COMMON_NUMBERS_H
#define COMMON_NUMBERS_H

#include <cstdint>

// Decimal text to a 16-bit number: each character counts as its code minus 48
// at its decimal position, summed modulo 65536. Rejects nothing.
std::uint16_t to_num(const char* text);

// Number of characters before the terminating zero, modulo 65536: the
// length as a 16-bit count.
std::uint16_t text_length(const char* text);

// A port as atoi reads it, kept to its low 16 bits: text without leading
// digits gives 0, and 70000 gives 4464. Unlike atoi it is defined for every
// text, a number too large for a long included.
std::uint16_t port_number(const char* text);

// Whether text is what an operator means by a port: one to five decimal
// digits, nothing else, at most 65535. The programs read every text as a
// port all the same; this only tells when to warn.
bool is_port_text(const char* text);

#endif
