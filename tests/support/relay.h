#ifndef TESTS_SUPPORT_RELAY_H
#define TESTS_SUPPORT_RELAY_H

// A UDP relay on 127.0.0.1 between a client and a server, for tests that
// inject one fault into a real exchange. The client is told that the relay
// is its server; the relay forwards what the client sends to the server from
// a socket of its own, and what the server sends back to the address the
// client last sent from. One chosen datagram, counted per direction from 0,
// can be dropped, duplicated, held back behind the next one, cut or altered.

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

namespace testing_support {

enum class Direction { to_server, to_client };

enum class Fault {
  none,
  drop,       // never forwarded
  duplicate,  // forwarded twice
  reorder,    // forwarded right after the next datagram in its direction; never, if none follows
  truncate,   // only its first `at` bytes are forwarded
  alter,      // the byte at `at` is inverted
};

struct FaultPlan {
  Fault fault = Fault::none;
  Direction direction = Direction::to_client;
  std::size_t index = 0;  // which datagram of that direction, from 0
  std::size_t at = 0;     // truncate: bytes kept; alter: offset of the byte
};

class Relay {
 public:
  // Relays for the server at 127.0.0.1:server_port. The relay stops when it
  // is destroyed, and by itself after lifetime, so it never outlives a test.
  Relay(std::uint16_t server_port, FaultPlan plan, std::chrono::milliseconds lifetime = std::chrono::seconds(60));
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // The port a client is given as its server's.
  std::uint16_t port() const { return port_; }
  // Datagrams that have arrived in a direction so far, the faulty one included.
  std::size_t seen(Direction direction) const;
  // True when the chosen datagram has arrived and its fault was applied.
  bool fault_applied() const { return applied_; }

 private:
  void run(std::chrono::steady_clock::time_point end);
  void forward(Direction direction, std::vector<std::uint8_t> datagram);
  void send(Direction direction, const std::vector<std::uint8_t>& datagram);

  FaultPlan plan_;
  int client_side_ = -1;  // bound to port_, where the client sends
  int server_side_ = -1;  // sends to the server and receives its answers
  int wake_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  sockaddr_in server_{};
  std::optional<sockaddr_in> client_;
  std::array<std::atomic<std::size_t>, 2> seen_{};
  std::atomic<bool> applied_{false};
  std::array<std::optional<std::vector<std::uint8_t>>, 2> held_;
  std::thread thread_;
};

}  // namespace testing_support

#endif
