#ifndef STREAM_SEND_H
#define STREAM_SEND_H

// The sending end of a file stream: the file read record by record, each
// sealed into its datagram by the system that sends it, and the datagrams
// sent in batches of equal size to one client, each batch in one call, in
// order, paced toward a client on the same host.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include <netinet/in.h>

#include "stream/pace.h"
#include "stream/peer_gauge.h"
#include "stream/probe.h"

// The most datagrams that send_batch takes in one call.
inline constexpr std::size_t max_batch = 64;

// The most records send_file reads and seals before it sends them: a sealer
// that seals many records in one call (a cipher whose lanes run across
// records) needs hundreds to pay.
inline constexpr std::size_t max_fill = 512;

// Sends count datagrams of datagram_size bytes, laid end to end in area, to
// `to`, in order. Returns how many went out, counted from the first; fewer
// than count only when a send failed.
std::size_t send_batch(int fd, batch_features& features, std::span<const std::uint8_t> area, std::size_t datagram_size,
                       std::size_t count, const sockaddr_in& to);

class stream_sender {
 public:
  // probed: what the kernel offers, from probe_batch_features. Segmented
  // pieces go to a client on this host, which is then paced, and to one on
  // another host under a rate cap while this host's interface keeps up with
  // it (see pace::host_keeping_up). Uncapped, on the way to another host, a
  // rate limit on an interface, which holds back plain sends while its
  // queue is full, drops the segments of a piece instead (every ticket
  // transfer through 100 Mbit failed so). Within the host one piece costs
  // the sender and the kernel about what one datagram does.
  stream_sender(int fd, const batch_features& probed, const sockaddr_in& peer, const pace::settings& chosen = {});

  // Sends count datagrams of datagram_size bytes, laid end to end in area,
  // as send_batch does, in bursts under the rate cap if there is one; then
  // waits while a client on this host is falling behind. Returns how many
  // went out; fewer than count only when a send failed.
  std::size_t send(std::span<const std::uint8_t> area, std::size_t datagram_size, std::size_t count);

 private:
  int fd_;
  sockaddr_in peer_;
  peer_gauge gauge_;
  pace::pacer pacer_;
  std::optional<pace::rate_cap> cap_;
  batch_features features_;
  std::size_t batches_ = 0;
  std::uint64_t sent_bytes_ = 0;
};

// What differs between the systems in a stream: where a record's file bytes
// go in its datagram, and how the datagram is sealed around them.
class record_sealer {
 public:
  virtual ~record_sealer() = default;
  // Where the file bytes of the record in datagram are read to; at most its
  // size is read.
  virtual std::span<std::uint8_t> data_area(std::span<std::uint8_t> datagram) = 0;
  // Numbers and seals the next record, whose got file bytes are in place.
  virtual void seal(std::span<std::uint8_t> datagram, std::size_t got) = 0;
  // Called once the count records laid end to end in area are sealed, and
  // before any of them is sent: a sealer may do its work for all at once.
  virtual void seal_all(std::span<std::uint8_t> area, std::size_t count) {
    (void)area;
    (void)count;
  }
  // Told after each batch how many datagrams of it went out.
  virtual void sent(std::size_t count) { (void)count; }
};

// How a stream of a file ended.
enum class send_status {
  sent,         // every record went out
  send_failed,  // a datagram could not be sent
  read_failed,  // the file could not be read on; the records before went out
};

struct send_report {
  send_status status = send_status::sent;
  std::uint64_t records = 0;  // datagrams that went out
  std::uint64_t bytes = 0;    // file bytes in them
};

// Sends the file in input as records of datagram_size bytes, reading and
// sealing as many as area holds (at most max_fill) and sending them in
// batches. The end of the file is seen only by a read that runs into it, so
// a file of whole records, an empty one included, ends with a record of no
// bytes.
send_report send_file(stream_sender& sender, std::FILE* input, record_sealer& sealer, std::span<std::uint8_t> area,
                      std::size_t datagram_size);

#endif
