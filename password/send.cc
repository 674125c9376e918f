#include "password/send.h"

#include "common/console.h"
#include "common/udp.h"

namespace password {

void send_or_abort(bool debug, int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to) {
  if (!send_datagram(fd, datagram, to)) abort_run(debug, "Error - packet size too long\n");
}

}  // namespace password
