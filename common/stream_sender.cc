#include "common/stream_sender.h"

#include <sched.h>

namespace {

// A sender gives up its CPU after this many batches (about 256 KB), less
// than a receive buffer of the system's default size holds: a client that
// shares the CPU, where the kernel answers no questions about its socket,
// then drains it in time. Almost free while nothing else waits for the CPU.
constexpr std::size_t yield_every = 4;

}  // namespace

stream_sender::stream_sender(int fd, const batch_features& probed, const sockaddr_in& peer)
    : fd_(fd), peer_(peer), receiver_(fd, peer), features_(probed) {
  features_.coalescing = false;
  features_.segmentation = probed.segmentation && receiver_.found();
}

std::size_t stream_sender::send(std::span<const std::uint8_t> area, std::size_t datagram_size, std::size_t count) {
  const std::size_t sent = send_batch(fd_, features_, area, datagram_size, count, peer_);
  if (++batches_ % yield_every == 0) sched_yield();
  receiver_.wait_for_room();
  return sent;
}
