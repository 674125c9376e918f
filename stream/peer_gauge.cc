#include "stream/peer_gauge.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "common/local_addr.h"

namespace {

struct diag_request {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

}  // namespace

peer_gauge::peer_gauge(int fd, const sockaddr_in& peer) : to_(peer), cookie_{INET_DIAG_NOCOOKIE, INET_DIAG_NOCOOKIE} {
  ipv4_bytes source{};
  socklen_t len = sizeof from_;
  if (!source_addr_toward(peer, source) || getsockname(fd, reinterpret_cast<sockaddr*>(&from_), &len) != 0 ||
      from_.sin_family != AF_INET)
    return;
  // A datagram to one of the host's own addresses leaves from that address.
  // Without this, a socket here that merely shares the port of a peer on
  // another host would be taken for it.
  const bool loopback_net = (ntohl(peer.sin_addr.s_addr) >> 24) == 127;
  if (!loopback_net && std::memcmp(source.data(), &peer.sin_addr, source.size()) != 0) return;
  std::memcpy(&from_.sin_addr, source.data(), source.size());
  diag_fd_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag_fd_ < 0) return;
  // The kernel answers at once; should it not, the stream goes on unpaced.
  timeval answer_wait{};
  answer_wait.tv_usec = 100'000;
  if (setsockopt(diag_fd_, SOL_SOCKET, SO_RCVTIMEO, &answer_wait, sizeof answer_wait) != 0 || !fill()) {
    close(diag_fd_);
    diag_fd_ = -1;
  }
}

peer_gauge::~peer_gauge() {
  if (diag_fd_ >= 0) close(diag_fd_);
}

std::optional<pace::socket_fill> peer_gauge::fill() {
  if (diag_fd_ < 0) return std::nullopt;
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
  // Once pinned, the kernel answers for that socket only.
  request.body.id.idiag_cookie[0] = cookie_[0];
  request.body.id.idiag_cookie[1] = cookie_[1];
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(diag_fd_, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof request))
    return std::nullopt;

  alignas(nlmsghdr) std::uint8_t reply[1024];
  ssize_t got;
  do got = recv(diag_fd_, reply, sizeof reply, 0);
  while (got < 0 && errno == EINTR);
  if (got < 0) return std::nullopt;
  // One answer: the socket's summary, then its attributes.
  const auto* message = reinterpret_cast<const nlmsghdr*>(reply);
  const auto size = static_cast<std::size_t>(got);
  if (size < NLMSG_LENGTH(sizeof(inet_diag_msg)) || message->nlmsg_len > size ||
      message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)) || message->nlmsg_seq != sequence_ ||
      message->nlmsg_type != SOCK_DIAG_BY_FAMILY)
    return std::nullopt;
  inet_diag_msg found;
  std::memcpy(&found, reply + NLMSG_HDRLEN, sizeof found);
  // Only the receiver's own socket counts.
  if (found.id.idiag_sport != to_.sin_port) return std::nullopt;
  std::size_t at = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof found);
  while (at + sizeof(rtattr) <= message->nlmsg_len) {
    rtattr attribute;
    std::memcpy(&attribute, reply + at, sizeof attribute);
    if (attribute.rta_len < sizeof attribute || at + attribute.rta_len > message->nlmsg_len) return std::nullopt;
    std::uint32_t memory[SK_MEMINFO_RCVBUF + 1];
    if (attribute.rta_type == INET_DIAG_SKMEMINFO && attribute.rta_len >= RTA_LENGTH(sizeof memory)) {
      std::memcpy(memory, reply + at + RTA_LENGTH(0), sizeof memory);
      cookie_[0] = found.id.idiag_cookie[0];
      cookie_[1] = found.id.idiag_cookie[1];
      return pace::socket_fill{found.idiag_rqueue, memory[SK_MEMINFO_RCVBUF]};
    }
    at += RTA_ALIGN(attribute.rta_len);
  }
  return std::nullopt;
}

void peer_gauge::pause(std::chrono::microseconds how_long) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(how_long);
  const timespec pause{seconds.count(), static_cast<long>((how_long - seconds).count()) * 1000};
  nanosleep(&pause, nullptr);
}
