#include "ticket/receive.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <array>

#include "common/udp.h"

namespace {

// A short datagram after a long one must not show the long one's tail: the
// decoders read fixed offsets whatever arrived.
TEST(ReceiveCleared, ShortDatagramReadsZeroPastItsEnd) {
  const bound_socket sock = open_bound_socket(0);
  ASSERT_TRUE(sock.bound);
  sockaddr_in self{};
  socklen_t len = sizeof self;
  ASSERT_EQ(getsockname(sock.fd, reinterpret_cast<sockaddr*>(&self), &len), 0);
  const sockaddr_in to = loopback_address(ntohs(self.sin_port));
  ASSERT_TRUE(bound_receive_wait(sock.fd, 5));

  std::array<std::uint8_t, ticket::receive_size> long_datagram{};
  long_datagram.fill(0xAA);
  const std::array<std::uint8_t, 2> short_datagram{0x00, 0x07};
  ASSERT_TRUE(send_datagram(sock.fd, long_datagram, to));
  ASSERT_TRUE(send_datagram(sock.fd, short_datagram, to));

  ticket::receive_buffer rx{};
  sockaddr_in from{};
  ASSERT_TRUE(ticket::receive_cleared(sock.fd, rx, &from));
  EXPECT_EQ(rx, long_datagram);
  EXPECT_EQ(from.sin_port, self.sin_port);
  ASSERT_TRUE(ticket::receive_cleared(sock.fd, rx, nullptr));
  ticket::receive_buffer expected{};
  expected[1] = 0x07;
  EXPECT_EQ(rx, expected);
  close(sock.fd);
}

}  // namespace
