#include "stream/pace.h"

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

}  // namespace pace
