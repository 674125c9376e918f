// The sender's half of the pacing policy, against a receiver's socket the
// test plays: no kernel, no sleeps.

#include "stream/pace.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace std::chrono_literals;

// A receiver's socket whose fill is a function of the looks so far.
class test_peer final : public pace::peer_socket {
 public:
  explicit test_peer(std::function<std::optional<pace::socket_fill>(std::size_t look)> script)
      : script_(std::move(script)) {}
  std::optional<pace::socket_fill> fill() override { return script_(looks_++); }
  std::chrono::steady_clock::time_point now() override { return clock_; }
  void pause(std::chrono::microseconds how_long) override {
    clock_ += how_long;
    paused += how_long;
  }
  std::chrono::microseconds paused{};

 private:
  std::function<std::optional<pace::socket_fill>(std::size_t)> script_;
  std::size_t looks_ = 0;
  std::chrono::steady_clock::time_point clock_ = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
};

constexpr std::uint32_t mib = 1024 * 1024;

struct PaceRow {
  const char* name;
  std::function<std::optional<pace::socket_fill>(std::size_t)> script;
  std::uint64_t sent;               // bytes of the delivery sent so far
  std::chrono::microseconds least;  // the sender waits at least this long
  std::chrono::microseconds most;   // and at most this long
  bool still_pacing;                // and waits for the receiver after it
};

TEST(Pacer, WaitsWhileTheReceiverIsBehindAndNeverForEver) {
  const auto trickle = [](std::size_t look) {
    return pace::socket_fill{600'000 - static_cast<std::uint32_t>(look), 1'000'000};
  };
  const PaceRow rows[] = {
      {"keeps up",
       [](std::size_t) {
         return pace::socket_fill{100, 1000};
       },
       0, 0us, 0us, true},
      {"at half full",
       [](std::size_t) {
         return pace::socket_fill{500, 1000};
       },
       0, 0us, 0us, true},
      {"catches up after three looks",
       [](std::size_t look) {
         return pace::socket_fill{look < 3 ? 600u : 400u, 1000};
       },
       0, 150us, 150us, true},
      {"past the most queued in a huge buffer",
       [](std::size_t look) {
         return pace::socket_fill{look < 1 ? 9 * mib : mib, 64 * mib};
       },
       0, 50us, 50us, true},
      {"takes nothing",
       [](std::size_t) {
         return pace::socket_fill{600, 1000};
       },
       0, pace::stalled_after, pace::stalled_after + pace::sender_pause, false},
      {"gone", [](std::size_t) { return std::optional<pace::socket_fill>{}; }, 0, 0us, 0us, false},
      // Takes a little before each look, so it never stalls: the budget
      // ends the waiting.
      {"trickles", trickle, 0, pace::wait_grace, pace::wait_grace + pace::sender_pause, false},
      {"trickles after 64 MiB sent", trickle, 64 * std::uint64_t{mib}, pace::wait_grace + 2s,
       pace::wait_grace + 2s + pace::sender_pause, false},
  };
  for (const PaceRow& row : rows) {
    test_peer peer(row.script);
    pace::pacer pacer(&peer);
    pacer.wait_for_room(row.sent);
    EXPECT_GE(peer.paused, row.least) << row.name;
    EXPECT_LE(peer.paused, row.most) << row.name;
    EXPECT_EQ(pacer.pacing(), row.still_pacing) << row.name;
  }
}

TEST(Pacer, CountsEveryWaitOfADeliveryAgainstOneBudget) {
  // Behind at every first look of a batch, caught up at the next: each
  // batch waits one pause, and the pauses add up to the budget.
  test_peer peer([](std::size_t look) { return pace::socket_fill{look % 2 == 0 ? 600u : 100u, 1000}; });
  pace::pacer pacer(&peer);
  std::size_t batches = 0;
  while (pacer.pacing() && batches < 1'000'000) {
    pacer.wait_for_room(0);
    ++batches;
  }
  EXPECT_FALSE(pacer.pacing());
  EXPECT_GE(peer.paused, pace::wait_grace);
  EXPECT_LE(peer.paused, pace::wait_grace + pace::sender_pause);
}

TEST(Pacer, NeverWaitsForAReceiverOnAnotherHost) {
  pace::pacer pacer(nullptr);
  pacer.wait_for_room(0);
  EXPECT_FALSE(pacer.pacing());
}

struct CapRow {
  const char* name;
  std::uint64_t bits_per_second;
  std::size_t datagram_size;
  std::size_t burst;  // datagrams back to back
};

TEST(RateCap, SpacesBurstsToTheRateAsTheWireCountsIt) {
  const CapRow rows[] = {
      // 2 ms of 100 Mbit is 25,000 bytes: 24 datagrams of 988 + 42.
      {"100 Mbit", 100'000'000, 988, 24},
      {"900 Mbit", 900'000'000, 1012, 213},
      // A burst is never less than one datagram.
      {"1 kbit", 1000, 988, 1},
  };
  for (const CapRow& row : rows) {
    pace::rate_cap cap(row.bits_per_second);
    EXPECT_EQ(cap.burst(row.datagram_size), row.burst) << row.name;
    // Bursts sent as soon as each may go: the waits add up to the time the
    // bits take on the link, less the last burst's.
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    const auto start = now;
    constexpr int bursts = 100;
    for (int i = 0; i < bursts; ++i) now += cap.wait_before(row.burst, row.datagram_size, now);
    const double burst_bits = 8.0 * static_cast<double>((row.datagram_size + pace::wire_overhead) * row.burst);
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double expected = (bursts - 1) * burst_bits / static_cast<double>(row.bits_per_second);
    EXPECT_NEAR(seconds, expected, 1e-6) << row.name;
  }
}

TEST(RateCap, EarnsNoCreditWhileIdle) {
  pace::rate_cap cap(100'000'000);
  auto now = std::chrono::steady_clock::time_point{} + 1h;
  EXPECT_EQ(cap.wait_before(24, 988, now), std::chrono::steady_clock::duration::zero());
  // A long pause, then two bursts: the second still waits its time.
  now += 10s;
  EXPECT_EQ(cap.wait_before(24, 988, now), std::chrono::steady_clock::duration::zero());
  const auto wait = cap.wait_before(24, 988, now);
  EXPECT_NEAR(std::chrono::duration<double>(wait).count(), 24 * 1030 * 8 / 1e8, 1e-9);
}

// The receiver starts emptying its socket before its sender would stop.
static_assert(!pace::receiver_behind({300, 1000}) && pace::receiver_filling({300, 1000}));

}  // namespace
