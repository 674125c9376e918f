#include "common/udp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/waiting.h"

bool resolve_ipv4(const char* name, std::uint16_t port, sockaddr_in& addr) {
  addr = sockaddr_in{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  const struct hostent* entry = gethostbyname(name);
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list[0] == nullptr)
    return false;
  // Both are the four bytes in network order.
  std::memcpy(&addr.sin_addr, entry->h_addr_list[0], sizeof addr.sin_addr);
  return true;
}

address_text text_of(const sockaddr_in& addr) {
  address_text text{};
  char host[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host);
  std::snprintf(text.data(), text.size(), "%s:%u", host, static_cast<unsigned>(ntohs(addr.sin_port)));
  return text;
}

// An IPv4 socket address: family, port and address, every other byte zero.
static sockaddr_in ipv4_address(std::uint32_t host_order_address, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(host_order_address);
  return addr;
}

sockaddr_in any_address(std::uint16_t port) { return ipv4_address(INADDR_ANY, port); }

sockaddr_in loopback_address(std::uint16_t port) { return ipv4_address(INADDR_LOOPBACK, port); }

bound_socket open_bound_socket(std::uint16_t port) {
  bound_socket result;
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  result.opened = true;
  const sockaddr_in any = any_address(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    result.error = errno;
    close(fd);
    return result;
  }
  result.fd = fd;
  result.bound = true;
  return result;
}

bool bound_receive_wait(int fd, int seconds) {
  timeval bound{};
  bound.tv_sec = seconds;
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) == 0;
}

int request_receive_buffer(int fd, int bytes) {
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  int granted = 0;
  socklen_t len = sizeof granted;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) return 0;
  return granted;
}

bool send_datagram(int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to) {
  ssize_t sent;
  do {
    sent = sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0 && static_cast<std::size_t>(sent) == datagram.size();
}

// One receive with the given flags; EINTR is retried.
static bool receive_once(int fd, std::span<std::uint8_t> buffer, sockaddr_in* from, int flags) {
  sockaddr_in sender{};
  socklen_t sender_len = sizeof sender;
  ssize_t got;
  do {
    got = recvfrom(fd, buffer.data(), buffer.size(), flags, reinterpret_cast<sockaddr*>(&sender), &sender_len);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  if (from != nullptr) *from = sender;
  return true;
}

bool receive_datagram(int fd, std::span<std::uint8_t> buffer, sockaddr_in* from) {
  before_wait();
  return receive_once(fd, buffer, from, 0);
}
