#include "bench/stream.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "common/hex.h"
#include "common/udp.h"

namespace bench {

key_schedule session_schedule() {
  key_schedule key{};
  const des_key session = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};
  if (make_key_schedule(session, key) != 0) die("key refused");
  return key;
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void die(const char* why) {
  std::fprintf(stderr, "%s\n", why);
  std::exit(1);
}

long number_arg(char* argv[], int i) {
  char* end = nullptr;
  const long value = std::strtol(argv[i], &end, 10);
  if (end == argv[i] || *end != '\0' || value < 0) die("argument is not a number");
  return value;
}

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

int open_receiver(int receive_buffer_bytes) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) die("socket");
  if (receive_buffer_bytes > 0) request_receive_buffer(fd, receive_buffer_bytes);
  sockaddr_in addr = loopback(0);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) die("bind");
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) die("getsockname");
  int granted = 0;
  socklen_t granted_len = sizeof granted;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &granted_len) != 0) die("getsockopt");
  timeval quiet{};
  quiet.tv_sec = quiet_seconds;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet) != 0) die("setsockopt");
  std::printf("port=%u rcvbuf=%d\n", ntohs(addr.sin_port), granted);
  std::fflush(stdout);
  return fd;
}

int open_sender() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) die("socket");
  return fd;
}

void send_all(int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to) {
  if (!send_datagram(fd, datagram, to)) die("sendto");
}

void send_end(int fd, const sockaddr_in& to) {
  const std::uint8_t marker[end_marker_size] = {};
  for (int i = 0; i < end_markers; ++i) send_all(fd, marker, to);
}

void tally::note(std::uint32_t seq, double now) {
  if (received == 0) first = now;
  last = now;
  ++received;
  if (seq > next) skipped += seq - next;
  next = static_cast<std::uint64_t>(seq) + 1;
}

waiting waiting_arg(const char* text) {
  if (std::strcmp(text, "block") == 0) return waiting::block;
  if (std::strcmp(text, "spin") == 0) return waiting::spin;
  die("waiting is block or spin");
}

std::size_t receive_one(int fd, std::span<std::uint8_t> buffer, waiting how) {
  const int flags = how == waiting::spin ? MSG_DONTWAIT : 0;
  double quiet_since = 0;
  for (;;) {
    const ssize_t got = recv(fd, buffer.data(), buffer.size(), flags);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) die("recv");
    // A blocking receive has waited quiet_seconds already.
    if (how == waiting::block) return 0;
    const double now = seconds_now();
    if (quiet_since == 0) quiet_since = now;
    if (now - quiet_since >= quiet_seconds) return 0;
  }
}

void print_tally(const tally& t) {
  std::printf("received=%llu skipped=%llu seconds=%.6f timed_out=%d\n", static_cast<unsigned long long>(t.received),
              static_cast<unsigned long long>(t.skipped), t.last - t.first, t.timed_out ? 1 : 0);
  std::fflush(stdout);
}

}  // namespace bench
