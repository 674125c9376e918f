#include "ticket/receive.h"

#include "common/udp.h"

namespace ticket {

bool receive_cleared(int fd, receive_buffer& rx, sockaddr_in* from) {
  rx.fill(0);
  return receive_datagram(fd, rx, from);
}

}  // namespace ticket
