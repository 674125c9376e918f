// server: the application server of the ticket system. It admits each client
// that presents a ticket issued under its server key and an authenticator
// under the ticket's session key, answers the client's nonce plus one, and
// then sends its input file in encrypted records closed by the file's digest.
// It serves one client after another until the first failure.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <netinet/in.h>

#include "common/bytes.h"
#include "common/credentials.h"
#include "common/hex.h"
#include "common/numbers.h"
#include "common/options.h"
#include "common/sha1.h"
#include "common/udp.h"
#include "console/console.h"
#include "stream/probe.h"
#include "stream/send.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/receive.h"
#include "ticket/validity.h"
#include "ticket/wire.h"

namespace {

constexpr int fixed_args = 3;
constexpr char usage_line[] = "usage: server <serverport> <authserverkey> <inputfile>\n";
constexpr unsigned accepted_options = takes_credentials | takes_rate;

struct settings {
  std::uint16_t port = 0;
  des_key server_key{};
  const char* input_file = nullptr;
  bool debug = false;
};

// An address field as the one 32-bit number the diagnostics print, its first
// byte least significant.
std::uint32_t addr_number(const ticket::ipv4_addr& addr) { return get_u32_le(addr, 0); }

// Ends the run, without "ABORT\n", once the session key's validity has run
// out; times_line prints the clock and the validity, in that order.
__attribute__((format(printf, 3, 0))) void end_if_expired(bool debug, std::uint32_t validity, const char* times_line) {
  const std::uint32_t now = ticket::clock_now();
  if (!ticket::still_valid(now, validity)) {
    say("the session key has expired");
    debug_print(debug, "Session key has expired\n");
    debug_print(debug, times_line, now, validity);
    end_run();
  }
  debug_print(debug, "Session key still valid\n");
}

// Sends the server's AP_ERR, which names no client.
void send_ap_err(bool debug, int fd, const sockaddr_in& peer, std::span<std::uint8_t, ticket::ap_err_size> out) {
  ticket::encode_ap_err(out, ticket::id_field{});
  send_or_abort(debug, fd, out, peer);
}

// Seals the records of the file into KRB_PRV envelopes, numbered from 1,
// under the session key. Their bodies are laid out one after another, and
// the bodies of a whole fill are encrypted in one call: the engine runs its
// lanes across records, and pays only with hundreds of them.
class prv_sealer final : public record_sealer {
 public:
  prv_sealer(std::span<std::uint8_t> bodies, const engine_key& session, bool debug)
      : bodies_(bodies), session_(session), debug_(debug) {}

  std::span<std::uint8_t> data_area(std::span<std::uint8_t>) override {
    const auto body = next_body();
    std::fill(body.begin(), body.end(), std::uint8_t{0});
    return ticket::prv_data(body);
  }
  void seal(std::span<std::uint8_t>, std::size_t got) override {
    ++pid_;  // wraps from 65535 to 0
    ticket::encode_prv_header(next_body(), {ticket::APP_DATA, static_cast<std::uint16_t>(got), pid_});
    ++filled_;
  }
  void seal_all(std::span<std::uint8_t> area, std::size_t count) override {
    // Both areas hold a whole fill, so this never refuses.
    (void)ticket::encode_krb_prv_batch(area, session_, bodies_, count);
    filled_ = 0;
  }
  void sent(std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) debug_print(debug_, "sending file!\n");
  }

 private:
  std::span<std::uint8_t, ticket::prv_body_size> next_body() {
    return bodies_.subspan(filled_ * ticket::prv_body_size).first<ticket::prv_body_size>();
  }

  std::span<std::uint8_t> bodies_;
  const engine_key& session_;
  bool debug_;
  std::size_t filled_ = 0;
  std::uint16_t pid_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  start_console();

  settings s;
  key_schedule server_schedule{};
  engine_key session{};
  ticket::receive_buffer rx{};
  std::array<std::uint8_t, ticket::ticket_area_len> ticket_area{};
  // The input stream reads through this in large pieces; the 972-byte reads
  // of a delivery are then copies from memory, not one system call each.
  // Static: stdio may use it until the stream is closed, which an early end
  // leaves to exit.
  static std::array<char, 65536> stream_buffer;
  sockaddr_in peer{};
  std::array<std::uint8_t, ticket::authenticator_size> auth_area{};
  std::array<std::uint8_t, ticket::ap_err_size> ap_err{};
  std::array<std::uint8_t, ticket::ap_rep_size> ap_rep{};
  // A fill of APP_DATA records: their plain bodies, then their envelopes,
  // encrypted all at once and sent a batch at a time. Static: half a
  // megabyte each.
  static std::array<std::uint8_t, max_fill * ticket::prv_body_size> bodies;
  static std::array<std::uint8_t, max_fill * ticket::krb_prv_size> fill;
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  std::array<std::uint8_t, ticket::krb_prv_size> envelope{};
  sha1_digest digest{};

  // 1. Read the command line: the options, then the arguments after them.
  const program_options options = take_options(argc, argv, "server", usage_line, accepted_options);
  require_arguments(argc, fixed_args, usage_line);
  s.debug = debug_switch(argc, argv, fixed_args);
  // Room for one character more than a key text; hex_to_bytes reads the
  // first 16.
  std::array<char, 2 * std::tuple_size_v<des_key> + 2> key_text{};
  const secret_text key = take_secret(options.credentials, argv[2], key_text);
  if (key.text == nullptr) abort_credential(s.debug, argv[2], credential_reason(key.error));
  hex_to_bytes(key.text, s.server_key);
  s.port = port_number(argv[1]);
  s.input_file = argv[3];
  warn_at_start(argv[1], s.port, s.input_file);

  // 2. Open the UDP socket and bind it to every local address at the port.
  const bound_socket sock = open_bound_socket(s.port);
  if (!sock.bound) abort_bind(s.debug, sock, s.port);
  const int fd = sock.fd;
  const batch_features probed = probe_batch_features();

  // 3. Build the server key's schedule; a bad key shows only after the bind.
  if (make_key_schedule(s.server_key, server_schedule) != 0)
    abort_run(s.debug, "Incorrect predefined authserver key\n");

  for (;;) {
    // 4. Wait for the AP_REQ that opens an exchange, for as long as it takes.
    if (!bound_receive_wait(fd, 0) || !ticket::receive_cleared(fd, rx, &peer))
      abort_run(s.debug, "error receiving packet\n");
    const std::uint16_t first_type = ticket::decode_type(rx);
    if (first_type != ticket::AP_REQ)
      abort_run(s.debug, "First packet is not AP_REQ\nI'm receiving packet type = %d\n", first_type);
    debug_print(s.debug, "AP_REQ received\n");

    // 5. Decrypt the ticket under the server key.
    if (!ticket::decrypt_ticket(rx, server_schedule, ticket_area))
      abort_run(s.debug, "Ticket length too long for the ticket area\n");
    const ticket::ticket_fields tkt = ticket::decode_ticket_body(ticket_area);

    // 6. Build the session key's schedule. A refused key ends the run with its
    // code, in every mode, and without "ABORT\n".
    const int key_result = make_engine_key(tkt.session_key, session);
    if (key_result != 0) {
      say("the ticket from %s holds a session key that is refused (key error %d)", text_of(peer).data(), key_result);
      std::printf("key error %d\n", key_result);
      end_run();
    }

    // 7. Check that the session key is still valid; expiry ends the run
    // without "ABORT\n".
    const std::uint32_t validity = ticket::validity(tkt.timestamp, tkt.lifetime);
    end_if_expired(s.debug, validity, "currtime = %u, validity = %u \n");

    // 8. Decrypt the authenticator under the session key.
    if (!ticket::decrypt_authenticator(rx, session.schedule, auth_area))
      abort_run(s.debug, "Authenticator length too long for the authenticator area\n");
    const ticket::authenticator_fields auth = ticket::decode_authenticator(auth_area);

    // 9. The authenticator must name the client the ticket was issued to.
    if (auth.client_id != tkt.client_id) {
      debug_print(s.debug, "Client name is wrong. Im expecting %.40s but receiving %.40s\n",
                  ticket::id_text(tkt.client_id), ticket::id_text(auth.client_id));
      debug_print(s.debug, "Sending AP_ERR back to client\n");
      send_ap_err(s.debug, fd, peer, ap_err);
      because("the authenticator from %s names another client than its ticket", text_of(peer).data());
      abort_run();
    }
    debug_print(s.debug, "Client name is correct\n");

    // 10. ... and the address the ticket was issued for.
    if (auth.client_addr != tkt.client_addr) {
      debug_print(s.debug, "Client IP address is wrong\n");
      debug_print(s.debug, "Expecting %u but receiving %u\n", addr_number(tkt.client_addr),
                  addr_number(auth.client_addr));
      send_ap_err(s.debug, fd, peer, ap_err);
      because("the authenticator from %s gives another address than its ticket", text_of(peer).data());
      abort_run();
    }
    debug_print(s.debug, "Client IP address is correct\n");

    // 11. Answer the nonce plus one with AP_REP.
    debug_print(s.debug, "nonce received = %d\n", static_cast<int>(auth.nonce));
    ticket::encode_ap_rep(ap_rep, session.schedule, auth.nonce);
    send_or_abort(s.debug, fd, ap_rep, peer);
    debug_print(s.debug, "Sending AP_REP\n");

    // 12. Wait for the KRB_PRV that asks for the file; a client that has gone
    // silent must not hold the server for ever. The file goes to the sender
    // of this datagram, whoever sent the AP_REQ.
    if (!bound_receive_wait(fd, receive_wait_seconds) || !ticket::receive_cleared(fd, rx, &peer))
      abort_receive(s.debug, peer, wait_ran_out(), "error receiving packet\n");
    const std::uint16_t next_type = ticket::decode_type(rx);
    if (next_type == ticket::AP_ERR) abort_run(s.debug, "AP_ERR received - aborting\n");
    if (next_type != ticket::KRB_PRV)
      abort_run(s.debug, "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = %d\n", next_type);
    debug_print(s.debug, "KRB_PRV received\n");

    // 13. Check the session key once more; the delivery itself is not
    // interrupted by the clock.
    end_if_expired(s.debug, validity, "currtime = %u, expiration = %u \n");

    // 14. Decrypt the envelope; it must hold APP_DATA_REQ.
    if (!ticket::decrypt_krb_prv(rx, session, body))
      abort_run(s.debug, "KRB_PRV length too long for the record area\n");
    const ticket::prv_fields request = ticket::decode_prv_body(body);
    if (request.prv_type != ticket::APP_DATA_REQ)
      abort_run(s.debug, "Expecting APP_DATA_REQ\nI'm receiving packet type = %d\n", request.prv_type);
    debug_print(s.debug, "APP_DATA_REQ received\n");

    // 15. Open the input file afresh, so each delivery serves its current state.
    std::FILE* input = open_served_file(s.input_file, s.debug, stream_buffer, "Input file cannot be opened\n",
                                        "Error reading the input file\n");

    // 16. Send the file in APP_DATA records numbered from 1, a batch at a
    // time; a file of whole records, an empty one included, ends with an
    // empty record. After a read error the records read before it have gone
    // out, and a file not read whole gets no digest.
    const auto started = std::chrono::steady_clock::now();
    stream_sender sender(fd, probed, peer, pace::settings{options.rate});
    prv_sealer sealer(bodies, session, s.debug);
    const send_report streamed = send_file(sender, input, sealer, fill, ticket::krb_prv_size);
    if (streamed.status != send_status::sent)
      abort_stream(s.debug, streamed.status, peer, s.input_file, "Error reading the input file\n");
    debug_print(s.debug, "file sended!\n");
    std::fclose(input);

    // 17. Close the delivery with APP_TERMINATE and the file's digest.
    if (!mysha1(s.input_file, digest)) abort_run(s.debug, "Error computing the file digest\n");
    ticket::encode_prv_body(body, ticket::APP_TERMINATE, 0, digest);
    ticket::encode_krb_prv(envelope, session.schedule, body);
    send_or_abort(s.debug, fd, envelope, peer);
    debug_print(s.debug, "file digest sent!\n");
    std::printf("OK\n");
    say_delivery(peer, streamed.bytes, streamed.records + 1,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
}
