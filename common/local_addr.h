#ifndef COMMON_LOCAL_ADDR_H
#define COMMON_LOCAL_ADDR_H

// The local host's IPv4 address list as the resolver gives it for the node
// name: 4-byte entries in network byte order ended by a null entry. Null when
// the node name or its entry cannot be found. The list is the resolver's own
// and stays valid only until the program's next host lookup.
char** my_addr();

#endif
