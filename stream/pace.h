#ifndef STREAM_PACE_H
#define STREAM_PACE_H

// How fast a stream moves, in one place. Neither protocol has flow control:
// a server sends its file as fast as its socket takes it, and a client must
// keep up or lose a datagram and end. Two ends work together here.
//
// The receiver keeps its socket's buffer from overflowing. What waits in the
// socket costs it nothing until it takes it, while moving datagrams into its
// own area costs fresh pages; so it takes them one by one and looks at the
// socket every `drain_every` datagrams, emptying it into the area only once
// it is more than a quarter full. A socket buffer of the system's default
// size (416 KiB) holds well under a millisecond of a stream, and the receiver
// must look again within that time even while it waits for its disk.
//
// The sender, when its receiver is on the same host, waits while the
// receiver's socket is more than half full. A sender to another host is held
// back by its interface's queue; within a host nothing holds it back, and the
// receiver's socket stands in for that queue. The two thresholds fit
// together: the receiver starts emptying its socket at a quarter, well before
// the sender stops at a half, so a receiver that keeps up never makes its
// sender wait, and one that is kept off the CPU for a moment finds the
// sender stopped short of the overflow.
//
// A sender may also be given a cap on its rate, for a path whose slowest
// link is slower than the sender's own interface: nothing else would hold
// it back, and the router before that link would drop what its queue cannot
// hold. Under a cap the datagrams leave in bursts of at most `burst_time`
// of the rate, each burst when the one before has had its time on the link,
// so a router's queue of a few milliseconds takes every burst whole. The
// same-host pacing still applies on top.
//
// Nobody may hold a sender for ever through this: a receiver that takes
// nothing for `stalled_after` is no longer waited for, and in one delivery
// the sender waits at most `wait_grace` plus one second for every
// `paced_bytes_per_second` it has sent. A receiver that averages more than
// that rate (any disk does) is always paced; one that takes a trickle gets
// the rest of the stream unpaced, as a receiver on another host would.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pace {

using namespace std::chrono_literals;

// ---- the receiver

// Datagrams taken between two looks at the socket.
inline constexpr std::size_t drain_every = 16;
// How long a receiver that has caught up polls before it sleeps: a sleeper
// takes a while to get its CPU back, and a burst of datagrams (the file
// right after the server's answer) fills a small buffer sooner than that.
inline constexpr std::chrono::microseconds poll_before_sleep = 500us;
// While the disk is behind, the receiver waits for it this long at a time,
// then looks at its socket; far longer once its area is full, when it can
// take nothing from the socket anyway.
inline constexpr std::chrono::microseconds disk_wait = 200us;
inline constexpr std::chrono::microseconds disk_wait_area_full = 100ms;

// ---- the sender

// A sender gives up its CPU after this many batches (about 256 KB), less
// than a receive buffer of the system's default size holds: a receiver that
// shares the CPU, where the kernel answers no questions about its socket,
// then drains it in time.
inline constexpr std::size_t yield_every = 4;
// How long a waiting sender pauses before it looks again.
inline constexpr std::chrono::microseconds sender_pause = 50us;
// The most a sender lets wait in its receiver's socket, however large:
// enough to keep a receiver busy while its sender reads a large file once
// more for its digest, not so much that the receiver pays for a large
// backlog in fresh pages.
inline constexpr std::uint32_t most_queued = 8 * 1024 * 1024;
// A receiver that takes nothing for this long is not waited for any more.
inline constexpr std::chrono::milliseconds stalled_after = 500ms;
// The budget of waiting in one delivery: this much, plus a second for every
// paced_bytes_per_second sent.
inline constexpr std::chrono::milliseconds wait_grace = 1000ms;
inline constexpr std::uint64_t paced_bytes_per_second = 32 * 1024 * 1024;

// ---- a cap on the send rate

// What a datagram weighs on the wire under a cap: its UDP payload plus the
// IPv4 and UDP headers and an Ethernet header, as a router's rate limit on
// an Ethernet link counts it.
inline constexpr std::size_t wire_overhead = 20 + 8 + 14;
// The longest a capped sender sends back to back.
inline constexpr std::chrono::microseconds burst_time = 2000us;

// A capped sender to another host hands its bursts to the kernel as
// segmented pieces. A receiver's socket counts a plain datagram of 1 KB
// against its buffer at 2,304 bytes, a piece it takes whole at little more
// than the piece's bytes; and a piece arrives whole where the path keeps it
// (between namespaces) or the receiving interface coalesces datagrams for a
// socket that asks for it (the clients do). A receiver with a small buffer
// may then be kept off the CPU twice as long. That holds only while the
// sender's own interface keeps up with the cap: an interface's queue holds
// plain sends back while it is full but drops the segments of a piece, so
// once more than a burst of what was sent earlier still waits in this host
// when the next burst is due, the rest of the stream goes as plain
// datagrams.
constexpr bool host_keeping_up(std::uint64_t waiting_in_host, std::uint64_t burst_bytes) {
  return waiting_in_host <= burst_bytes;
}

// Spaces a sender's bursts so that they average bits_per_second on the wire.
class rate_cap {
 public:
  using clock = std::chrono::steady_clock;
  explicit rate_cap(std::uint64_t bits_per_second) : bits_per_second_(bits_per_second) {}

  // How many datagrams of datagram_size (payload bytes) go out back to back
  // at most: a burst_time's worth, and at least one.
  std::size_t burst(std::size_t datagram_size) const;

  // How long to wait, from now, before count datagrams of datagram_size go
  // out; they are then counted as sent. A sender that was idle earns no
  // credit for it: a burst never comes faster than the rate allows.
  clock::duration wait_before(std::size_t count, std::size_t datagram_size, clock::time_point now);

 private:
  std::uint64_t bits_per_second_;
  clock::time_point free_at_{};  // when the link has carried everything sent
};

// What a program chooses of its streams' pacing.
struct settings {
  std::uint64_t rate = 0;  // a cap in bits per second on the wire; 0 for none
};

// A socket's fill as the kernel counts it: bytes queued and its buffer size.
struct socket_fill {
  std::uint32_t queued = 0;
  std::uint32_t buffer = 0;
};

// Whether a receiver should empty its socket into its area now.
constexpr bool receiver_filling(socket_fill fill) { return std::uint64_t{fill.queued} * 4 > fill.buffer; }

// Whether a sender should wait for its receiver before the next batch.
constexpr bool receiver_behind(socket_fill fill) {
  return fill.queued > (fill.buffer / 2 < most_queued ? fill.buffer / 2 : most_queued);
}

// How long a sender may have waited in all, once it has sent sent_bytes.
constexpr std::chrono::microseconds wait_budget(std::uint64_t sent_bytes) {
  return wait_grace + std::chrono::microseconds(sent_bytes * 1'000'000 / paced_bytes_per_second);
}

// What a sender sees of its receiver's socket on the same host: the seam
// between the policy and the kernel, which tests replace.
class peer_socket {
 public:
  virtual ~peer_socket() = default;
  // The socket's fill; nothing once it can no longer be seen (it was
  // closed, or another socket took its place).
  virtual std::optional<socket_fill> fill() = 0;
  virtual std::chrono::steady_clock::time_point now() = 0;
  virtual void pause(std::chrono::microseconds how_long) = 0;
};

// The sender's half of the policy for one delivery.
class pacer {
 public:
  // peer: the receiver's socket, or null when it is on another host.
  explicit pacer(peer_socket* peer) : peer_(peer) {}

  // Called after each batch, with the bytes sent so far in the delivery:
  // waits while the receiver is behind, within the limits above. Once a
  // limit is reached, or the socket can no longer be seen, it never waits
  // again in this delivery.
  void wait_for_room(std::uint64_t sent_bytes);

  // Whether it still waits for its receiver.
  bool pacing() const { return peer_ != nullptr; }

 private:
  peer_socket* peer_;
  std::chrono::steady_clock::duration waited_{};
};

}  // namespace pace

#endif
