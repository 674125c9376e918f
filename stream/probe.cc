#include "stream/probe.h"

#include <cstring>

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/udp.h"
#include "stream/segments.h"

namespace {

// A UDP socket on 127.0.0.1 whose receives give up after a fifth of a
// second; -1 when there is none to be had (no loopback in this namespace).
int probe_socket(sockaddr_in& self) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  self = loopback_address(0);
  socklen_t len = sizeof self;
  timeval wait{};
  wait.tv_usec = 200000;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends two segments to itself and checks that they arrive as the two
// datagrams they were (a translator of system calls may pass the option on
// wrongly rather than refuse it).
bool probe_segmentation(int fd, const sockaddr_in& self) {
  const std::uint8_t payload[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  if (!send_segmented(fd, payload, 8, self)) return false;
  for (int i = 0; i < 2; ++i) {
    std::uint8_t got[32] = {};
    const ssize_t n = recv(fd, got, sizeof got, 0);
    if (n != 8 || std::memcmp(got, payload + 8 * i, 8) != 0) return false;
  }
  return true;
}

// Sends three segments to a receiver with UDP_GRO on and checks that they
// come back as one piece with the right segment size.
bool probe_coalescing(int sender, int receiver, const sockaddr_in& to) {
  const int on = 1;
  if (setsockopt(receiver, SOL_UDP, UDP_GRO, &on, sizeof on) != 0) return false;
  const std::uint8_t payload[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                    13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  if (!send_segmented(sender, payload, 8, to)) return false;
  std::uint8_t got[64] = {};
  alignas(cmsghdr) std::uint8_t control[64] = {};
  iovec vector{got, sizeof got};
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(receiver, &message, 0);
  return n == 24 && std::memcmp(got, payload, 24) == 0 && coalesced_segment(message) == 8;
}

}  // namespace

batch_features probe_batch_features() {
  batch_features features;
  // sendmmsg and recvmmsg are tried for real at their first use instead.
  features.multi = true;
  sockaddr_in first_addr{};
  sockaddr_in second_addr{};
  const int first = probe_socket(first_addr);
  const int second = probe_socket(second_addr);
  if (first >= 0 && second >= 0) {
    features.segmentation = probe_segmentation(first, first_addr);
    features.coalescing = features.segmentation && probe_coalescing(first, second, second_addr);
  }
  if (first >= 0) close(first);
  if (second >= 0) close(second);
  return features;
}
