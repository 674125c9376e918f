#ifndef STREAM_PEER_GAUGE_H
#define STREAM_PEER_GAUGE_H

// A sender's gauge of its receiver's socket on the same host, read through
// the kernel's socket diagnostics. It pins the one socket it found first:
// a socket that later takes the same address and port (after the receiver
// has ended) is not that receiver, and seeing it ends the gauge.

#include <cstdint>
#include <optional>

#include <netinet/in.h>

#include "stream/pace.h"

class peer_gauge final : public pace::peer_socket {
 public:
  // Finds the socket that datagrams sent from fd to peer land in, when it is
  // on this host (in this network namespace).
  peer_gauge(int fd, const sockaddr_in& peer);
  ~peer_gauge() override;

  // Whether the receiving socket was found: the peer is on this host.
  bool found() const { return diag_fd_ >= 0; }

  std::optional<pace::socket_fill> fill() override;
  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
  void pause(std::chrono::microseconds how_long) override;

  peer_gauge(const peer_gauge&) = delete;
  peer_gauge& operator=(const peer_gauge&) = delete;

 private:
  int diag_fd_ = -1;
  sockaddr_in from_{};  // the sender's address as the receiver sees it
  sockaddr_in to_{};
  std::uint32_t sequence_ = 0;
  // The kernel's name for the socket found first; the lookups ask for it.
  std::uint32_t cookie_[2];
};

#endif
