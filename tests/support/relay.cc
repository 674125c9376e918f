#include "tests/support/relay.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/udp_peer.h"

namespace testing_support {

namespace {

constexpr std::size_t largest_datagram = 65535;

// A UDP socket bound to 127.0.0.1:port (0: any free port) with room to queue
// a whole file's stream.
int bound_socket(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) throw std::runtime_error("relay: socket failed");
  int room = 4 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
  const sockaddr_in addr = loopback(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    throw std::runtime_error("relay: bind failed");
  }
  return fd;
}

std::uint16_t port_of(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

std::size_t slot(Direction direction) { return direction == Direction::to_server ? 0 : 1; }

}  // namespace

Relay::Relay(std::uint16_t server_port, FaultPlan plan, std::chrono::milliseconds lifetime)
    : plan_(plan), server_(loopback(server_port)) {
  client_side_ = bound_socket(0);
  server_side_ = bound_socket(0);
  port_ = port_of(client_side_);
  if (pipe(wake_) != 0) throw std::runtime_error("relay: pipe failed");
  thread_ = std::thread(&Relay::run, this, std::chrono::steady_clock::now() + lifetime);
}

Relay::~Relay() {
  const char stop = 's';
  (void)write(wake_[1], &stop, 1);
  thread_.join();
  for (const int fd : {client_side_, server_side_, wake_[0], wake_[1]}) close(fd);
}

std::size_t Relay::seen(Direction direction) const { return seen_[slot(direction)]; }

void Relay::run(std::chrono::steady_clock::time_point end) {
  std::vector<std::uint8_t> buffer(largest_datagram);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd ready[3] = {{client_side_, POLLIN, 0}, {server_side_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(ready, 3, static_cast<int>(left.count())) < 0) return;
    if (ready[2].revents != 0) return;
    for (int side = 0; side < 2; ++side) {
      if ((ready[side].revents & POLLIN) == 0) continue;
      sockaddr_in from{};
      socklen_t from_len = sizeof from;
      const ssize_t got =
          recvfrom(ready[side].fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
      if (got < 0) continue;
      const Direction direction = side == 0 ? Direction::to_server : Direction::to_client;
      if (direction == Direction::to_server) client_ = from;
      forward(direction, {buffer.begin(), buffer.begin() + got});
    }
  }
}

void Relay::forward(Direction direction, std::vector<std::uint8_t> datagram) {
  const std::size_t index = seen_[slot(direction)]++;
  auto& held = held_[slot(direction)];
  if (plan_.fault == Fault::none || direction != plan_.direction || index != plan_.index) {
    send(direction, datagram);
    if (held) {
      send(direction, *held);
      held.reset();
    }
    return;
  }
  switch (plan_.fault) {
    case Fault::none:
    case Fault::drop:
      break;
    case Fault::duplicate:
      send(direction, datagram);
      send(direction, datagram);
      break;
    case Fault::reorder:
      held = std::move(datagram);
      break;
    case Fault::truncate:
      if (plan_.at < datagram.size()) datagram.resize(plan_.at);
      send(direction, datagram);
      break;
    case Fault::alter:
      if (plan_.at < datagram.size()) datagram[plan_.at] ^= 0xFF;
      send(direction, datagram);
      break;
  }
  applied_ = true;
}

void Relay::send(Direction direction, const std::vector<std::uint8_t>& datagram) {
  if (direction == Direction::to_server) {
    (void)sendto(server_side_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&server_),
                 sizeof server_);
  } else if (client_) {
    (void)sendto(client_side_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&*client_),
                 sizeof *client_);
  }
}

}  // namespace testing_support
