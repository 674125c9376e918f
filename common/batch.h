#ifndef COMMON_BATCH_H
#define COMMON_BATCH_H

// Datagram streams moved many datagrams per system call. Nothing on the wire
// differs from one call per datagram: every datagram keeps its size, its
// bytes and its place in the order. Each faster way is used only where the
// kernel takes it, and a refusal falls back to the plain calls in silence.

#include <cstddef>
#include <cstdint>
#include <span>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

// The ways this process may batch datagrams. A program probes them once and
// passes them on; a call that the kernel refuses later turns its way off.
struct batch_features {
  bool multi = false;         // sendmmsg and recvmmsg
  bool segmentation = false;  // UDP_SEGMENT: equal-size datagrams handed over in one piece
  bool coalescing = false;    // UDP_GRO: a receiver takes such a piece back whole
};

// Probes what the kernel offers between two sockets on 127.0.0.1: a way is
// on only if datagrams sent through it arrive exactly as sent.
batch_features probe_batch_features();

// The area a client drains a stream into: at most this much memory, of which
// only what a lagging program needs is ever touched.
inline constexpr std::size_t stream_area_size = std::size_t{64} * 1024 * 1024;

// The most datagrams that send_batch takes in one call.
inline constexpr std::size_t max_batch = 64;

// Sends count datagrams of datagram_size bytes, laid end to end in area, to
// `to`, in order. Returns how many went out, counted from the first; fewer
// than count only when a send failed.
std::size_t send_batch(int fd, batch_features& features, std::span<const std::uint8_t> area,
                       std::size_t datagram_size, std::size_t count, const sockaddr_in& to);

// The receiving end of a stream with no flow control. It moves the queued
// datagrams out of the socket into a large area, every one of them whenever
// the socket is a quarter full, so that the socket's buffer only has to hold
// what arrives while the program does a few small pieces of work. The program takes the
// datagrams back one at a time, in arrival order, each as if it had been
// received alone into the program's receive buffer.
class stream_receiver {
 public:
  // datagram_area: the program's receive buffer size; a longer datagram is
  // cut to it. area: memory for queued datagrams, touched only as far as it
  // is needed. Turns on UDP_GRO on fd when features allow it.
  stream_receiver(int fd, std::span<std::uint8_t> area, std::size_t datagram_area, batch_features features);

  // Moves every queued datagram into the area, without waiting. A failed
  // receive is kept and reported once the datagrams before it are taken.
  void drain();

  // Copies the next datagram into buffer, cut to its size; the rest of
  // buffer is zeroed when clear is set and left as it was otherwise. Waits
  // for one, as long as the socket's receive wait allows, when none is held.
  // False when the receive failed or timed out.
  bool next(std::span<std::uint8_t> buffer, bool clear);

  // As next(buffer, false), returning where the buffer-size bytes now are: a
  // datagram at least as long as buffer is not copied but read where it
  // lies in the area, until the next call to next_view or next, and buffer
  // is then brought up to date only when a later datagram needs it. Null
  // when the receive failed or timed out.
  const std::uint8_t* next_view(std::span<std::uint8_t> buffer);

  // Moves the queued datagrams into the area when the socket is filling up,
  // and only then: what waits in the socket costs nothing, while what moves
  // into the area may cost fresh pages.
  void keep_up();

  // Datagrams held that have not been taken yet.
  bool holding() const;

  // The size of the datagram taken last, before any cut.
  std::size_t last_size() const { return last_size_; }
  // No room for another receive until some datagrams are taken.
  bool full() { return messages_that_fit() == 0; }
  int fd() const { return fd_; }

  stream_receiver(const stream_receiver&) = delete;
  stream_receiver& operator=(const stream_receiver&) = delete;

 private:
  struct held {
    std::uint32_t offset;   // first byte in the data area
    std::uint32_t length;   // bytes left, every segment together
    std::uint32_t segment;  // bytes of each datagram in it but the last
  };
  static constexpr std::size_t max_messages = 64;
  static constexpr std::size_t max_coalesced_messages = 8;
  static constexpr std::size_t coalesced_window = 65536;

  bool socket_filling() const;
  bool receive_queued();
  held record(std::size_t which) const;
  void consume(std::size_t size);
  void release_view(std::span<std::uint8_t> buffer);
  const std::uint8_t* take(std::span<std::uint8_t> buffer, bool clear, bool view);
  std::size_t window() const;
  std::size_t messages_that_fit();
  int receive(std::size_t messages, int flags);
  void push(std::uint32_t offset, std::uint32_t length, std::uint32_t segment);
  void pop();

  int fd_;
  std::span<std::uint8_t> data_;
  std::span<std::uint8_t> index_;  // the held records, memcpy'd in and out
  std::size_t capacity_;           // records index_ holds
  std::size_t datagram_area_;
  batch_features features_;
  std::size_t first_ = 0;  // index of the oldest record
  std::size_t count_ = 0;
  std::size_t write_ = 0;  // where the next receive lands in data_
  bool wrapped_ = false;   // write_ has gone round and lies before the oldest
  bool failed_ = false;
  bool viewed_ = false;  // the oldest datagram is out as a view
  std::size_t last_size_ = 0;
  std::size_t taken_since_drain_ = 0;
  mmsghdr messages_[max_messages];
  iovec vectors_[max_messages];
  alignas(cmsghdr) std::uint8_t control_[max_messages][64];
};

// Anonymous memory of a fixed size, reserved once and released at the end;
// the system supplies a page only when it is first touched. With huge set it
// starts on a 2 MiB boundary, so that parts of it can take huge pages.
class mapped_area {
 public:
  explicit mapped_area(std::size_t bytes, bool huge = false);
  ~mapped_area();
  // Empty when the memory could not be reserved.
  std::span<std::uint8_t> bytes() const { return bytes_; }
  mapped_area(const mapped_area&) = delete;
  mapped_area& operator=(const mapped_area&) = delete;

 private:
  std::span<std::uint8_t> mapping_;
  std::span<std::uint8_t> bytes_;
};

#endif
