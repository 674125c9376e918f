#ifndef TICKET_VALIDITY_H
#define TICKET_VALIDITY_H

#include <cstdint>
#include <ctime>

namespace ticket {

// End of a session key's life: timestamp + lifetime, modulo 2^32.
constexpr std::uint32_t validity(std::uint32_t timestamp, std::uint16_t lifetime) {
  return timestamp + static_cast<std::uint32_t>(lifetime);
}

// A key is valid strictly before its validity; equality counts as expired.
constexpr bool still_valid(std::uint32_t now, std::uint32_t validity) { return now < validity; }

// The clock in whole seconds, as the unsigned 32-bit number the protocol uses.
inline std::uint32_t clock_now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace ticket

#endif
