// The one file that asks OpenSSL for random bytes.
#include "authserver/session_key.h"

#include <bit>
#include <cstdint>

#include <openssl/rand.h>

#include "ticket/des.h"

// Sets the lowest bit of the byte, its parity bit, so that the byte holds an
// odd number of one bits.
static std::uint8_t with_odd_parity(std::uint8_t byte) {
  const auto high = static_cast<std::uint8_t>(byte & 0xfe);
  return static_cast<std::uint8_t>(high | (std::popcount(high) % 2 == 0 ? 1 : 0));
}

bool draw_session_key(des_key& key) {
  key_schedule checked{};
  // The key schedule refuses weak and semi-weak keys; drawing again until it
  // accepts one costs a second draw about once in 2^52.
  do {
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) return false;
    for (auto& byte : key) byte = with_odd_parity(byte);
  } while (make_key_schedule(key, checked) != 0);
  return true;
}
