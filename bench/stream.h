#ifndef BENCH_STREAM_H
#define BENCH_STREAM_H

// What the benchmark's senders and receivers share: a stream of numbered
// datagrams to 127.0.0.1 closed by a few short end markers, a monotonic
// clock, and the tally a receiver keeps. The helpers measure the machine's
// limits, so they do as little per datagram as their job allows.

#include <cstddef>
#include <cstdint>
#include <span>

#include <netinet/in.h>

#include "ticket/des.h"

namespace bench {

// A datagram this short or shorter ends a stream; every numbered one is longer.
inline constexpr std::size_t end_marker_size = 4;
inline constexpr int end_markers = 3;
// A receiver that hears nothing for this long takes the stream as ended.
inline constexpr int quiet_seconds = 3;

// The schedule of the one valid key every DES helper uses.
key_schedule session_schedule();

// Seconds on a monotonic clock.
double seconds_now();

// Prints why and exits with status 1: a helper that cannot run has no figure.
[[noreturn]] void die(const char* why);

// The number in argv[i], or die.
long number_arg(char* argv[], int i);

// A UDP socket bound to 127.0.0.1 on a port the system picks, with the receive
// buffer asked for (0 keeps the default). Prints "port=N rcvbuf=B\n" and
// flushes, so whoever started the receiver knows where to send.
int open_receiver(int receive_buffer_bytes);

// An unbound UDP socket and the address of 127.0.0.1 at port.
int open_sender();
sockaddr_in loopback(std::uint16_t port);

// Sends the whole datagram, or dies.
void send_all(int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to);

// Sends the end markers.
void send_end(int fd, const sockaddr_in& to);

// What a receiver saw: how many numbered datagrams, how many numbers were
// skipped, and when the first and the last arrived.
struct tally {
  std::uint64_t received = 0;
  std::uint64_t skipped = 0;
  std::uint64_t next = 0;
  double first = 0;
  double last = 0;
  bool timed_out = false;

  void note(std::uint32_t seq, double now);
};

// How a receiver waits for the next datagram. A blocking receiver sleeps
// whenever it has caught up, and then each datagram costs the sender a
// wake-up; a spinning one polls without sleeping, so the sender runs at its
// own full speed.
enum class waiting { block, spin };

// "block" or "spin" from a command line, or die.
waiting waiting_arg(const char* text);

// Receives one datagram; its size, 0 after quiet_seconds of silence.
std::size_t receive_one(int fd, std::span<std::uint8_t> buffer, waiting how);

// Prints the tally as one line of key=value fields.
void print_tally(const tally& t);

// Receives a sender's stream into rx until its end marker or a timeout,
// asking record_number for the number of each datagram, then prints the
// tally.
template <typename RecordNumber>
void receive_stream(int fd, std::span<std::uint8_t> rx, waiting how, RecordNumber record_number) {
  tally t;
  for (;;) {
    const std::size_t got = receive_one(fd, rx, how);
    if (got == 0) {
      t.timed_out = true;
      break;
    }
    if (got <= end_marker_size) break;
    t.note(record_number(), seconds_now());
  }
  print_tally(t);
}

}  // namespace bench

#endif
