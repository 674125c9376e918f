#ifndef TESTS_SUPPORT_TICKET_PEER_H
#define TESTS_SUPPORT_TICKET_PEER_H

// The side of the ticket system that a test plays against a real program,
// built on the ticket library: keys and identifiers from their text, the
// datagram of every step (with the faults a test injects on purpose), the two
// servers that answer a client, and the client's view of a server's delivery.

#include <netinet/in.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/hex.h"
#include "common/sha1.h"
#include "tests/support/key_schedule.h"
#include "tests/support/process.h"
#include "tests/support/udp_peer.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/validity.h"
#include "ticket/wire.h"

namespace testing_support {

// The keys the tests give the programs: the client's, which the
// authentication server shares, and the application server's.
inline constexpr char client_key_text[] = "133457799BBCDFF1";
inline constexpr char server_key_text[] = "0E329232EA6D0D73";
// The session key of the tickets that the tests issue themselves.
inline constexpr des_key session_key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
// The nonce of the AP_REQ that the tests send by default.
inline constexpr std::uint32_t default_nonce = 1700000000;

// An identifier field from text; text longer than the field is a failure.
ticket::id_field id_of(const std::string& text);

// A datagram as a program's receive buffer holds it: cut to the buffer, the
// rest zero.
ticket::receive_buffer rx_of(std::span<const std::uint8_t> datagram);

// A datagram that carries only its type, size bytes long.
bytes type_only(std::uint16_t type, std::size_t size = ticket::as_err_size);

bytes as_req(const std::string& client_id, const std::string& server_id);

// The AS_REP fields of an answer that a client accepts: session for "srv",
// issued now for 300 s, and a whole ticket area of distinct bytes.
ticket::as_rep_fields good_as_rep(const des_key& session = session_key);

// An AS_REP under client_key_text; length replaces its length field.
bytes as_rep(const ticket::as_rep_fields& fields, std::optional<std::uint16_t> length = {});

// What one AP_REQ says; the defaults make a request that a server run with
// server_key_text admits from 127.0.0.1.
struct ApRequest {
  const char* ticket_id = "alice";
  const char* auth_id = "alice";
  ticket::ipv4_addr ticket_addr = {127, 0, 0, 1};
  ticket::ipv4_addr auth_addr = {127, 0, 0, 1};
  std::uint32_t timestamp = ticket::clock_now();
  std::uint16_t lifetime = 3600;
  std::uint32_t nonce = default_nonce;
  des_key session_key = testing_support::session_key;
};

// An AP_REQ whose ticket is issued under server_key_text. The session key
// may be one that the server refuses.
bytes ap_req(const ApRequest& request = {});

// An AP_REP answering nonce; length replaces its length field.
bytes ap_rep(const des_key& session, std::uint32_t nonce, std::optional<std::uint16_t> length = {});

// One record in a KRB_PRV; data_len and length, when given, replace the
// record's data_len and the envelope's length after encoding.
struct Record {
  std::uint16_t prv_type = ticket::APP_DATA;
  std::uint16_t pid = 0;
  bytes data{};
  std::optional<std::uint16_t> data_len{};
  std::optional<std::uint16_t> length{};
};

bytes krb_prv(const des_key& session, const Record& record);

// The KRB_PRV holding the empty APP_DATA_REQ that asks a server for its file.
bytes file_request(const des_key& session = session_key);

// The APP_TERMINATE that closes the delivery of content.
bytes app_terminate(const des_key& session, const bytes& content);

// The body of an AS_REP under client_key_text; nothing when it does not
// decrypt.
std::optional<ticket::as_rep_fields> open_as_rep(const ticket::receive_buffer& rx);
// The ticket inside rep under server_key_text; nothing when it does not
// decrypt.
std::optional<ticket::ticket_fields> open_ticket(const ticket::as_rep_fields& rep);

// Sends request from client to the server at port and checks that the answer
// is an AP_REP to nonce + 1 under the session key.
void expect_ap_rep(const UdpPeer& client, std::uint16_t port, std::span<const std::uint8_t> request,
                   std::uint32_t nonce = default_nonce, const des_key& session = session_key);

// What a client sees of one delivery, read until APP_TERMINATE; every
// datagram is checked to be a KRB_PRV with zero bytes after its data.
struct Delivery {
  std::vector<std::size_t> datagram_sizes;  // every datagram, APP_TERMINATE included
  std::vector<std::uint16_t> pids;          // of the APP_DATA records
  bytes file;                               // their data, joined
  std::optional<ticket::prv_fields> terminate;
  sha1_digest digest{};
};

Delivery collect_delivery(const UdpPeer& peer, const des_key& session = session_key);

// Checks a delivery of file against everything the client
// relies on: pids from 1, one more record than whole pieces, full-size
// datagrams, and the digest of the file.
void expect_delivery_of(const Delivery& delivery, const bytes& file);

// The authentication server and the application server that a client talks
// to, played on two sockets of the test's own under one session key.
class ClientPeers {
 public:
  explicit ClientPeers(const des_key& session = testing_support::session_key) : session_key(session) {}

  // Receives the AS_REQ; an empty one, after a failure, when none arrives.
  Datagram expect_as_req();
  // Receives the AS_REQ and sends answer to where it came from.
  void answer_as(std::span<const std::uint8_t> answer);
  // Receives the AP_REQ, learns where the client receives from the
  // application server, and returns the authenticator.
  ticket::authenticator_fields expect_ap_req();
  // Sends to the client's application server socket.
  void send_app(std::span<const std::uint8_t> datagram) const;
  // Sends the AP_REP answering nonce.
  void answer_ap(std::uint32_t nonce) const;
  // Receives the KRB_PRV that must hold an empty APP_DATA_REQ.
  void expect_data_request() const;
  // Answers the AS_REQ with rep; returns the nonce of the AP_REQ.
  std::uint32_t reach_ap_req(const ticket::as_rep_fields& rep);
  std::uint32_t reach_ap_req() { return reach_ap_req(good_as_rep(session_key)); }
  // ... and answers rightly up to the file request.
  std::uint32_t reach_transfer(const ticket::as_rep_fields& rep);
  std::uint32_t reach_transfer() { return reach_transfer(good_as_rep(session_key)); }

  des_key session_key;
  UdpPeer as;                     // the authentication server
  UdpPeer app;                    // the application server
  sockaddr_in client_app_addr{};  // the client's socket that sent the AP_REQ
};

// Waits, at most 10 s, until the clock has reached second t.
void wait_for_second(std::uint32_t t);

}  // namespace testing_support

#endif
