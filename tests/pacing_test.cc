// A same-host client cannot hold a server: one that takes a trickle, and a
// socket that takes over a client's port, each leave the server ending its
// delivery within the bound that pacing gives itself.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "common/udp.h"
#include "password/wire.h"
#include "tests/support/password_peer.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr char secret[] = "open sesame";
// Far more than the small socket below holds, and far more than a trickle
// takes in the time allowed.
constexpr std::size_t file_size = std::size_t{20} * 1000 * 1000;

// A client socket on 127.0.0.1 with a small receive buffer, so that the
// server's pacing starts at once.
int small_socket(const sockaddr_in& at) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const int small = 64 * 1024;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || !bound_receive_wait(fd, 5)) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Takes one datagram now and then until the server has said OK; whether it
// did within the deadline.
bool trickle_until_served(int fd, Process& server, std::chrono::seconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  std::array<std::uint8_t, 2048> datagram{};
  while (std::chrono::steady_clock::now() < until) {
    (void)recv(fd, datagram.data(), datagram.size(), MSG_DONTWAIT);
    // The pause between two datagrams is the slowness under test.
    if (server.wait_for_output("OK\n", 100ms)) return true;
  }
  return false;
}

// Joins passfeed from fd and is accepted: the stream follows at once.
void join(int fd, std::uint16_t port) {
  const sockaddr_in server = loopback_address(port);
  const auto send = [&](const bytes& datagram) {
    ASSERT_EQ(
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server),
        static_cast<ssize_t>(datagram.size()));
  };
  std::array<std::uint8_t, 2048> answer{};
  send(join_req());
  ASSERT_EQ(recv(fd, answer.data(), answer.size(), 0), static_cast<ssize_t>(password::header_size));
  send(pass_resp(secret));
  ASSERT_EQ(recv(fd, answer.data(), answer.size(), 0), static_cast<ssize_t>(password::header_size));
}

struct TakeoverRow {
  const char* name;
  bool taken_over;  // the client ends and another socket takes its port
};

TEST(Pacing, NoSameHostClientHoldsTheServer) {
  const TakeoverRow rows[] = {{"a client that takes a trickle", false}, {"a port taken over", true}};
  for (const TakeoverRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "input", random_bytes(file_size));
    ServerProcess server(PASSFEED_PATH, {secret, (dir / "input").string()}, dir / "server.out");
    ASSERT_TRUE(server.bound());
    sockaddr_in at = loopback_address(0);
    int fd = small_socket(at);
    ASSERT_GE(fd, 0);
    socklen_t len = sizeof at;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len), 0);
    join(fd, server.port());
    if (row.taken_over) {
      close(fd);
      fd = small_socket(at);
      ASSERT_GE(fd, 0);
    }
    // A delivery that is held takes minutes at this pace.
    EXPECT_TRUE(trickle_until_served(fd, server, 15s));
    close(fd);
  }
}

}  // namespace
