#ifndef COMMON_LOCAL_ADDR_H
#define COMMON_LOCAL_ADDR_H

#include <array>
#include <cstdint>

#include <netinet/in.h>

// The local host's IPv4 address list as the resolver gives it for the node
// name: 4-byte entries in network byte order ended by a null entry. Null when
// the node name or its entry cannot be found. The list is the resolver's own
// and stays valid only until the program's next host lookup.
char** my_addr();

// An IPv4 address as its four bytes in network byte order.
using ipv4_bytes = std::array<std::uint8_t, 4>;

// The source address the system would give a datagram sent to peer: that of
// a UDP socket connected to it (connecting sends nothing). False when there
// is no route to peer.
bool source_addr_toward(const sockaddr_in& peer, ipv4_bytes& addr);

// Where local_addr_toward found the address.
enum class local_addr_origin {
  host_name,  // the first address of the host's name
  route,      // the name gave none: the source address toward the peer
  none,       // neither gave one
};

// The local host's own address as a peer at `peer` should see it: the first
// address that lookup (my_addr unless a test gives another) finds for the
// host's name, or, on a host whose name does not resolve, the source address
// toward peer.
local_addr_origin local_addr_toward(const sockaddr_in& peer, ipv4_bytes& addr, char** (*lookup)() = my_addr);

#endif
