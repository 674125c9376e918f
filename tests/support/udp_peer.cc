#include "tests/support/udp_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "common/udp.h"

namespace testing_support {

sockaddr_in loopback(std::uint16_t port) { return loopback_address(port); }

std::vector<std::uint8_t> oversized(std::vector<std::uint8_t> datagram) {
  datagram.resize(2000, 0xEE);
  return datagram;
}

UdpPeer::UdpPeer(std::uint16_t port, std::uint32_t host_order_addr) {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  int big = 4 * 1024 * 1024;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
  sockaddr_in addr = loopback(port);
  addr.sin_addr.s_addr = htonl(host_order_addr);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("bind failed");
  socklen_t len = sizeof addr;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

UdpPeer::~UdpPeer() {
  if (fd_ >= 0) close(fd_);
}

void UdpPeer::send_to(std::uint16_t port, std::span<const std::uint8_t> bytes) const { send_to(loopback(port), bytes); }

void UdpPeer::send_to(const sockaddr_in& to, std::span<const std::uint8_t> bytes) const {
  if (sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
    throw std::runtime_error("sendto failed");
}

std::optional<Datagram> UdpPeer::receive(std::chrono::milliseconds deadline) const {
  pollfd ready{fd_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(deadline.count())) != 1) return std::nullopt;
  Datagram datagram{std::vector<std::uint8_t>(65535), {}};
  socklen_t len = sizeof datagram.from;
  const ssize_t got =
      recvfrom(fd_, datagram.bytes.data(), datagram.bytes.size(), 0, reinterpret_cast<sockaddr*>(&datagram.from), &len);
  if (got < 0) return std::nullopt;
  datagram.bytes.resize(static_cast<std::size_t>(got));
  return datagram;
}

bool UdpPeer::silent_for(std::chrono::milliseconds window) const {
  pollfd ready{fd_, POLLIN, 0};
  return poll(&ready, 1, static_cast<int>(window.count())) == 0;
}

}  // namespace testing_support
