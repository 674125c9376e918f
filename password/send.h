#ifndef PASSWORD_SEND_H
#define PASSWORD_SEND_H

#include <cstdint>
#include <span>

#include <netinet/in.h>

namespace password {

// Sends one datagram to `to`; a send that fails, or goes out only in part,
// ends the run with the diagnostic that every failed send of the system has.
void send_or_abort(bool debug, int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to);

}  // namespace password

#endif
