#include "common/local_receiver.h"

#include <cerrno>
#include <cstring>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "common/local_addr.h"

namespace {

// How long a sender waits at a time before it looks again.
constexpr long pause_nanoseconds = 50'000;
// A receiver that takes nothing for this long is not waited for any more.
constexpr long give_up_nanoseconds = 500'000'000;

long nanoseconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000L + now.tv_nsec;
}

struct diag_request {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

}  // namespace

local_receiver::local_receiver(int fd, const sockaddr_in& peer) : to_(peer) {
  ipv4_bytes source{};
  socklen_t len = sizeof from_;
  if (!source_addr_toward(peer, source) || getsockname(fd, reinterpret_cast<sockaddr*>(&from_), &len) != 0 ||
      from_.sin_family != AF_INET)
    return;
  std::memcpy(&from_.sin_addr, source.data(), source.size());
  diag_fd_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  std::uint32_t queued = 0;
  std::uint32_t buffer = 0;
  if (diag_fd_ >= 0 && !fill(queued, buffer)) {
    close(diag_fd_);
    diag_fd_ = -1;
  }
}

local_receiver::~local_receiver() {
  if (diag_fd_ >= 0) close(diag_fd_);
}

bool local_receiver::fill(std::uint32_t& queued, std::uint32_t& buffer) {
  diag_request request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = ++sequence_;
  request.body.sdiag_family = AF_INET;
  request.body.sdiag_protocol = IPPROTO_UDP;
  request.body.idiag_ext = 1U << (INET_DIAG_SKMEMINFO - 1);
  request.body.idiag_states = ~0U;
  // The socket a datagram from `from_` to `to_` is delivered to.
  request.body.id.idiag_sport = from_.sin_port;
  request.body.id.idiag_dport = to_.sin_port;
  std::memcpy(&request.body.id.idiag_src[0], &from_.sin_addr, 4);
  std::memcpy(&request.body.id.idiag_dst[0], &to_.sin_addr, 4);
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(diag_fd_, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof request))
    return false;

  alignas(nlmsghdr) std::uint8_t reply[1024];
  ssize_t got;
  do got = recv(diag_fd_, reply, sizeof reply, 0);
  while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  int left = static_cast<int>(got);
  for (auto* message = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(message, left);
       message = NLMSG_NEXT(message, left)) {
    if (message->nlmsg_seq != sequence_ || message->nlmsg_type != SOCK_DIAG_BY_FAMILY) return false;
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return false;
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
    // Only the receiver's own socket counts, never one that merely shares
    // its port with a wildcard.
    if (found->id.idiag_sport != to_.sin_port) return false;
    int attributes_left = static_cast<int>(message->nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg)));
    for (auto* attribute = reinterpret_cast<rtattr*>(const_cast<inet_diag_msg*>(found) + 1);
         RTA_OK(attribute, attributes_left); attribute = RTA_NEXT(attribute, attributes_left)) {
      if (attribute->rta_type != INET_DIAG_SKMEMINFO ||
          RTA_PAYLOAD(attribute) < sizeof(std::uint32_t) * (SK_MEMINFO_RCVBUF + 1))
        continue;
      std::uint32_t memory[SK_MEMINFO_RCVBUF + 1];
      std::memcpy(memory, RTA_DATA(attribute), sizeof memory);
      queued = found->idiag_rqueue;
      buffer = memory[SK_MEMINFO_RCVBUF];
      return true;
    }
    return false;
  }
  return false;
}

void local_receiver::wait_for_room() {
  if (diag_fd_ < 0) return;
  long since = 0;
  std::uint32_t last = 0;
  for (;;) {
    std::uint32_t queued = 0;
    std::uint32_t buffer = 0;
    if (!fill(queued, buffer)) break;  // closed: the receiver has gone
    if (queued <= buffer / 2) return;
    const long now = nanoseconds_now();
    if (since == 0 || queued < last) since = now;
    last = queued;
    if (now - since > give_up_nanoseconds) break;
    const timespec pause{0, pause_nanoseconds};
    nanosleep(&pause, nullptr);
  }
  close(diag_fd_);
  diag_fd_ = -1;
}
