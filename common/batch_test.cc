#include "common/batch.h"

#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/local_receiver.h"
#include "common/udp.h"

namespace {

// A UDP socket bound to 127.0.0.1 on a port the system chooses, with every
// receive bounded by a second.
struct loopback_socket {
  int fd = -1;
  sockaddr_in self{};
  loopback_socket() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    self = loopback_address(0);
    socklen_t len = sizeof self;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0 || !bound_receive_wait(fd, 1))
      fd = -1;
    // Room for every datagram a test sends before it receives any.
    request_receive_buffer(fd, 4 * 1024 * 1024);
  }
  ~loopback_socket() {
    if (fd >= 0) close(fd);
  }
};

// Bytes queued on fd as its receive buffer counts them.
int socket_queued(int fd, int& queued) {
  std::uint32_t memory[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof memory;
  // As the receiver reads them: the whole set, with the buffer's size.
  if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory, &len) != 0 || len < sizeof memory ||
      memory[SK_MEMINFO_RCVBUF] == 0)
    return -1;
  queued = static_cast<int>(memory[SK_MEMINFO_RMEM_ALLOC]);
  return 0;
}

// Datagram i of a test stream: its size, and bytes that name it.
std::size_t size_of(std::size_t i) { return 40 + i % 3; }
std::uint8_t byte_of(std::size_t i, std::size_t at) { return static_cast<std::uint8_t>(i * 7 + at + 1); }

// The ways a program can end up with: everything the kernel offers, and the
// plain calls alone.
std::vector<std::pair<const char*, batch_features>> feature_rows() {
  return {{"probed", probe_batch_features()}, {"plain calls", batch_features{}}};
}

TEST(SendBatch, SendsEveryDatagramWholeAndInOrderWhicheverWayIsUsed) {
  for (const auto& [name, probed] : feature_rows()) {
    loopback_socket sender, receiver;
    ASSERT_GE(sender.fd, 0);
    ASSERT_GE(receiver.fd, 0);
    constexpr std::size_t size = 988;
    std::array<std::uint8_t, max_batch * size> area{};
    for (std::size_t i = 0; i < max_batch; ++i)
      for (std::size_t at = 0; at < size; ++at) area[i * size + at] = byte_of(i, at);
    batch_features features = probed;
    // A whole batch, then one alone, then a count beyond what the area holds.
    EXPECT_EQ(send_batch(sender.fd, features, area, size, max_batch, receiver.self), max_batch) << name;
    EXPECT_EQ(send_batch(sender.fd, features, std::span(area).first(size), size, 1, receiver.self), 1u) << name;
    EXPECT_EQ(send_batch(sender.fd, features, std::span(area).first(2 * size), size, 5, receiver.self), 2u) << name;
    std::array<std::uint8_t, 2000> got{};
    for (std::size_t i = 0; i < max_batch + 3; ++i) {
      const std::size_t want = i < max_batch ? i : i - max_batch - (i == max_batch ? 0 : 1);
      const ssize_t n = recv(receiver.fd, got.data(), got.size(), 0);
      ASSERT_EQ(n, static_cast<ssize_t>(size)) << name << " datagram " << i;
      ASSERT_EQ(std::memcmp(got.data(), &area[want * size], size), 0) << name << " datagram " << i;
    }
  }
}

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
      stream_receiver stream(receiver.fd, area, buffer_size, features);
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
          got = stream.next_view(buffer);
        else
          ASSERT_TRUE(stream.next(buffer, clear)) << name << " datagram " << i;
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

TEST(StreamReceiver, KeepsOrderWhenTheAreaFillsAndGoesRound) {
  // An area of a few datagrams only: the receiver must stop draining when it
  // is full and reuse the room that taken datagrams leave.
  loopback_socket sender, receiver;
  ASSERT_GE(receiver.fd, 0);
  std::vector<std::uint8_t> area(8 * (1024 + 12));
  stream_receiver stream(receiver.fd, area, 100, batch_features{true, false, false});
  std::array<std::uint8_t, 100> datagram{};
  std::array<std::uint8_t, 100> buffer{};
  std::size_t sent = 0;
  for (std::size_t taken = 0; taken < 200; ++taken) {
    while (sent < taken + 20) {
      datagram.fill(static_cast<std::uint8_t>(sent));
      ASSERT_TRUE(send_datagram(receiver.fd, datagram, receiver.self));
      ++sent;
    }
    stream.drain();
    ASSERT_TRUE(stream.next(buffer, true));
    ASSERT_EQ(buffer[0], static_cast<std::uint8_t>(taken)) << "datagram " << taken;
    ASSERT_EQ(buffer[99], static_cast<std::uint8_t>(taken)) << "datagram " << taken;
  }
  (void)sender;
}

TEST(StreamReceiver, ReportsASilentStreamAfterTheDatagramsItHolds) {
  for (const auto& [name, features] : feature_rows()) {
    loopback_socket receiver;
    ASSERT_GE(receiver.fd, 0);
    std::vector<std::uint8_t> area(std::size_t{1} << 20);
    stream_receiver stream(receiver.fd, area, 16, features);
    const std::array<std::uint8_t, 3> datagram{1, 2, 3};
    ASSERT_TRUE(send_datagram(receiver.fd, datagram, receiver.self));
    std::array<std::uint8_t, 16> buffer{};
    ASSERT_TRUE(stream.next(buffer, true)) << name;
    EXPECT_EQ(buffer[2], 3) << name;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stream.next(buffer, true)) << name;
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900)) << name;
    EXPECT_LT(waited, std::chrono::seconds(5)) << name;
  }
}

// Sends datagrams of 1000 bytes from sender to receiver until the
// receiver's socket holds more than half of what it may.
void fill_past_half(const loopback_socket& sender, const loopback_socket& receiver) {
  const std::array<std::uint8_t, 1000> datagram{};
  int buffer = 0;
  socklen_t len = sizeof buffer;
  ASSERT_EQ(getsockopt(receiver.fd, SOL_SOCKET, SO_RCVBUF, &buffer, &len), 0);
  for (int queued = 0; queued <= buffer / 2;) {
    ASSERT_TRUE(send_datagram(sender.fd, datagram, receiver.self));
    ASSERT_EQ(socket_queued(receiver.fd, queued), 0);
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

TEST(LocalReceiver, IsFoundOnlyWhereASocketTakesTheDatagrams) {
  if (!socket_diagnostics_offered()) GTEST_SKIP() << "no socket diagnostics from this kernel";
  loopback_socket sender, receiver;
  ASSERT_GE(receiver.fd, 0);
  EXPECT_TRUE(local_receiver(sender.fd, receiver.self).found());
  sockaddr_in nobody = receiver.self;
  close(receiver.fd);
  receiver.fd = -1;
  EXPECT_FALSE(local_receiver(sender.fd, nobody).found());
}

TEST(StreamReceiver, KeepsUpOnlyOnceTheSocketFills) {
  loopback_socket sender, receiver;
  ASSERT_GE(receiver.fd, 0);
  // Without the socket's figures (a translator of system calls may not pass
  // them on) every queued datagram is moved at once, by design.
  if (int queued = 0; socket_queued(receiver.fd, queued) != 0)
    GTEST_SKIP() << "no socket memory figures from this kernel";
  const int small = 64 * 1024;
  ASSERT_EQ(setsockopt(receiver.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
  std::vector<std::uint8_t> area(std::size_t{1} << 20);
  stream_receiver stream(receiver.fd, area, 1000, batch_features{});
  const std::array<std::uint8_t, 1000> datagram{};
  ASSERT_TRUE(send_datagram(sender.fd, datagram, receiver.self));
  // One datagram waits in the socket, where it costs the receiver nothing.
  stream.keep_up();
  EXPECT_FALSE(stream.holding());
  fill_past_half(sender, receiver);
  stream.keep_up();
  EXPECT_TRUE(stream.holding());
}

// A receiver with a small buffer that a sender has filled past half.
class BackedUpReceiver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!socket_diagnostics_offered()) GTEST_SKIP() << "no socket diagnostics from this kernel";
    ASSERT_GE(receiver.fd, 0);
    const int small = 64 * 1024;
    ASSERT_EQ(setsockopt(receiver.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    fill_past_half(sender, receiver);
  }
  loopback_socket sender, receiver;
};

TEST_F(BackedUpReceiver, HoldsTheSenderUntilTheReceiverHasTakenEnough) {
  local_receiver gauge(sender.fd, receiver.self);
  ASSERT_TRUE(gauge.found());
  std::atomic<bool> drained{false};
  std::thread taker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    drained = true;
    std::array<std::uint8_t, 2048> buffer{};
    while (recv(receiver.fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
    }
  });
  gauge.wait_for_room();
  EXPECT_TRUE(drained);
  taker.join();
  EXPECT_TRUE(gauge.found());
}

TEST_F(BackedUpReceiver, IsNoLongerWaitedForOnceItTakesNothing) {
  local_receiver gauge(sender.fd, receiver.self);
  ASSERT_TRUE(gauge.found());
  gauge.wait_for_room();
  // From now on the stream goes out unpaced, as to another host.
  EXPECT_FALSE(gauge.found());
}

TEST(MappedArea, GivesZeroedMemoryOfTheSizeAsked) {
  mapped_area area(stream_area_size);
  ASSERT_EQ(area.bytes().size(), stream_area_size);
  EXPECT_EQ(area.bytes()[0], 0);
  EXPECT_EQ(area.bytes()[stream_area_size - 1], 0);
}

}  // namespace
