// The ring's decisions, against a socket the test plays: no kernel, no
// sleeps.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "stream/receive.h"
#include "stream/test_source.h"

namespace {

// Datagram i of a test stream: its size, and bytes that name it.
std::size_t size_of(std::size_t i) { return 1 + (i * 37) % 120; }
std::uint8_t byte_of(std::size_t i, std::size_t at) { return static_cast<std::uint8_t>(i * 7 + at + 1); }

std::vector<std::uint8_t> datagram(std::size_t i) {
  std::vector<std::uint8_t> bytes(size_of(i));
  for (std::size_t at = 0; at < bytes.size(); ++at) bytes[at] = byte_of(i, at);
  return bytes;
}

enum class taking { zeroed, kept, view };

struct OrderRow {
  const char* name;
  std::size_t area;  // bytes of the ring's area
  taking how;
  std::size_t burst;  // datagrams queued before each take
};

TEST(Ring, HandsOutEveryDatagramInOrderAsIfReceivedAlone) {
  constexpr std::size_t buffer_size = 100;  // datagrams of up to 120 bytes are cut
  const OrderRow rows[] = {
      {"large area, cleared", std::size_t{1} << 20, taking::zeroed, 40},
      {"large area, kept", std::size_t{1} << 20, taking::kept, 40},
      {"large area, in place", std::size_t{1} << 20, taking::view, 40},
      // A few datagrams' room: the ring fills, stops and goes round.
      {"small area, cleared", 8 * (1024 + 12), taking::zeroed, 20},
      {"small area, in place", 8 * (1024 + 12), taking::view, 20},
      {"one at a time", 8 * (1024 + 12), taking::kept, 1},
  };
  for (const OrderRow& row : rows) {
    test_source source;
    std::vector<std::uint8_t> area(row.area);
    stream_receiver stream(source, area, buffer_size);
    std::array<std::uint8_t, buffer_size> buffer{};
    std::array<std::uint8_t, buffer_size> model{};
    std::size_t queued = 0;
    for (std::size_t i = 0; i < 500; ++i) {
      while (queued < i + row.burst) source.queued.push_back(datagram(queued++));
      stream.drain();
      const std::uint8_t* got = buffer.data();
      const receive_status status =
          row.how == taking::view ? stream.next_view(buffer, got)
                                  : stream.next(buffer, row.how == taking::zeroed ? leftover::zeroed : leftover::kept);
      ASSERT_EQ(status, receive_status::ok) << row.name << ", datagram " << i;
      // What one receive into the same buffer would leave there.
      if (row.how == taking::zeroed) model.fill(0);
      for (std::size_t at = 0; at < std::min(size_of(i), buffer_size); ++at) model[at] = byte_of(i, at);
      ASSERT_TRUE(std::equal(model.begin(), model.end(), got)) << row.name << ", datagram " << i;
      ASSERT_EQ(stream.last_size(), std::min(size_of(i), buffer_size)) << row.name << ", datagram " << i;
      // Those held after it are the ones that come next, cut alike.
      std::array<std::span<const std::uint8_t>, 8> ahead;
      const std::size_t held = stream.peek(ahead);
      ASSERT_LE(held, queued - i - 1) << row.name << ", datagram " << i;
      for (std::size_t k = 0; k < held; ++k) {
        const std::vector<std::uint8_t> expected = datagram(i + 1 + k);
        ASSERT_TRUE(std::equal(ahead[k].begin(), ahead[k].end(), expected.begin(),
                               expected.begin() + static_cast<std::ptrdiff_t>(std::min(expected.size(), buffer_size))))
            << row.name << ", datagram " << i << " + " << k + 1;
      }
    }
  }
}

struct FillRow {
  const char* name;
  std::optional<pace::socket_fill> figures;
  bool moves;  // whether the queued datagrams move into the area
};

TEST(Ring, MovesDatagramsIntoTheAreaOnlyWhileTheSocketFillsUp) {
  const FillRow rows[] = {
      {"nearly empty", pace::socket_fill{1000, 10000}, false},
      {"a quarter", pace::socket_fill{2500, 10000}, false},
      {"past a quarter", pace::socket_fill{2501, 10000}, true},
      {"full", pace::socket_fill{10000, 10000}, true},
      // Without the figures every queued datagram is moved at once.
      {"no figures", std::nullopt, true},
  };
  for (const FillRow& row : rows) {
    test_source source;
    source.figures = row.figures;
    std::vector<std::uint8_t> area(std::size_t{1} << 20);
    stream_receiver stream(source, area, 100);
    for (std::size_t i = 0; i < 3; ++i) source.queued.push_back(datagram(i));
    stream.drain_if_filling();
    EXPECT_EQ(stream.holding(), row.moves) << row.name;
    EXPECT_EQ(source.queued.empty(), row.moves) << row.name;
  }
}

TEST(Ring, LooksAtTheSocketEveryFewDatagramsWhileItHoldsSome) {
  test_source source;
  source.figures = pace::socket_fill{9000, 10000};
  std::vector<std::uint8_t> area(std::size_t{1} << 20);
  stream_receiver stream(source, area, 100);
  std::array<std::uint8_t, 100> buffer{};
  for (std::size_t i = 0; i < 4 * pace::drain_every; ++i) source.queued.push_back(datagram(i));
  stream.drain();
  // Datagrams that come meanwhile wait in the socket until the next look.
  for (std::size_t i = 0; i < 5; ++i) source.queued.push_back(datagram(1000 + i));
  for (std::size_t i = 0; i < pace::drain_every; ++i)
    ASSERT_EQ(stream.next(buffer, leftover::kept), receive_status::ok);
  EXPECT_EQ(source.queued.size(), 5u);
  ASSERT_EQ(stream.next(buffer, leftover::kept), receive_status::ok);
  EXPECT_TRUE(source.queued.empty());
}

struct EndRow {
  const char* name;
  receive_status when_empty;
  receive_status poll_on_empty;
  receive_status ends_with;
};

TEST(Ring, EndsWithWhatTheSocketSaidOnlyAfterTheDatagramsItHolds) {
  const EndRow rows[] = {
      {"silent peer", receive_status::timed_out, receive_status::ok, receive_status::timed_out},
      {"socket error while waiting", receive_status::failed, receive_status::ok, receive_status::failed},
      {"socket error while draining", receive_status::timed_out, receive_status::failed, receive_status::failed},
  };
  for (const EndRow& row : rows) {
    test_source source;
    source.when_empty = row.when_empty;
    source.poll_on_empty = row.poll_on_empty;
    std::vector<std::uint8_t> area(std::size_t{1} << 20);
    stream_receiver stream(source, area, 100);
    for (std::size_t i = 0; i < 3; ++i) source.queued.push_back(datagram(i));
    stream.drain();
    std::array<std::uint8_t, 100> buffer{};
    for (std::size_t i = 0; i < 3; ++i)
      ASSERT_EQ(stream.next(buffer, leftover::zeroed), receive_status::ok) << row.name << ", datagram " << i;
    EXPECT_EQ(stream.next(buffer, leftover::zeroed), row.ends_with) << row.name;
    // And so it stays.
    EXPECT_EQ(stream.next(buffer, leftover::zeroed), row.ends_with) << row.name;
  }
}

TEST(Ring, PollsForAWhileBeforeItWaits) {
  test_source source;
  std::vector<std::uint8_t> area(std::size_t{1} << 20);
  stream_receiver stream(source, area, 100);
  std::array<std::uint8_t, 100> buffer{};
  const auto start = source.clock;
  EXPECT_EQ(stream.next(buffer, leftover::zeroed), receive_status::timed_out);
  EXPECT_EQ(source.waits, 1u);
  EXPECT_GT(source.polls, 1u);
  EXPECT_GE(source.clock - start, pace::poll_before_sleep);
  EXPECT_LT(source.clock - start, 2 * pace::poll_before_sleep);
}

}  // namespace
