#ifndef COMMON_STREAM_SENDER_H
#define COMMON_STREAM_SENDER_H

// The sending end of a file stream: batches of equal-size datagrams to one
// client, each batch in one call, in order.

#include <cstddef>
#include <cstdint>
#include <span>

#include <netinet/in.h>

#include "common/batch.h"
#include "common/local_receiver.h"

class stream_sender {
 public:
  // probed: what the kernel offers, from probe_batch_features. Segmented
  // pieces go only to a client on this host, which is then paced (see
  // local_receiver): on the way to another host a rate limit on an
  // interface, which holds back plain sends while its queue is full, drops
  // the segments of a piece instead (every ticket transfer through 100 Mbit
  // failed so). Within the host one piece costs the sender and the kernel
  // about what one datagram does.
  stream_sender(int fd, const batch_features& probed, const sockaddr_in& peer);

  // Sends count datagrams of datagram_size bytes, laid end to end in area,
  // as send_batch does, then waits while a client on this host is falling
  // behind. Returns how many went out; fewer than count only when a send
  // failed.
  std::size_t send(std::span<const std::uint8_t> area, std::size_t datagram_size, std::size_t count);

 private:
  int fd_;
  sockaddr_in peer_;
  local_receiver receiver_;
  batch_features features_;
  std::size_t batches_ = 0;
};

#endif
