#ifndef STREAM_RECEIVE_H
#define STREAM_RECEIVE_H

// The receiving end of a stream with no flow control. It moves the queued
// datagrams out of the socket into a large area, every one of them whenever
// the socket is filling up (see pace.h), so that the socket's buffer only
// has to hold what arrives while the program does a few small pieces of
// work. The program takes the datagrams back one at a time, in arrival
// order, each as if it had been received alone into its receive buffer.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <sys/socket.h>
#include <sys/uio.h>

#include "stream/pace.h"

// The area a client drains a stream into: at most this much memory, of which
// only what a lagging program needs is ever touched.
inline constexpr std::size_t stream_area_size = std::size_t{64} * 1024 * 1024;

// How a receive ended.
enum class receive_status {
  ok,
  timed_out,  // nothing came within the socket's receive wait
  failed,     // the socket reported an error
};

// What the ring needs of its socket: the seam between the ring's decisions
// and the kernel, which tests replace.
class datagram_source {
 public:
  struct result {
    std::size_t count = 0;
    receive_status status = receive_status::ok;
  };
  virtual ~datagram_source() = default;
  // Receives up to messages.size() datagrams as recvmmsg does: into each
  // message's one vector, setting msg_len and, for a coalesced piece, its
  // control note. With wait it waits for the first as long as the socket's
  // receive wait allows; without, a count of 0 says none was queued.
  virtual result receive(std::span<mmsghdr> messages, bool wait) = 0;
  // The socket's fill, where the kernel tells it.
  virtual std::optional<pace::socket_fill> fill() = 0;
  virtual std::chrono::steady_clock::time_point now() = 0;
  // Whether pieces of several datagrams come coalesced (UDP_GRO).
  virtual bool coalescing() const = 0;
};

// What becomes of the bytes of a receive buffer past a shorter datagram.
enum class leftover {
  zeroed,  // as if the buffer had been cleared before the receive
  kept,    // those of the datagram before stay
};

class stream_receiver {
 public:
  // datagram_area: the program's receive buffer size; a longer datagram is
  // cut to it. area: memory for queued datagrams, touched only as far as it
  // is needed.
  stream_receiver(datagram_source& source, std::span<std::uint8_t> area, std::size_t datagram_area);

  // Moves every queued datagram into the area, without waiting. A failed
  // receive is kept and reported once the datagrams before it are taken.
  void drain();

  // Moves the queued datagrams into the area when the socket is filling up,
  // and only then: what waits in the socket costs nothing, while what moves
  // into the area may cost fresh pages.
  void drain_if_filling();

  // Copies the next datagram into buffer, cut to its size. Waits for one,
  // as long as the socket's receive wait allows, when none is held.
  receive_status next(std::span<std::uint8_t> buffer, leftover rest);

  // As next(buffer, leftover::kept), pointing at where the buffer-size
  // bytes now are: a datagram at least as long as buffer is not copied but
  // read where it lies in the area, until the next call to next_view or
  // next, and buffer is brought up to date only when a later datagram needs
  // it.
  receive_status next_view(std::span<std::uint8_t> buffer, const std::uint8_t*& at);

  // The datagrams held and not taken yet, in the order next gives them:
  // where each lies in the area, cut to the receive buffer as next cuts it.
  // Fills at most out.size() and returns how many; each stays where it is
  // until it is taken. Lets a caller work on a run of datagrams at once.
  std::size_t peek(std::span<std::span<const std::uint8_t>> out) const;

  // Datagrams held that have not been taken yet.
  bool holding() const;
  // No room for another receive until some datagrams are taken.
  bool area_full() const;
  // The size of the datagram taken last, before any cut.
  std::size_t last_size() const { return last_size_; }

  stream_receiver(const stream_receiver&) = delete;
  stream_receiver& operator=(const stream_receiver&) = delete;

 private:
  struct held {
    std::uint32_t offset;   // first byte in the data area
    std::uint32_t length;   // bytes left, every segment together
    std::uint32_t segment;  // bytes of each datagram in it but the last
  };
  // Where the next receive lands and how many datagrams it may take.
  struct room {
    std::size_t write = 0;
    bool wrapped = false;
    std::size_t messages = 0;
  };
  static constexpr std::size_t max_messages = 64;
  static constexpr std::size_t max_coalesced_messages = 8;
  static constexpr std::size_t coalesced_window = 65536;

  bool socket_filling();
  bool receive_queued();
  held record(std::size_t which) const;
  void consume(std::size_t size);
  void release_view(std::span<std::uint8_t> buffer);
  const std::uint8_t* take(std::span<std::uint8_t> buffer, leftover rest, bool view);
  std::size_t window() const;
  room room_now() const;
  std::size_t messages_that_fit();
  std::size_t receive(std::size_t messages, bool wait);
  void push(std::uint32_t offset, std::uint32_t length, std::uint32_t segment);
  void pop();

  datagram_source& source_;
  std::span<std::uint8_t> data_;
  std::span<std::uint8_t> index_;  // the held records, memcpy'd in and out
  std::size_t capacity_;           // records index_ holds
  std::size_t datagram_area_;
  bool coalescing_;
  std::size_t first_ = 0;  // index of the oldest record
  std::size_t count_ = 0;
  std::size_t write_ = 0;  // where the next receive lands in data_
  bool wrapped_ = false;   // write_ has gone round and lies before the oldest
  receive_status failure_ = receive_status::ok;
  bool viewed_ = false;  // the oldest datagram is out as a view
  std::size_t last_size_ = 0;
  std::size_t taken_since_drain_ = 0;
  mmsghdr messages_[max_messages];
  iovec vectors_[max_messages];
  alignas(cmsghdr) std::uint8_t control_[max_messages][64];
};

#endif
