#include "stream/send.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include <sched.h>
#include <time.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <linux/sock_diag.h>

#include "common/udp.h"
#include "stream/segments.h"

namespace {

// The bytes this socket has sent that still wait in this host, in the
// kernel's own count; as many as can be when the kernel does not say.
std::uint64_t waiting_in_host(int fd) {
  std::uint32_t memory[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof memory;
  if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory, &len) != 0 || len < sizeof memory) return UINT64_MAX;
  return memory[SK_MEMINFO_WMEM_ALLOC];
}

}  // namespace

std::size_t send_batch(int fd, batch_features& features, std::span<const std::uint8_t> area, std::size_t datagram_size,
                       std::size_t count, const sockaddr_in& to) {
  count = std::min({count, max_batch, datagram_size == 0 ? count : area.size() / datagram_size});
  if (count == 0) return 0;
  if (features.segmentation && count > 1 && datagram_size > 0 && count * datagram_size <= 65507) {
    if (send_segmented(fd, area.first(count * datagram_size), static_cast<std::uint16_t>(datagram_size), to))
      return count;
    // A refusal sends nothing, so the whole batch goes again below.
    if (!refused(errno)) return 0;
    features.segmentation = false;
  }
  std::size_t sent = 0;
  if (features.multi) {
    mmsghdr messages[max_batch] = {};
    iovec vectors[max_batch];
    for (std::size_t i = 0; i < count; ++i) {
      vectors[i] = {const_cast<std::uint8_t*>(area.data() + i * datagram_size), datagram_size};
      messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
      messages[i].msg_hdr.msg_namelen = sizeof to;
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    // sendmmsg may stop early; it goes on from the first datagram not sent.
    while (sent < count) {
      const int n = sendmmsg(fd, messages + sent, static_cast<unsigned>(count - sent), 0);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == ENOSYS || errno == EINVAL) && sent == 0) {
        features.multi = false;
        break;
      }
      return sent;
    }
    if (features.multi) return sent;
  }
  for (; sent < count; ++sent)
    if (!send_datagram(fd, area.subspan(sent * datagram_size, datagram_size), to)) break;
  return sent;
}

stream_sender::stream_sender(int fd, const batch_features& probed, const sockaddr_in& peer,
                             const pace::settings& chosen)
    : fd_(fd), peer_(peer), gauge_(fd, peer), pacer_(gauge_.found() ? &gauge_ : nullptr), features_(probed) {
  features_.coalescing = false;
  features_.segmentation = probed.segmentation && (gauge_.found() || chosen.rate > 0);
  if (chosen.rate > 0) cap_.emplace(chosen.rate);
}

std::size_t stream_sender::send(std::span<const std::uint8_t> area, std::size_t datagram_size, std::size_t count) {
  std::size_t sent = 0;
  if (!cap_) {
    sent = send_batch(fd_, features_, area, datagram_size, count, peer_);
  } else {
    const std::size_t burst = cap_->burst(datagram_size);
    while (sent < count) {
      const std::size_t n = std::min(burst, count - sent);
      const auto wait = cap_->wait_before(n, datagram_size, pace::rate_cap::clock::now());
      if (wait > pace::rate_cap::clock::duration::zero()) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec pause{seconds.count(), static_cast<long>(std::chrono::nanoseconds(wait - seconds).count())};
        nanosleep(&pause, nullptr);
      }
      if (features_.segmentation && !gauge_.found() && !pace::host_keeping_up(waiting_in_host(fd_), n * datagram_size))
        features_.segmentation = false;
      const std::size_t went = send_batch(fd_, features_, area.subspan(sent * datagram_size), datagram_size, n, peer_);
      sent += went;
      if (went < n) break;
    }
  }
  sent_bytes_ += sent * datagram_size;
  // Almost free while nothing else waits for the CPU.
  if (++batches_ % pace::yield_every == 0) sched_yield();
  pacer_.wait_for_room(sent_bytes_);
  return sent;
}

send_report send_file(stream_sender& sender, std::FILE* input, record_sealer& sealer, std::span<std::uint8_t> area,
                      std::size_t datagram_size) {
  send_report report;
  const std::size_t per_fill = datagram_size == 0 ? 0 : std::min(max_fill, area.size() / datagram_size);
  if (per_fill == 0) {
    report.status = send_status::send_failed;
    return report;
  }
  // File bytes of each record of the fill, counted once it has gone out.
  std::array<std::size_t, max_fill> got_of{};
  while (!std::feof(input)) {
    std::size_t built = 0;
    bool read_failed = false;
    while (built < per_fill && !std::feof(input)) {
      const auto datagram = area.subspan(built * datagram_size, datagram_size);
      const auto data = sealer.data_area(datagram);
      const std::size_t got = std::fread(data.data(), 1, data.size(), input);
      if (std::ferror(input)) {
        read_failed = true;
        break;
      }
      sealer.seal(datagram, got);
      got_of[built] = got;
      ++built;
    }
    sealer.seal_all(area, built);
    for (std::size_t first = 0; first < built;) {
      const std::size_t count = std::min(max_batch, built - first);
      const std::size_t sent = sender.send(area.subspan(first * datagram_size), datagram_size, count);
      sealer.sent(sent);
      report.records += sent;
      for (std::size_t i = first; i < first + sent; ++i) report.bytes += got_of[i];
      if (sent < count) {
        report.status = send_status::send_failed;
        return report;
      }
      first += count;
    }
    // A read error would never reach the end of the file; a file not read
    // whole gets no digest.
    if (read_failed) {
      report.status = send_status::read_failed;
      return report;
    }
  }
  return report;
}
