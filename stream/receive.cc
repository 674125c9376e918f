#include "stream/receive.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>

#include "stream/segments.h"

namespace {

// Records of the held datagrams: three u32 each, in host order, never sent.
constexpr std::size_t record_size = 12;
// One record for each this many bytes of the area.
constexpr std::size_t bytes_per_record = 1024;
// The start of the area that a receiver which keeps up uses, made ready
// before the stream so that its first datagrams cost no page faults.
constexpr std::size_t ready_bytes = std::size_t{1} << 20;

}  // namespace

stream_receiver::stream_receiver(datagram_source& source, std::span<std::uint8_t> area, std::size_t datagram_area)
    : source_(source), datagram_area_(datagram_area), coalescing_(source.coalescing()) {
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
}

std::size_t stream_receiver::window() const {
  // A coalesced piece must fit whole: whatever did not fit would be lost.
  return coalescing_ ? coalesced_window : datagram_area_;
}

stream_receiver::room stream_receiver::room_now() const {
  room r{count_ == 0 ? 0 : write_, count_ == 0 ? false : wrapped_, 0};
  const std::size_t each = std::max<std::size_t>(window(), 1);
  const std::size_t most = coalescing_ ? max_coalesced_messages : max_messages;
  std::size_t space;
  std::uint32_t oldest = 0;
  if (count_ > 0) std::memcpy(&oldest, &index_[first_ * record_size], sizeof oldest);
  if (r.wrapped) {
    space = oldest - r.write;
  } else {
    space = data_.size() - r.write;
    // Back to the start as soon as a whole call fits there: a receiver that
    // keeps up then touches only the first pages of the area, however long
    // the stream.
    if (count_ > 0 && (oldest >= most * each || (space < each && oldest >= each))) {
      r.write = 0;
      r.wrapped = true;
      space = oldest;
    }
  }
  r.messages = std::min({space / each, capacity_ - count_, most});
  return r;
}

std::size_t stream_receiver::messages_that_fit() {
  const room r = room_now();
  if (count_ == 0) first_ = 0;
  write_ = r.write;
  wrapped_ = r.wrapped;
  return r.messages;
}

bool stream_receiver::area_full() const { return room_now().messages == 0; }

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

std::size_t stream_receiver::receive(std::size_t messages, bool wait) {
  const std::size_t each = window();
  for (std::size_t i = 0; i < messages; ++i) {
    vectors_[i] = {data_.data() + write_ + i * each, each};
    messages_[i] = {};
    messages_[i].msg_hdr.msg_iov = &vectors_[i];
    messages_[i].msg_hdr.msg_iovlen = 1;
    if (coalescing_) {
      messages_[i].msg_hdr.msg_control = control_[i];
      messages_[i].msg_hdr.msg_controllen = sizeof control_[i];
    }
  }
  const datagram_source::result got_now = source_.receive(std::span(messages_, messages), wait);
  if (got_now.status != receive_status::ok) {
    failure_ = got_now.status;
    return 0;
  }
  const std::size_t got = std::min(got_now.count, messages);
  std::size_t end = write_;
  for (std::size_t i = 0; i < got; ++i) {
    // A source never reports more than the vector held.
    const std::size_t length = std::min<std::size_t>(messages_[i].msg_len, each);
    std::size_t at = write_ + i * each;
    std::uint32_t segment = coalescing_ ? coalesced_segment(messages_[i].msg_hdr) : 0;
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
  if (failure_ != receive_status::ok) return false;
  const std::size_t fit = messages_that_fit();
  if (fit == 0) return false;
  // Fewer than asked for: the queue is empty.
  return receive(fit, false) == fit;
}

void stream_receiver::drain() {
  while (receive_queued()) {
  }
}

void stream_receiver::drain_if_filling() {
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

std::size_t stream_receiver::peek(std::span<std::span<const std::uint8_t>> out) const {
  std::size_t filled = 0;
  // A datagram out as a view has been taken.
  bool skip = viewed_;
  for (std::size_t i = 0; i < count_ && filled < out.size(); ++i) {
    const held r = record((first_ + i) % capacity_);
    // As take gives them: an empty datagram too, and a coalesced piece
    // segment by segment.
    std::uint32_t at = 0;
    do {
      const std::uint32_t size = r.segment == 0 ? r.length - at : std::min(r.length - at, r.segment);
      if (!skip) out[filled++] = data_.subspan(r.offset + at, std::min<std::size_t>(size, datagram_area_));
      skip = false;
      at += size;
    } while (at < r.length && filled < out.size());
  }
  return filled;
}

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

bool stream_receiver::socket_filling() {
  const std::optional<pace::socket_fill> fill = source_.fill();
  // Without the figures, every queued datagram is moved at once.
  return !fill || pace::receiver_filling(*fill);
}

const std::uint8_t* stream_receiver::take(std::span<std::uint8_t> buffer, leftover rest, bool view) {
  if (viewed_) release_view(buffer);
  // Every few datagrams the socket is looked at, and emptied into the area
  // once it is filling up. Before that the kernel keeps the datagrams for
  // free: memory the area has not used yet costs the receiver a page fault
  // and fresh pages, and a receiver that paid for them as fast as a sender
  // queues datagrams would only fall further behind.
  if (count_ > 0 && taken_since_drain_ >= pace::drain_every) {
    drain_if_filling();
    taken_since_drain_ = 0;
  }
  if (count_ == 0) {
    if (failure_ != receive_status::ok) return nullptr;
    // A receiver that has caught up polls a little before it sleeps. It
    // keeps its CPU while it polls, since one given away on a busy machine
    // can take a whole time slice to come back.
    const auto until = source_.now() + pace::poll_before_sleep;
    do (void)receive_queued();
    while (count_ == 0 && failure_ == receive_status::ok && source_.now() < until);
    if (count_ == 0 && failure_ == receive_status::ok) (void)receive(messages_that_fit(), true);
    if (count_ == 0) {
      if (failure_ == receive_status::ok) failure_ = receive_status::failed;
      return nullptr;
    }
    taken_since_drain_ = 0;
  }
  ++taken_since_drain_;
  const held front = record(first_);
  const std::size_t size = first_size(front.length, front.segment);
  last_size_ = size;
  if (view && size >= buffer.size()) {
    // Left where it is until the next call, which is all a caller may keep
    // the view for.
    viewed_ = true;
    return data_.data() + front.offset;
  }
  const std::size_t copied = std::min(size, buffer.size());
  std::memcpy(buffer.data(), data_.data() + front.offset, copied);
  if (rest == leftover::zeroed)
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(copied), buffer.end(), std::uint8_t{0});
  consume(size);
  return buffer.data();
}

receive_status stream_receiver::next(std::span<std::uint8_t> buffer, leftover rest) {
  return take(buffer, rest, false) != nullptr ? receive_status::ok : failure_;
}

receive_status stream_receiver::next_view(std::span<std::uint8_t> buffer, const std::uint8_t*& at) {
  at = take(buffer, leftover::kept, true);
  return at != nullptr ? receive_status::ok : failure_;
}
