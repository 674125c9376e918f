#include "common/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <linux/sock_diag.h>
#include <netinet/udp.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "common/udp.h"

namespace {

// Errors by which the kernel (or an emulator) says it does not offer a way
// of sending or receiving, as opposed to a send that failed.
bool refused(int error) {
  return error == EINVAL || error == ENOPROTOOPT || error == EOPNOTSUPP || error == ENOSYS || error == EIO ||
         error == EMSGSIZE;
}

// A UDP socket on 127.0.0.1 whose receives give up after a fifth of a
// second; -1 when there is none to be had (no loopback in this namespace).
int probe_socket(sockaddr_in& self) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  self = loopback_address(0);
  socklen_t len = sizeof self;
  timeval wait{};
  wait.tv_usec = 200000;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One sendmsg of payload to `to` as segments of segment bytes each.
bool send_segmented(int fd, std::span<const std::uint8_t> payload, std::uint16_t segment, const sockaddr_in& to) {
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
  iovec vector{const_cast<std::uint8_t*>(payload.data()), payload.size()};
  msghdr message{};
  message.msg_name = const_cast<sockaddr_in*>(&to);
  message.msg_namelen = sizeof to;
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_UDP;
  header->cmsg_type = UDP_SEGMENT;
  header->cmsg_len = CMSG_LEN(sizeof segment);
  std::memcpy(CMSG_DATA(header), &segment, sizeof segment);
  ssize_t sent;
  do {
    sent = sendmsg(fd, &message, 0);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0 && static_cast<std::size_t>(sent) == payload.size();
}

// The segment size in a received message's UDP_GRO note; 0 when it has none.
std::uint32_t coalesced_segment(msghdr& message) {
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_UDP || header->cmsg_type != UDP_GRO) continue;
    if (header->cmsg_len < CMSG_LEN(sizeof(int))) return 0;
    int segment = 0;
    std::memcpy(&segment, CMSG_DATA(header), sizeof segment);
    return segment > 0 ? static_cast<std::uint32_t>(segment) : 0;
  }
  return 0;
}

// Sends two segments to itself and checks that they arrive as the two
// datagrams they were (a translator of system calls may pass the option on
// wrongly rather than refuse it).
bool probe_segmentation(int fd, const sockaddr_in& self) {
  const std::uint8_t payload[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  if (!send_segmented(fd, payload, 8, self)) return false;
  for (int i = 0; i < 2; ++i) {
    std::uint8_t got[32] = {};
    const ssize_t n = recv(fd, got, sizeof got, 0);
    if (n != 8 || std::memcmp(got, payload + 8 * i, 8) != 0) return false;
  }
  return true;
}

// Sends three segments to a receiver with UDP_GRO on and checks that they
// come back as one piece with the right segment size.
bool probe_coalescing(int sender, int receiver, const sockaddr_in& to) {
  const int on = 1;
  if (setsockopt(receiver, SOL_UDP, UDP_GRO, &on, sizeof on) != 0) return false;
  const std::uint8_t payload[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  if (!send_segmented(sender, payload, 8, to)) return false;
  std::uint8_t got[64] = {};
  alignas(cmsghdr) std::uint8_t control[64] = {};
  iovec vector{got, sizeof got};
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(receiver, &message, 0);
  return n == 24 && std::memcmp(got, payload, 24) == 0 && coalesced_segment(message) == 8;
}

}  // namespace

batch_features probe_batch_features() {
  batch_features features;
  // sendmmsg and recvmmsg are tried for real at their first use instead.
  features.multi = true;
  sockaddr_in first_addr{};
  sockaddr_in second_addr{};
  const int first = probe_socket(first_addr);
  const int second = probe_socket(second_addr);
  if (first >= 0 && second >= 0) {
    features.segmentation = probe_segmentation(first, first_addr);
    features.coalescing = features.segmentation && probe_coalescing(first, second, second_addr);
  }
  if (first >= 0) close(first);
  if (second >= 0) close(second);
  return features;
}

std::size_t send_batch(int fd, batch_features& features, std::span<const std::uint8_t> area,
                       std::size_t datagram_size, std::size_t count, const sockaddr_in& to) {
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

// ---------------------------------------------------------------- receiving

namespace {

// Records of the held datagrams: three u32 each, in host order, never sent.
constexpr std::size_t record_size = 12;
// One record for each this many bytes of the area.
constexpr std::size_t bytes_per_record = 1024;
// Datagrams taken between two drains of the socket.
constexpr std::size_t drain_every = 16;
// How long a receiver that has caught up polls before it sleeps.
constexpr std::int64_t poll_microseconds = 500;
// The start of the area that a receiver which keeps up uses, made ready
// before the stream so that its first datagrams cost no page faults.
constexpr std::size_t ready_bytes = std::size_t{1} << 20;

// 64 bits wide: seconds times a million overflow a 32-bit long once the
// monotonic clock passes 36 minutes.
std::int64_t microseconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

stream_receiver::stream_receiver(int fd, std::span<std::uint8_t> area, std::size_t datagram_area,
                                 batch_features features)
    : fd_(fd), datagram_area_(datagram_area), features_(features) {
  const std::size_t records = area.size() / (bytes_per_record + record_size);
  data_ = area.first(area.size() - records * record_size);
  index_ = area.last(records * record_size);
  capacity_ = records;
  // A receiver that keeps up uses only the start of the area, which stays in
  // small pages so that it costs little memory; beyond it, huge pages spare
  // a receiver that has fallen behind a fault for every 4 KiB it touches.
  // Refused (a caller's area not on a page boundary, say) it changes nothing.
  constexpr std::size_t huge_page = std::size_t{2} * 1024 * 1024;
  if (data_.size() > 2 * huge_page) {
    (void)madvise(data_.data() + huge_page, (data_.size() - huge_page) / huge_page * huge_page, MADV_HUGEPAGE);
    (void)madvise(data_.data(), ready_bytes, MADV_POPULATE_WRITE);
  }
  const int on = 1;
  if (features_.coalescing && setsockopt(fd_, SOL_UDP, UDP_GRO, &on, sizeof on) != 0) features_.coalescing = false;
}

std::size_t stream_receiver::window() const {
  // A coalesced piece must fit whole: whatever did not fit would be lost.
  return features_.coalescing ? coalesced_window : datagram_area_;
}

std::size_t stream_receiver::messages_that_fit() {
  if (count_ == 0) {
    write_ = 0;
    wrapped_ = false;
    first_ = 0;
  }
  const std::size_t each = std::max<std::size_t>(window(), 1);
  const std::size_t most = features_.coalescing ? max_coalesced_messages : max_messages;
  std::size_t room;
  std::uint32_t oldest = 0;
  if (count_ > 0) std::memcpy(&oldest, &index_[first_ * record_size], sizeof oldest);
  if (wrapped_) {
    room = oldest - write_;
  } else {
    room = data_.size() - write_;
    // Back to the start as soon as a whole call fits there: a receiver that
    // keeps up then touches only the first pages of the area, however long
    // the stream.
    if (count_ > 0 && (oldest >= most * each || (room < each && oldest >= each))) {
      write_ = 0;
      wrapped_ = true;
      room = oldest;
    }
  }
  return std::min({room / each, capacity_ - count_, most});
}

void stream_receiver::push(std::uint32_t offset, std::uint32_t length, std::uint32_t segment) {
  const std::size_t at = (first_ + count_) % capacity_ * record_size;
  std::memcpy(&index_[at], &offset, 4);
  std::memcpy(&index_[at + 4], &length, 4);
  std::memcpy(&index_[at + 8], &segment, 4);
  ++count_;
}

void stream_receiver::pop() {
  std::uint32_t left;
  std::memcpy(&left, &index_[first_ * record_size], sizeof left);
  first_ = (first_ + 1) % capacity_;
  --count_;
  if (count_ == 0) return;
  std::uint32_t next;
  std::memcpy(&next, &index_[first_ * record_size], sizeof next);
  // The oldest datagram now lies where the writing went round to.
  if (next < left) wrapped_ = false;
}

int stream_receiver::receive(std::size_t messages, int flags) {
  const std::size_t each = window();
  const bool coalescing = features_.coalescing;
  for (std::size_t i = 0; i < messages; ++i) {
    vectors_[i] = {data_.data() + write_ + i * each, each};
    messages_[i] = {};
    messages_[i].msg_hdr.msg_iov = &vectors_[i];
    messages_[i].msg_hdr.msg_iovlen = 1;
    if (coalescing) {
      messages_[i].msg_hdr.msg_control = control_[i];
      messages_[i].msg_hdr.msg_controllen = sizeof control_[i];
    }
  }
  int got;
  for (;;) {
    if (features_.multi) {
      got = recvmmsg(fd_, messages_, static_cast<unsigned>(messages), flags | MSG_WAITFORONE, nullptr);
      if (got < 0 && (errno == ENOSYS || errno == EINVAL)) {
        features_.multi = false;
        continue;
      }
    } else {
      const ssize_t n = recvmsg(fd_, &messages_[0].msg_hdr, flags);
      if (n >= 0) messages_[0].msg_len = static_cast<unsigned>(n);
      got = n < 0 ? -1 : 1;
    }
    if (got >= 0 || errno != EINTR) break;
  }
  if (got <= 0) return got;
  std::size_t end = write_;
  for (int i = 0; i < got; ++i) {
    const std::size_t length = messages_[i].msg_len;
    std::size_t at = write_ + static_cast<std::size_t>(i) * each;
    std::uint32_t segment = coalescing ? coalesced_segment(messages_[i].msg_hdr) : 0;
    if (segment == 0) segment = static_cast<std::uint32_t>(length);
    // A small datagram moves down next to the one before, so that the gaps
    // a coalescing window leaves do not eat up the area.
    if (at > end && length <= 4096) {
      std::memmove(data_.data() + end, data_.data() + at, length);
      at = end;
    }
    push(static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length), segment);
    end = at + length;
  }
  write_ = end;
  return got;
}

bool stream_receiver::receive_queued() {
  const std::size_t fit = messages_that_fit();
  if (fit == 0 || failed_) return false;
  const int got = receive(fit, MSG_DONTWAIT);
  if (got < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) failed_ = true;
    return false;
  }
  // Fewer than asked for: the queue is empty.
  return static_cast<std::size_t>(got) == fit;
}

void stream_receiver::drain() {
  while (receive_queued()) {
  }
}

void stream_receiver::keep_up() {
  if (socket_filling()) drain();
}

stream_receiver::held stream_receiver::record(std::size_t which) const {
  const std::size_t at = which * record_size;
  held r{};
  std::memcpy(&r.offset, &index_[at], 4);
  std::memcpy(&r.length, &index_[at + 4], 4);
  std::memcpy(&r.segment, &index_[at + 8], 4);
  return r;
}

void stream_receiver::consume(std::size_t size) {
  held front = record(first_);
  if (size >= front.length) {
    pop();
    return;
  }
  front.offset += static_cast<std::uint32_t>(size);
  front.length -= static_cast<std::uint32_t>(size);
  std::memcpy(&index_[first_ * record_size], &front.offset, 4);
  std::memcpy(&index_[first_ * record_size + 4], &front.length, 4);
}

// Bytes of the oldest datagram held.
static std::size_t first_size(std::uint32_t length, std::uint32_t segment) { return std::min(length, segment); }

bool stream_receiver::holding() const {
  if (count_ == 0) return false;
  if (!viewed_ || count_ > 1) return true;
  const held front = record(first_);
  return front.length > first_size(front.length, front.segment);
}

void stream_receiver::release_view(std::span<std::uint8_t> buffer) {
  viewed_ = false;
  const held front = record(first_);
  const std::size_t size = first_size(front.length, front.segment);
  // The size of the datagram after it, when it is already here.
  std::size_t following = 0;
  bool known = true;
  if (front.length > size) {
    following = std::min<std::size_t>(front.segment, front.length - size);
  } else if (count_ > 1) {
    const held after = record((first_ + 1) % capacity_);
    following = first_size(after.length, after.segment);
  } else {
    known = false;
  }
  // A shorter datagram after it leaves its bytes in place past its own end,
  // so they must be in buffer before its area is given up.
  if (!known || following < buffer.size())
    std::memcpy(buffer.data(), data_.data() + front.offset, std::min(size, buffer.size()));
  consume(size);
}

bool stream_receiver::socket_filling() const {
  std::uint32_t memory[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof memory;
  // Without the figures, every queued datagram is moved at once.
  if (getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, memory, &len) != 0 || len < sizeof memory) return true;
  return std::uint64_t{memory[SK_MEMINFO_RMEM_ALLOC]} * 4 > memory[SK_MEMINFO_RCVBUF];
}

const std::uint8_t* stream_receiver::take(std::span<std::uint8_t> buffer, bool clear, bool view) {
  if (viewed_) release_view(buffer);
  // Every few datagrams the socket is looked at, and emptied into the area
  // once it is a quarter full. Before that the kernel keeps the datagrams
  // for free: memory the area has not used yet costs the receiver a page
  // fault and fresh pages, and a receiver that paid for them as fast as a
  // sender queues datagrams would only fall further behind.
  if (count_ > 0 && taken_since_drain_ >= drain_every) {
    if (socket_filling()) drain();
    taken_since_drain_ = 0;
  }
  if (count_ == 0) {
    if (failed_) return nullptr;
    // A receiver that has caught up polls a little before it sleeps: a
    // sleeper takes a while to get its CPU back, and a burst of datagrams
    // (the file right after the server's answer) fills a small socket buffer
    // sooner than that. It keeps its CPU while it polls, since one given
    // away on a busy machine can take a whole time slice to come back.
    const std::int64_t until = microseconds_now() + poll_microseconds;
    do (void)receive_queued();
    while (count_ == 0 && !failed_ && microseconds_now() < until);
    if (failed_) return nullptr;
    if (count_ == 0) {
      // About to sleep: whatever the program has printed reaches its reader.
      std::fflush(stdout);
      if (receive(messages_that_fit(), 0) <= 0) return nullptr;
    }
    taken_since_drain_ = 0;
  }
  ++taken_since_drain_;
  const held front = record(first_);
  const std::size_t size = first_size(front.length, front.segment);
  last_size_ = size;
  if (view && !clear && size >= buffer.size()) {
    // Left where it is until the next call, which is all a caller may keep
    // the view for.
    viewed_ = true;
    return data_.data() + front.offset;
  }
  const std::size_t copied = std::min(size, buffer.size());
  std::memcpy(buffer.data(), data_.data() + front.offset, copied);
  if (clear) std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(copied), buffer.end(), std::uint8_t{0});
  consume(size);
  return buffer.data();
}

bool stream_receiver::next(std::span<std::uint8_t> buffer, bool clear) {
  return take(buffer, clear, false) != nullptr;
}

const std::uint8_t* stream_receiver::next_view(std::span<std::uint8_t> buffer) { return take(buffer, false, true); }

mapped_area::mapped_area(std::size_t bytes, bool huge) {
  // A receiver that falls behind touches fresh memory at the rate the
  // datagrams come, and a fault for every 4 KiB page cost it more than the
  // datagrams themselves; a 2 MiB page faults 512 times less. The area
  // starts on a 2 MiB boundary so that such pages fit it; which parts use
  // them is its user's choice (madvise).
  constexpr std::size_t huge_page = std::size_t{2} * 1024 * 1024;
  const std::size_t reserved = huge ? bytes + huge_page : bytes;
  void* at = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (at == MAP_FAILED) return;
  mapping_ = {static_cast<std::uint8_t*>(at), reserved};
  std::uint8_t* start = mapping_.data();
  if (huge) {
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    start += (huge_page - address % huge_page) % huge_page;
  }
  bytes_ = {start, bytes};
}

mapped_area::~mapped_area() {
  if (!mapping_.empty()) munmap(mapping_.data(), mapping_.size());
}
