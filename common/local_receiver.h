#ifndef COMMON_LOCAL_RECEIVER_H
#define COMMON_LOCAL_RECEIVER_H

// A stream's receiver on the same host, as its sender sees it. A sender to
// another host is held back by its interface: a send waits while the
// interface's queue is full. Within the host nothing holds a sender back,
// and one that outran its receiver for a moment (the receiver kept off the
// CPU, or storing the file slower than it arrives) overflowed the receiver's
// socket buffer. Here the receiving socket itself stands in for the
// interface's queue: the sender looks at how full it is and waits while it
// is more than half full or holds more than a few MiB. Nothing on the wire
// changes; only when datagrams leave.

#include <cstdint>

#include <netinet/in.h>

class local_receiver {
 public:
  // Finds the socket that datagrams sent from fd to peer land in, when it is
  // on this host (in this network namespace).
  local_receiver(int fd, const sockaddr_in& peer);
  ~local_receiver();

  // Whether the receiving socket was found: the peer is on this host.
  bool found() const { return diag_fd_ >= 0; }

  // Waits while the receiving socket holds more than half of its buffer, or
  // more than a few MiB.
  // A receiver that takes nothing for half a second is waited for no more,
  // for the rest of the stream: the datagrams then go out as they would to
  // another host.
  void wait_for_room();

  local_receiver(const local_receiver&) = delete;
  local_receiver& operator=(const local_receiver&) = delete;

 private:
  // Bytes queued at the receiver and its buffer size; false once the socket
  // can no longer be seen (it was closed).
  bool fill(std::uint32_t& queued, std::uint32_t& buffer);

  int diag_fd_ = -1;
  sockaddr_in from_{};  // the sender's address as the receiver sees it
  sockaddr_in to_{};
  std::uint32_t sequence_ = 0;
};

#endif
