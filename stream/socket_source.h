#ifndef STREAM_SOCKET_SOURCE_H
#define STREAM_SOCKET_SOURCE_H

// The kernel's side of a stream's receiving end: a UDP socket, read many
// datagrams per call where the kernel offers it.

#include "stream/probe.h"
#include "stream/receive.h"

class socket_source final : public datagram_source {
 public:
  // Turns on UDP_GRO on fd when features allow it and the kernel takes it.
  socket_source(int fd, batch_features features);

  result receive(std::span<mmsghdr> messages, bool wait) override;
  std::optional<pace::socket_fill> fill() override;
  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
  bool coalescing() const override { return features_.coalescing; }

 private:
  int fd_;
  batch_features features_;
};

#endif
