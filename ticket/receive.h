#ifndef TICKET_RECEIVE_H
#define TICKET_RECEIVE_H

#include <netinet/in.h>

#include "ticket/codec.h"

namespace ticket {

// Receives one datagram into rx after clearing all of it, so that the bytes a
// short datagram did not fill read as zero rather than as the datagram
// before. A longer one is cut; its sender goes to from when from is not
// null. False when the receive fails or times out.
bool receive_cleared(int fd, receive_buffer& rx, sockaddr_in* from);

}  // namespace ticket

#endif
