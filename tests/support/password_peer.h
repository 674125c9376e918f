#ifndef TESTS_SUPPORT_PASSWORD_PEER_H
#define TESTS_SUPPORT_PASSWORD_PEER_H

// The side of the password system that a test plays against a real program,
// built on the password library: the message of every step (with the faults
// a test injects on purpose), the answers a passfeed gives its client, and
// the server that a passfetch fetches from.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/sha1.h"
#include "password/wire.h"
#include "tests/support/process.h"
#include "tests/support/udp_peer.h"

namespace testing_support {

// A header-only message; a nonzero length on request.
bytes bare(std::uint16_t type, std::uint32_t length = 0);

bytes join_req();

// A PASS_RESP offering text; length replaces its length field.
bytes pass_resp(const std::string& text, std::optional<std::uint32_t> length = {});

// A DATA carrying content; length replaces its length field.
bytes data_msg(std::uint32_t pid, const bytes& content, std::optional<std::uint32_t> length = {});

// A TERMINATE carrying the digest of content; length replaces its length
// field.
bytes terminate_msg(const bytes& content, std::optional<std::uint32_t> length = {});

// The type of the next datagram to reach peer, after checking its size; 0
// when none arrives in time.
std::uint16_t next_type(const UdpPeer& peer, std::size_t expected_size = password::header_size);

// What a client saw of one DATA stream and its TERMINATE.
struct Stream {
  bytes content;
  std::vector<std::uint32_t> lengths;
  sha1_digest digest{};
};

// Receives DATA up to the TERMINATE, checking sizes, pids from 1 and the
// zero bytes after each piece.
Stream receive_stream(const UdpPeer& peer);

// The server that a passfetch fetches from, played on a socket of the
// test's own.
class FetchServer {
 public:
  // Receives the JOIN_REQ, checks it, and learns where to answer.
  bool joined();
  void send(std::span<const std::uint8_t> datagram) const;
  // Receives a PASS_RESP, checks its bytes against the encoder's for the
  // text it carries, and returns that text.
  std::string next_password() const;

  UdpPeer server;
  sockaddr_in client_addr{};
};

}  // namespace testing_support

#endif
