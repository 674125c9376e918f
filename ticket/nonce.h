#ifndef TICKET_NONCE_H
#define TICKET_NONCE_H

#include <cstddef>
#include <cstdint>
#include <span>

#include "ticket/wire.h"

namespace ticket {

// Plaintext length of a nonce reply whose text has text_len characters: the
// text length itself when it is a whole number of blocks, else 4 more. The
// rule adds 4; it does not round up (10 characters give 14, not 16).
constexpr std::uint16_t nonce_reply_length(std::size_t text_len) {
  return static_cast<std::uint16_t>(text_len % 8 == 0 ? text_len : text_len + 4);
}

// Zeroes area and writes the decimal text of nonce + 1 (modulo 2^32, read as
// a signed 32-bit number) into it. Returns the reply length L.
std::uint16_t encode_nonce_reply(std::span<std::uint8_t, nonce_reply_area> area, std::uint32_t nonce);

// Reads a decrypted nonce reply as atoi would (leading white space, a sign,
// then digits), never past the area; the value wraps modulo 2^32.
std::uint32_t decode_nonce_reply(std::span<const std::uint8_t, nonce_reply_area> area);

}  // namespace ticket

#endif
