#include "stream/receive.h"

#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <vector>

#include "stream/loopback_test.h"
#include "stream/peer_gauge.h"
#include "stream/send.h"
#include "stream/socket_source.h"

namespace {

// Datagram i of a test stream: its size, and bytes that name it.
std::size_t size_of(std::size_t i) { return 40 + i % 3; }

TEST(StreamReceiver, HandsOutEachDatagramAsIfReceivedAloneIntoTheBuffer) {
  constexpr std::size_t buffer_size = 41;  // the 42-byte datagrams are cut
  constexpr std::size_t count = 300;
  for (const auto& [name, features] : feature_rows()) {
    for (const int mode : {0, 1, 2}) {
      const bool clear = mode == 0;
      const char* how = mode == 0 ? " cleared" : mode == 1 ? " not cleared" : " in place";
      loopback_socket sender, receiver;
      ASSERT_GE(receiver.fd, 0);
      std::vector<std::uint8_t> area(std::size_t{1} << 20);
      socket_source source(receiver.fd, features);
      stream_receiver stream(source, area, buffer_size);
      // Sent both one by one and, where offered, as coalesced batches.
      std::array<std::uint8_t, 64> datagram{};
      for (std::size_t i = 0; i < count / 2; ++i) {
        for (std::size_t at = 0; at < size_of(i); ++at) datagram[at] = byte_of(i, at);
        ASSERT_TRUE(send_datagram(sender.fd, std::span(datagram).first(size_of(i)), receiver.self));
      }
      batch_features sending = features;
      std::array<std::uint8_t, max_batch * 40> equal{};
      for (std::size_t i = count / 2; i < count; i += max_batch) {
        for (std::size_t k = 0; k < max_batch; ++k)
          for (std::size_t at = 0; at < 40; ++at) equal[k * 40 + at] = byte_of(i + k, at);
        const std::size_t n = std::min(max_batch, count - i);
        ASSERT_EQ(send_batch(sender.fd, sending, equal, 40, n, receiver.self), n);
      }

      std::array<std::uint8_t, buffer_size> buffer{};
      std::array<std::uint8_t, buffer_size> model{};
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* got = buffer.data();
        if (mode == 2)
          ASSERT_EQ(stream.next_view(buffer, got), receive_status::ok) << name << " datagram " << i;
        else
          ASSERT_EQ(stream.next(buffer, clear ? leftover::zeroed : leftover::kept), receive_status::ok)
              << name << " datagram " << i;
        ASSERT_NE(got, nullptr) << name << " datagram " << i;
        const std::size_t size = i < count / 2 ? size_of(i) : 40;
        // What one receive into the same buffer would leave there.
        if (clear) model.fill(0);
        for (std::size_t at = 0; at < std::min(size, buffer_size); ++at) model[at] = byte_of(i, at);
        ASSERT_TRUE(std::equal(model.begin(), model.end(), got)) << name << how << " datagram " << i;
      }
      EXPECT_FALSE(stream.holding());
    }
  }
}

// Whether the kernel answers questions about sockets here (a translator of
// system calls may not pass them on); where it does not, no receiver is
// ever found and streams go out as to another host.
bool socket_diagnostics_offered() {
  const int fd = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_SOCK_DIAG);
  if (fd < 0) return false;
  close(fd);
  return true;
}

TEST(PeerGauge, IsFoundOnlyWhereASocketTakesTheDatagrams) {
  if (!socket_diagnostics_offered()) GTEST_SKIP() << "no socket diagnostics from this kernel";
  loopback_socket sender, receiver;
  ASSERT_GE(receiver.fd, 0);
  peer_gauge gauge(sender.fd, receiver.self);
  EXPECT_TRUE(gauge.found());
  const std::optional<pace::socket_fill> fill = gauge.fill();
  ASSERT_TRUE(fill.has_value());
  EXPECT_GT(fill->buffer, 0u);
  sockaddr_in nobody = receiver.self;
  close(receiver.fd);
  receiver.fd = -1;
  EXPECT_FALSE(peer_gauge(sender.fd, nobody).found());
}

TEST(PeerGauge, FollowsOnlyTheSocketItFoundFirst) {
  if (!socket_diagnostics_offered()) GTEST_SKIP() << "no socket diagnostics from this kernel";
  loopback_socket sender, receiver;
  ASSERT_GE(receiver.fd, 0);
  peer_gauge gauge(sender.fd, receiver.self);
  ASSERT_TRUE(gauge.found());
  // The receiver ends, and another socket takes its address and port.
  const sockaddr_in taken = receiver.self;
  close(receiver.fd);
  receiver.fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(receiver.fd, reinterpret_cast<const sockaddr*>(&taken), sizeof taken), 0);
  EXPECT_FALSE(gauge.fill().has_value());
}

}  // namespace
