#include "common/udp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>

namespace {

// A UDP socket bound to 127.0.0.1 on a port the system chooses; self is its
// address.
int bound_loopback_socket(sockaddr_in& self) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  self = loopback_address(0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) return -1;
  socklen_t len = sizeof self;
  getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len);
  return fd;
}

TEST(ResolveIpv4, TakesDottedTextAndRefusesWhatCannotResolve) {
  sockaddr_in addr{};
  ASSERT_TRUE(resolve_ipv4("127.0.0.1", 70000 % 65536, addr));
  EXPECT_EQ(addr.sin_family, AF_INET);
  EXPECT_EQ(ntohs(addr.sin_port), 4464);
  EXPECT_EQ(ntohl(addr.sin_addr.s_addr), 0x7F000001u);
  // Rejected by the C library without asking any name server.
  EXPECT_FALSE(resolve_ipv4("999.999.999.999", 1, addr));
}

TEST(BoundReceiveWait, EndsASilentWaitAsAFailedReceive) {
  sockaddr_in self{};
  const int fd = bound_loopback_socket(self);
  ASSERT_GE(fd, 0);

  std::array<std::uint8_t, 16> buffer{};
  ASSERT_TRUE(bound_receive_wait(fd, 1));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(receive_datagram(fd, buffer, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // A datagram longer than the buffer is cut, and its sender is recorded.
  const std::array<std::uint8_t, 20> long_datagram{1, 2, 3};
  ASSERT_TRUE(send_datagram(fd, long_datagram, self));
  sockaddr_in from{};
  ASSERT_TRUE(receive_datagram(fd, buffer, &from));
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(from.sin_port, self.sin_port);
  close(fd);
}

// A server's socket takes datagrams sent to any local address at its port,
// and a port already taken is told apart from no socket at all.
TEST(OpenBoundSocket, BindsEveryLocalAddressAndTellsATakenPort) {
  const bound_socket first = open_bound_socket(0);
  ASSERT_TRUE(first.opened && first.bound);
  ASSERT_GE(first.fd, 0);
  sockaddr_in self{};
  socklen_t len = sizeof self;
  ASSERT_EQ(getsockname(first.fd, reinterpret_cast<sockaddr*>(&self), &len), 0);
  EXPECT_EQ(self.sin_addr.s_addr, htonl(INADDR_ANY));

  ASSERT_TRUE(bound_receive_wait(first.fd, 5));
  const std::array<std::uint8_t, 3> datagram{7, 8, 9};
  ASSERT_TRUE(send_datagram(first.fd, datagram, loopback_address(ntohs(self.sin_port))));
  std::array<std::uint8_t, 3> buffer{};
  ASSERT_TRUE(receive_datagram(first.fd, buffer, nullptr));
  EXPECT_EQ(buffer, datagram);

  const bound_socket second = open_bound_socket(ntohs(self.sin_port));
  EXPECT_TRUE(second.opened);
  EXPECT_FALSE(second.bound);
  EXPECT_EQ(second.fd, -1);
  close(first.fd);
}

TEST(TextOf, GivesAddressAndPortAsPeopleWriteThem) {
  sockaddr_in addr = loopback_address(9100);
  EXPECT_STREQ(text_of(addr).data(), "127.0.0.1:9100");
  addr.sin_addr.s_addr = htonl(0xC6120001);  // 198.18.0.1
  addr.sin_port = htons(65535);
  EXPECT_STREQ(text_of(addr).data(), "198.18.0.1:65535");
}

}  // namespace
