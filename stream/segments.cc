#include "stream/segments.h"

#include <cerrno>
#include <cstring>

#include <netinet/udp.h>

bool refused(int error) {
  return error == EINVAL || error == ENOPROTOOPT || error == EOPNOTSUPP || error == ENOSYS || error == EIO ||
         error == EMSGSIZE;
}

bool send_segmented(int fd, std::span<const std::uint8_t> payload, std::uint16_t segment, const sockaddr_in& to) {
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
  iovec vector{const_cast<std::uint8_t*>(payload.data()), payload.size()};
  msghdr message{};
  message.msg_name = const_cast<sockaddr_in*>(&to);
  message.msg_namelen = sizeof to;
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_UDP;
  header->cmsg_type = UDP_SEGMENT;
  header->cmsg_len = CMSG_LEN(sizeof segment);
  std::memcpy(CMSG_DATA(header), &segment, sizeof segment);
  ssize_t sent;
  do {
    sent = sendmsg(fd, &message, 0);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0 && static_cast<std::size_t>(sent) == payload.size();
}

std::uint32_t coalesced_segment(const msghdr& message) {
  auto& walked = const_cast<msghdr&>(message);
  for (cmsghdr* header = CMSG_FIRSTHDR(&walked); header != nullptr; header = CMSG_NXTHDR(&walked, header)) {
    if (header->cmsg_level != SOL_UDP || header->cmsg_type != UDP_GRO) continue;
    if (header->cmsg_len < CMSG_LEN(sizeof(int))) return 0;
    int segment = 0;
    std::memcpy(&segment, CMSG_DATA(header), sizeof segment);
    return segment > 0 ? static_cast<std::uint32_t>(segment) : 0;
  }
  return 0;
}
