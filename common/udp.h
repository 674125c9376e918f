#ifndef COMMON_UDP_H
#define COMMON_UDP_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include <netinet/in.h>

// How long a program waits for a peer that has gone silent inside an
// exchange. Test builds of the programs shorten it; nothing else changes it.
#ifndef RECEIVE_WAIT_SECONDS
#define RECEIVE_WAIT_SECONDS 30
#endif
inline constexpr int receive_wait_seconds = RECEIVE_WAIT_SECONDS;

// The receive buffer a program asks for on a socket that takes a stream of
// datagrams with no flow control. A sender on another host never waits for
// its receiver, so every moment the receiver is kept off the CPU must fit in
// here: granted in full (doubled by the kernel), it holds about 29,000
// datagrams, half a second of a ticket stream. A smaller grant (the system
// limit, for an unprivileged process) lost datagrams whenever other work
// shared the machine. It is kernel memory, used only while the receiver lags
// behind.
inline constexpr int large_receive_buffer = 32 * 1024 * 1024;

// An IPv4 socket address as "a.b.c.d:port".
using address_text = std::array<char, 22>;
address_text text_of(const sockaddr_in& addr);

// Resolves a host name or dotted-decimal text to its first IPv4 address and
// fills addr with it and the port. False when the name gives no IPv4 address.
bool resolve_ipv4(const char* name, std::uint16_t port, sockaddr_in& addr);

// The wildcard IPv4 address at the port.
sockaddr_in any_address(std::uint16_t port);

// 127.0.0.1 at the port.
sockaddr_in loopback_address(std::uint16_t port);

// A server's socket: UDP, bound to every local IPv4 address at one port.
// fd is -1 unless bound; opened tells a socket that could not be bound
// (closed again) from none at all, since a program says which step failed.
struct bound_socket {
  int fd = -1;
  bool opened = false;
  bool bound = false;
  int error = 0;  // the system's error number when not opened or not bound
};
bound_socket open_bound_socket(std::uint16_t port);

// Bounds every later receive on fd by seconds; 0 lifts the bound.
bool bound_receive_wait(int fd, int seconds);

// Asks for a receive buffer of bytes, above the system's default limit where
// the process is allowed to; best effort, failures are ignored. Returns the
// size granted as the kernel counts it, which is twice what was asked when
// it is granted in full (0 when unknown).
int request_receive_buffer(int fd, int bytes);

// Sends one datagram; true when all of it was sent.
bool send_datagram(int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to);

// Receives one datagram into buffer (a longer one is cut); records its sender
// in from when from is not null. False when the receive fails or times out.
// before_wait is called first, since the program may now wait.
bool receive_datagram(int fd, std::span<std::uint8_t> buffer, sockaddr_in* from);

#endif
