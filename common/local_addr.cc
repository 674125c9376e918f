#include "common/local_addr.h"

#include <cstring>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

char** my_addr() {
  struct utsname names {};
  if (uname(&names) != 0) return nullptr;
  const struct hostent* entry = gethostbyname(names.nodename);
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4) return nullptr;
  return entry->h_addr_list;
}

bool source_addr_toward(const sockaddr_in& peer, ipv4_bytes& addr) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in own{};
  socklen_t len = sizeof own;
  const bool found = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&own), &len) == 0 && own.sin_family == AF_INET &&
                     own.sin_addr.s_addr != INADDR_ANY;
  close(fd);
  if (found) std::memcpy(addr.data(), &own.sin_addr, addr.size());
  return found;
}

local_addr_origin local_addr_toward(const sockaddr_in& peer, ipv4_bytes& addr, char** (*lookup)()) {
  if (char** list = lookup(); list != nullptr && list[0] != nullptr) {
    std::memcpy(addr.data(), list[0], addr.size());
    return local_addr_origin::host_name;
  }
  return source_addr_toward(peer, addr) ? local_addr_origin::route : local_addr_origin::none;
}
