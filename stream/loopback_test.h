#ifndef STREAM_LOOPBACK_TEST_H
#define STREAM_LOOPBACK_TEST_H

// What the stream's kernel tests share: sockets on 127.0.0.1, and the ways
// of batching a program can end up with.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "common/udp.h"
#include "stream/probe.h"

// A UDP socket bound to 127.0.0.1 on a port the system chooses, with every
// receive bounded by a second.
struct loopback_socket {
  int fd = -1;
  sockaddr_in self{};
  loopback_socket() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    self = loopback_address(0);
    socklen_t len = sizeof self;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0 || !bound_receive_wait(fd, 1))
      fd = -1;
    // Room for every datagram a test sends before it receives any.
    request_receive_buffer(fd, 4 * 1024 * 1024);
  }
  ~loopback_socket() {
    if (fd >= 0) close(fd);
  }
};

// Bytes that name datagram i and their place in it.
inline std::uint8_t byte_of(std::size_t i, std::size_t at) { return static_cast<std::uint8_t>(i * 7 + at + 1); }

// Everything the kernel offers, and the plain calls alone.
inline std::vector<std::pair<const char*, batch_features>> feature_rows() {
  return {{"probed", probe_batch_features()}, {"plain calls", batch_features{}}};
}

#endif
