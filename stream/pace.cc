#include "stream/pace.h"

#include <algorithm>

namespace pace {

void pacer::wait_for_room(std::uint64_t sent_bytes) {
  if (peer_ == nullptr) return;
  using clock = std::chrono::steady_clock;
  const auto budget = wait_budget(sent_bytes);
  clock::time_point started{};
  clock::time_point since{};  // since the receiver last took something
  std::uint32_t last = 0;
  for (;;) {
    const std::optional<socket_fill> fill = peer_->fill();
    if (!fill) break;  // closed, or replaced: the receiver has gone
    const auto now = peer_->now();
    if (started == clock::time_point{}) started = now;
    if (!receiver_behind(*fill)) {
      waited_ += now - started;
      return;
    }
    if (since == clock::time_point{} || fill->queued < last) since = now;
    last = fill->queued;
    if (now - since > stalled_after || waited_ + (now - started) > budget) break;
    peer_->pause(sender_pause);
  }
  peer_ = nullptr;
}

std::size_t rate_cap::burst(std::size_t datagram_size) const {
  const std::uint64_t burst_bits = bits_per_second_ * static_cast<std::uint64_t>(burst_time.count()) / 1'000'000;
  const std::uint64_t datagram_bits = 8 * std::uint64_t{datagram_size + wire_overhead};
  return static_cast<std::size_t>(std::max<std::uint64_t>(1, burst_bits / datagram_bits));
}

rate_cap::clock::duration rate_cap::wait_before(std::size_t count, std::size_t datagram_size, clock::time_point now) {
  const clock::time_point start = std::max(free_at_, now);
  const std::uint64_t bits = 8 * std::uint64_t{datagram_size + wire_overhead} * count;
  // In double: exact to far below a nanosecond for any burst, and no
  // product that could overflow.
  const auto on_link = std::chrono::nanoseconds(
      static_cast<std::int64_t>(static_cast<double>(bits) * 1e9 / static_cast<double>(bits_per_second_)));
  free_at_ = start + std::chrono::duration_cast<clock::duration>(on_link);
  return start - now;
}

}  // namespace pace
