#include "common/local_addr.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/utsname.h>

char** my_addr() {
  struct utsname names {};
  if (uname(&names) != 0) return nullptr;
  const struct hostent* entry = gethostbyname(names.nodename);
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4) return nullptr;
  return entry->h_addr_list;
}
