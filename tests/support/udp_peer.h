#ifndef TESTS_SUPPORT_UDP_PEER_H
#define TESTS_SUPPORT_UDP_PEER_H

// A UDP socket on 127.0.0.1 for tests that play one side of a protocol.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace testing_support {

// The address 127.0.0.1:port.
sockaddr_in loopback(std::uint16_t port);

// datagram followed by junk up to 2000 bytes, longer than any program's
// receive buffer: the receiving socket cuts it to the buffer.
std::vector<std::uint8_t> oversized(std::vector<std::uint8_t> datagram);

struct Datagram {
  std::vector<std::uint8_t> bytes;
  sockaddr_in from;
};

class UdpPeer {
 public:
  // Binds 127.0.0.1:port, or another loopback address given in host byte
  // order; port 0 lets the system choose.
  explicit UdpPeer(std::uint16_t port = 0, std::uint32_t host_order_addr = INADDR_LOOPBACK);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  std::uint16_t port() const { return port_; }
  // Sends to 127.0.0.1:port.
  void send_to(std::uint16_t port, std::span<const std::uint8_t> bytes) const;
  void send_to(const sockaddr_in& to, std::span<const std::uint8_t> bytes) const;
  // Waits for one datagram (up to 65535 bytes kept).
  std::optional<Datagram> receive(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
  // True when nothing arrives within the window.
  bool silent_for(std::chrono::milliseconds window) const;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace testing_support

#endif
