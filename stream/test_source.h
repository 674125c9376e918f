#ifndef STREAM_TEST_SOURCE_H
#define STREAM_TEST_SOURCE_H

// A socket for the ring's tests: datagrams queued by the test, figures and
// endings it chooses, and a clock that moves only when read.

#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include "stream/receive.h"

class test_source final : public datagram_source {
 public:
  std::deque<std::vector<std::uint8_t>> queued;  // waiting in the "socket"
  std::optional<pace::socket_fill> figures;      // what fill() tells
  // What a wait on an empty socket ends with, and what a look without
  // waiting at an empty one does.
  receive_status when_empty = receive_status::timed_out;
  receive_status poll_on_empty = receive_status::ok;
  std::size_t polls = 0;
  std::size_t waits = 0;
  std::chrono::steady_clock::time_point clock = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);

  result receive(std::span<mmsghdr> messages, bool wait) override {
    ++(wait ? waits : polls);
    if (queued.empty()) return {0, wait ? when_empty : poll_on_empty};
    std::size_t n = 0;
    for (; n < messages.size() && !queued.empty(); ++n) {
      const std::vector<std::uint8_t>& datagram = queued.front();
      const iovec& vector = messages[n].msg_hdr.msg_iov[0];
      const std::size_t copied = std::min(datagram.size(), vector.iov_len);
      std::memcpy(vector.iov_base, datagram.data(), copied);
      messages[n].msg_len = static_cast<unsigned>(copied);
      messages[n].msg_hdr.msg_controllen = 0;
      queued.pop_front();
    }
    return {n, receive_status::ok};
  }
  std::optional<pace::socket_fill> fill() override { return figures; }
  std::chrono::steady_clock::time_point now() override { return clock += std::chrono::microseconds(10); }
  bool coalescing() const override { return false; }
};

#endif
