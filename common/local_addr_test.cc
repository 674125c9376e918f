#include "common/local_addr.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "common/udp.h"

namespace {

// Every IPv4 address of this host's interfaces, 127.0.0.1 first. A datagram
// to one of them leaves from that same address, so each is its own expected
// source.
std::vector<sockaddr_in> own_addresses() {
  std::vector<sockaddr_in> found{loopback_address(9)};
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in addr{};
    std::memcpy(&addr, entry->ifa_addr, sizeof addr);
    if (addr.sin_addr.s_addr == htonl(INADDR_LOOPBACK)) continue;
    addr.sin_port = htons(9);
    found.push_back(addr);
  }
  freeifaddrs(list);
  return found;
}

ipv4_bytes bytes_of(const sockaddr_in& addr) {
  ipv4_bytes bytes{};
  std::memcpy(bytes.data(), &addr.sin_addr, bytes.size());
  return bytes;
}

std::string host_text(const sockaddr_in& addr) {
  std::array<char, INET_ADDRSTRLEN> text{};
  inet_ntop(AF_INET, &addr.sin_addr, text.data(), text.size());
  return text.data();
}

// Stand-ins for my_addr: a host whose name does not resolve, one whose entry
// lists no address, and one with two addresses.
char** finds_nothing() { return nullptr; }
char** finds_empty_list() {
  static char* list[] = {nullptr};
  return list;
}
char first_entry[] = {static_cast<char>(198), 18, 0, 7};
char second_entry[] = {static_cast<char>(198), 18, 0, 8};
char** finds_two() {
  static char* list[] = {first_entry, second_entry, nullptr};
  return list;
}

TEST(LocalAddrToward, WithoutAnAddressForTheHostNameTakesTheSourceTowardThePeer) {
  for (const sockaddr_in& peer : own_addresses()) {
    for (char** (*lookup)() : {finds_nothing, finds_empty_list}) {
      ipv4_bytes addr{};
      EXPECT_EQ(local_addr_toward(peer, addr, lookup), local_addr_origin::route) << host_text(peer);
      EXPECT_EQ(addr, bytes_of(peer)) << host_text(peer);
    }
  }
}

TEST(LocalAddrToward, TakesTheFirstAddressOfTheHostNameWhereThereIsOne) {
  for (const sockaddr_in& peer : own_addresses()) {
    ipv4_bytes addr{};
    EXPECT_EQ(local_addr_toward(peer, addr, finds_two), local_addr_origin::host_name) << host_text(peer);
    EXPECT_EQ(addr, (ipv4_bytes{198, 18, 0, 7})) << host_text(peer);
  }
}

TEST(SourceAddrToward, GivesTheAddressADatagramWouldLeaveFrom) {
  // Any address of the loopback network is reached from 127.0.0.1.
  sockaddr_in other_loopback = loopback_address(9);
  other_loopback.sin_addr.s_addr = htonl(0x7F010203);
  ipv4_bytes addr{};
  ASSERT_TRUE(source_addr_toward(other_loopback, addr));
  EXPECT_EQ(addr, (ipv4_bytes{127, 0, 0, 1}));
}

}  // namespace
