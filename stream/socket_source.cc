#include "stream/socket_source.h"

#include <cerrno>

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/udp.h>

#include "common/waiting.h"

socket_source::socket_source(int fd, batch_features features) : fd_(fd), features_(features) {
  const int on = 1;
  if (features_.coalescing && setsockopt(fd_, SOL_UDP, UDP_GRO, &on, sizeof on) != 0) features_.coalescing = false;
}

datagram_source::result socket_source::receive(std::span<mmsghdr> messages, bool wait) {
  if (messages.empty()) return {};
  if (wait) before_wait();
  const int flags = wait ? 0 : MSG_DONTWAIT;
  int got;
  for (;;) {
    if (features_.multi) {
      got = recvmmsg(fd_, messages.data(), static_cast<unsigned>(messages.size()), flags | MSG_WAITFORONE, nullptr);
      if (got < 0 && (errno == ENOSYS || errno == EINVAL)) {
        features_.multi = false;
        continue;
      }
    } else {
      const ssize_t n = recvmsg(fd_, &messages[0].msg_hdr, flags);
      if (n >= 0) messages[0].msg_len = static_cast<unsigned>(n);
      got = n < 0 ? -1 : 1;
    }
    if (got >= 0 || errno != EINTR) break;
  }
  if (got >= 0) return {static_cast<std::size_t>(got), receive_status::ok};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, wait ? receive_status::timed_out : receive_status::ok};
  return {0, receive_status::failed};
}

std::optional<pace::socket_fill> socket_source::fill() {
  std::uint32_t memory[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof memory;
  if (getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, memory, &len) != 0 || len < sizeof memory) return std::nullopt;
  return pace::socket_fill{memory[SK_MEMINFO_RMEM_ALLOC], memory[SK_MEMINFO_RCVBUF]};
}
