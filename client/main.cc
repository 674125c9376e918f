// client: the ticket client. It asks the authentication server for a session
// key and a ticket for one application server, proves itself to that server
// with the ticket and an authenticator, checks the server's answer to its
// nonce, and stores the file the server sends in encrypted records, checking
// the record numbers and the digest that closes the file.

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/bytes.h"
#include "common/hex.h"
#include "common/local_addr.h"
#include "common/mapped_area.h"
#include "common/numbers.h"
#include "common/secret_arg.h"
#include "common/sha1.h"
#include "common/udp.h"
#include "common/options.h"
#include "console/attempts.h"
#include "console/console.h"
#include "console/progress.h"
#include "stream/file_output.h"
#include "stream/probe.h"
#include "stream/receive.h"
#include "stream/socket_source.h"
#include "stream/store.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/nonce.h"
#include "ticket/prv_run.h"
#include "ticket/receive.h"
#include "ticket/validity.h"
#include "ticket/wire.h"

namespace {

constexpr int fixed_args = 8;
constexpr char usage_line[] =
    "usage: client <authservername> <authserverport> <authserverkey> <servername> <serverport> <output file> "
    "<clientID> <serverID>\n";

struct settings {
  const char* auth_name = nullptr;
  std::uint16_t auth_port = 0;
  des_key auth_key{};
  const char* server_name = nullptr;
  std::uint16_t server_port = 0;
  const char* output_path = nullptr;
  ticket::id_field client_id{};
  ticket::id_field server_id{};
  bool debug = false;
};

// A UDP socket whose every receive gives up after receive_wait_seconds, so a
// peer that falls silent cannot hold the client for ever; -1 on failure.
int open_socket() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd >= 0 && !bound_receive_wait(fd, receive_wait_seconds)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Bytes as "%x" prints them one after another: lower-case hexadecimal with
// no leading zero and no separator, so 0x0e prints as "e".
template <std::size_t N>
std::array<char, 2 * N + 1> hex_text(const std::array<std::uint8_t, N>& bytes) {
  std::array<char, 2 * N + 1> text{};
  std::size_t at = 0;
  for (const std::uint8_t byte : bytes)
    at += static_cast<std::size_t>(std::snprintf(&text[at], text.size() - at, "%x", static_cast<unsigned>(byte)));
  return text;
}

// The record number that must follow last; after 65535 comes 0.
std::uint16_t next_pid(std::uint16_t last) { return static_cast<std::uint16_t>(last + 1u); }

// Checks each datagram of the stream, which the receive has put into rx,
// cleared past its end: a KRB_PRV under a session key still valid, holding
// the next APP_DATA in line or the closing APP_TERMINATE. A refusal's
// diagnostic is printed here, in debug mode, before the run ends. Records
// are decrypted a run at a time, with those the stream already holds after
// them, which is several times faster than one at a time.
class prv_unwrapper final : public record_unwrapper {
 public:
  prv_unwrapper(const ticket::receive_buffer& rx, const stream_receiver& stream,
                std::span<std::uint8_t, ticket::prv_body_size> body, const engine_key& session, std::uint32_t validity,
                bool debug, sha1_digest& received_digest, progress_line& progress)
      : rx_(rx),
        stream_(stream),
        body_(body),
        session_(session),
        validity_(validity),
        debug_(debug),
        digest_(received_digest),
        progress_(progress) {}

  unwrapped unwrap(const std::uint8_t*) override {
    const std::uint16_t type = ticket::decode_type(rx_);
    if (type == ticket::AP_ERR) {
      because("the server ended the stream with AP_ERR");
      return refuse("AP_ERR received - aborting\n");
    }
    if (type != ticket::KRB_PRV) {
      because("a message of type %u in the stream, not a KRB_PRV", static_cast<unsigned>(type));
      return refuse("Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = %d\n", type);
    }
    debug_print(debug_, "KRB_PRV received\n");

    // Nothing is decrypted under a key that has run out.
    const std::uint32_t now = ticket::clock_now();
    if (!ticket::still_valid(now, validity_)) {
      because("the session key expired during the stream");
      return refuse("Session key has expired\ncurrtime = %u, validity = %u \n", now, validity_);
    }
    debug_print(debug_, "Session key still valid\n");

    if (!run_.take(rx_, body_) &&
        !run_.start(rx_, std::span(upcoming_).first(stream_.peek(upcoming_)), session_, body_)) {
      because("a KRB_PRV of the stream claims more bytes than a record holds");
      return refuse("KRB_PRV length %u too long for the record area\n",
                    static_cast<unsigned>(get_u16_net(rx_, ticket::krb_prv_length_at)));
    }
    const ticket::prv_fields record = ticket::decode_prv_body(body_);
    if (record.prv_type == ticket::APP_TERMINATE) {
      debug_print(debug_, "APP_TERMINATE received\n");
      digest_ = ticket::terminate_digest(body_);
      return {unwrapped::verdict::end, {}};
    }
    if (record.prv_type != ticket::APP_DATA) {
      because("a record of type %u in the stream, neither APP_DATA nor APP_TERMINATE",
              static_cast<unsigned>(record.prv_type));
      return refuse("Expecting APP_DATA or APP_TERMINATE\nI'm receiving packet type = %d\n", record.prv_type);
    }
    debug_print(debug_, "APP_DATA Received - pid = %d\n", record.pid);
    const std::uint16_t expected_pid = next_pid(last_pid_);
    // The second line has no newline of its own: "ABORT" follows on it.
    if (record.pid != expected_pid) {
      because_out_of_order("record", expected_pid, record.pid);
      return refuse("transmission error, pid sequence incorrect\nExpecting pid = %d but receiving pid = %d",
                    expected_pid, record.pid);
    }
    const auto data = ticket::app_data_bytes(body_, record);
    if (!data) {
      because("record %u claims %u bytes, more than a record holds", static_cast<unsigned>(record.pid),
              static_cast<unsigned>(record.data_len));
      return refuse("data_len %u too long for the data area\n", static_cast<unsigned>(record.data_len));
    }
    last_pid_ = record.pid;
    return {unwrapped::verdict::data, *data};
  }
  void stored(std::size_t bytes) override { progress_.add(bytes); }

 private:
  __attribute__((format(printf, 2, 3))) unwrapped refuse(const char* diagnostic, ...) {
    if (debug_) {
      va_list args;
      va_start(args, diagnostic);
      std::vprintf(diagnostic, args);
      va_end(args);
    }
    return {};
  }

  const ticket::receive_buffer& rx_;
  const stream_receiver& stream_;
  std::span<std::uint8_t, ticket::prv_body_size> body_;
  const engine_key& session_;
  std::uint32_t validity_;
  bool debug_;
  sha1_digest& digest_;
  progress_line& progress_;
  std::uint16_t last_pid_ = 0;
  ticket::krb_prv_run run_;
  std::array<std::span<const std::uint8_t>, ticket::krb_prv_run::most - 1> upcoming_;
};

}  // namespace

int main(int argc, char* argv[]) {
  start_console();

  settings s;
  // The file's records are drained out of the socket into this area before
  // any is decrypted, and written to disk without waiting for the disk.
  mapped_area stream_area(stream_area_size, page_alignment::huge);
  key_schedule auth_schedule{};
  engine_key session{};
  ticket::receive_buffer rx{};
  std::array<std::uint8_t, ticket::as_req_size> as_req{};
  std::array<std::uint8_t, ticket::as_rep_body_area> rep_body{};
  std::array<std::uint8_t, ticket::authenticator_size> auth_area{};
  std::array<std::uint8_t, ticket::ap_req_size> ap_req{};
  std::array<std::uint8_t, ticket::nonce_reply_area> nonce_reply{};
  std::array<std::uint8_t, ticket::ap_err_size> ap_err{};
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  std::array<std::uint8_t, ticket::krb_prv_size> envelope{};
  sha1_digest file_digest{};
  sha1_digest received_digest{};
  file_output output;

  // 1. Read the command line: the options, then the arguments after them.
  const program_options options = take_options(argc, argv, "client", usage_line, takes_retries);
  require_arguments(argc, fixed_args, usage_line);
  s.debug = debug_switch(argc, argv, fixed_args);
  s.auth_name = argv[1];
  s.auth_port = port_number(argv[2]);
  s.server_name = argv[4];
  s.server_port = port_number(argv[5]);
  s.output_path = argv[6];

  // 2. Fill the identifier fields; an identifier longer than its field is
  // refused rather than cut, since a cut one would name someone else.
  if (!ticket::make_id(argv[7], s.client_id)) abort_run(s.debug, "clientID longer than %zu bytes\n", ticket::id_len);
  if (!ticket::make_id(argv[8], s.server_id)) abort_run(s.debug, "serverID longer than %zu bytes\n", ticket::id_len);

  // 3. Turn the key text into key bytes; the key is checked only in step 8.
  hex_to_bytes(argv[3], s.auth_key);
  hide_argument(argv[3]);

  // With --retries, every attempt but the last runs from here in a process
  // of its own.
  run_attempts(options.retries);

  // 4. Resolve the authentication server.
  sockaddr_in auth_addr{};
  if (!resolve_ipv4(s.auth_name, s.auth_port, auth_addr))
    abort_unknown_host(s.debug, s.auth_name, "wrong authentication server name\n");

  // 5. Open the AS socket.
  const int as_fd = open_socket();
  if (as_fd < 0) abort_socket(s.debug, "Error while opening AS socket\n");

  // 6. Resolve the application server.
  sockaddr_in server_addr{};
  if (!resolve_ipv4(s.server_name, s.server_port, server_addr))
    abort_unknown_host(s.debug, s.server_name, "wrong application server name\n");

  // 7. Open the server socket. The file arrives on it as a stream with no
  // flow control, so it asks for room for many records.
  const int server_fd = open_socket();
  if (server_fd < 0) abort_socket(s.debug, "Error while opening server socket\n");
  note_capped_receive_buffer(request_receive_buffer(server_fd, large_receive_buffer), 2 * large_receive_buffer);
  if (stream_area.bytes().empty()) abort_run(s.debug, "Error reserving the receive area\n");

  // 8. Build the schedule of the key shared with the authentication server.
  if (make_key_schedule(s.auth_key, auth_schedule) != 0) {
    because("the authentication server's key is not a usable DES key");
    abort_run(s.debug, "Incorrect predefined authserver key\n");
  }

  // 9. Send the AS_REQ.
  ticket::encode_as_req(as_req, s.client_id, s.server_id);
  send_or_abort(s.debug, as_fd, as_req, auth_addr);

  // 10. Receive the AS_REP.
  if (!ticket::receive_cleared(as_fd, rx, nullptr))
    abort_receive(s.debug, auth_addr, wait_ran_out(), "error receiving packet\n");
  const std::uint16_t as_type = ticket::decode_type(rx);
  if (as_type == ticket::AS_ERR) {
    because("the authentication server at %s refused the request (AS_ERR): are both IDs known to it?",
            text_of(auth_addr).data());
    abort_run(s.debug, "AS_ERR received - from Authentication Server\n");
  }
  if (as_type != ticket::AS_REP)
    abort_run(s.debug, "Expecting AS_REP or AS_ERR\nI'm receiving packet type = %d\n", as_type);
  debug_print(s.debug, "AS_REP received\n");

  // 11. Decrypt the AS_REP under the authentication server key.
  if (!ticket::decrypt_as_rep(rx, auth_schedule, rep_body))
    abort_run(s.debug, "AS_REP length %u too long for the reply area\n",
              static_cast<unsigned>(get_u16_net(rx, ticket::as_rep_length_at)));
  const ticket::as_rep_fields rep = ticket::decode_as_rep_body(rep_body);

  // 12. The session key must be a usable DES key.
  if (make_engine_key(rep.session_key, session) != 0) {
    because("the AS_REP holds no usable session key: is the authentication server's key right?");
    abort_run(s.debug, "Wrong session key received\nSession key received:\t%s\n", hex_text(rep.session_key).data());
  }
  debug_print(s.debug, "Session key received:\t%s\n", hex_text(rep.session_key).data());

  // 13. The reply must be for the application server that was asked for.
  if (rep.server_id != s.server_id)
    abort_run(s.debug, "Server ID of application server is worng = %.40s\n", ticket::id_text(rep.server_id));
  debug_print(s.debug, "Server ID of application server is correct\n");

  // 14. The session key must still be valid. Its end is computed once here
  // and serves every later check.
  const std::uint32_t validity = ticket::validity(rep.timestamp, rep.lifetime);
  const std::uint32_t issued_check = ticket::clock_now();
  if (!ticket::still_valid(issued_check, validity))
    abort_run(s.debug, "Session key has expired\ntimestamp = %u, lifetime = %u, currtime = %u \n", rep.timestamp,
              static_cast<unsigned>(rep.lifetime), issued_check);
  debug_print(s.debug, "Session key still valid\n");

  // 15. Build the authenticator: the client's name, its host's first own
  // address and the clock as nonce. A host whose name does not resolve
  // gives the address its datagrams to the server leave from.
  ticket::authenticator_fields auth{};
  auth.client_id = s.client_id;
  const local_addr_origin origin = local_addr_toward(server_addr, auth.client_addr);
  if (origin == local_addr_origin::none) abort_run(s.debug, "No IPv4 address found for the local host\n");
  if (origin == local_addr_origin::route)
    debug_print(s.debug, "The local host name has no IPv4 address: using the source address toward the server\n");
  // The four bytes read as a little-endian host reads them.
  debug_print(s.debug, "local ip address in network byte order = %u\n", get_u32_le(auth.client_addr, 0));
  auth.nonce = ticket::clock_now();
  debug_print(s.debug, "nonce generated for server = %u\n", auth.nonce);
  ticket::encode_authenticator(auth_area, auth);

  // 16. Send the AP_REQ with the ticket as issued.
  if (!ticket::encode_ap_req(ap_req, rep.ticket_len, rep.ticket, session.schedule, auth_area))
    abort_run(s.debug, "ticket_len %u too long for the ticket area\n", static_cast<unsigned>(rep.ticket_len));
  send_or_abort(s.debug, server_fd, ap_req, server_addr);
  debug_print(s.debug, "AP_REQ sent\n");

  // 17. Receive the AP_REP.
  if (!ticket::receive_cleared(server_fd, rx, nullptr))
    abort_receive(s.debug, server_addr, wait_ran_out(), "error receiving packet\n");
  const std::uint16_t ap_type = ticket::decode_type(rx);
  if (ap_type != ticket::AP_REP) abort_run(s.debug, "Expecting AP_REP\nI'm receiving packet type = %d\n", ap_type);
  debug_print(s.debug, "AP_REP received\n");

  // 18. Check the session key's validity again.
  const std::uint32_t answered_check = ticket::clock_now();
  if (!ticket::still_valid(answered_check, validity))
    abort_run(s.debug, "Session key has expired\ncurrtime = %u, validity = %u \n", answered_check, validity);
  debug_print(s.debug, "Session key still valid\n");

  // 19. The server must answer the nonce plus one; a wrong answer is
  // reported to it with AP_ERR.
  if (!ticket::decrypt_ap_rep(rx, session.schedule, nonce_reply))
    abort_run(s.debug, "AP_REP length %u too long for the nonce reply area\n",
              static_cast<unsigned>(get_u16_net(rx, ticket::ap_rep_length_at)));
  const std::uint32_t answer = ticket::decode_nonce_reply(nonce_reply);
  const std::uint32_t expected_answer = auth.nonce + 1u;
  if (answer != expected_answer) {
    debug_print(s.debug, "Nonce answer is wrong\nNonce answer received is = %u, but expecting %u\n", answer,
                expected_answer);
    ticket::encode_ap_err(ap_err, s.client_id);
    send_or_abort(s.debug, server_fd, ap_err, server_addr);
    because("the server at %s answered the nonce wrongly: it may not be the server the ticket is for",
            text_of(server_addr).data());
    abort_run();
  }
  debug_print(s.debug, "Nonce answered correctly\n");

  // 20. Ask for the file with APP_DATA_REQ. The stream's receiver is set up
  // first, so that the socket takes the records coalesced from the first.
  socket_source source(server_fd, probe_batch_features());
  stream_receiver stream(source, stream_area.bytes(), rx.size());
  ticket::encode_prv_body(body, ticket::APP_DATA_REQ, 0, {});
  ticket::encode_krb_prv(envelope, session.schedule, body);
  send_or_abort(s.debug, server_fd, envelope, server_addr);
  debug_print(s.debug, "APP_DATA_REQ sent\n");

  // 21. Create or truncate the output file.
  // What came in meanwhile is taken out of the socket first: the stream
  // follows at once.
  stream.drain();
  if (!output.open(s.output_path)) abort_open_output(s.debug, s.output_path, "Output file cannot be opened\n");

  // 22. Store the APP_DATA records in unbroken pid order until the
  // APP_TERMINATE. Each record is taken as if received alone into the
  // cleared receive buffer. A failure here leaves the records accepted so far
  // in the file.
  progress_line progress;
  prv_unwrapper unwrapper(rx, stream, body, session, validity, s.debug, received_digest, progress);
  const stream_end end = receive_file(stream, output, rx, leftover::zeroed, unwrapper);
  progress.clear();
  abort_unless_ended(s.debug, end, s.output_path, output.error(), server_addr, "Error writing the output file\n");

  // 23. Compare the digest of the file as it lies on disk with the one
  // received; every write completes first so that every byte is there, and a
  // write that failed (a full disk) fails the run.
  if (!output.finish()) abort_write(s.debug, s.output_path, output.error(), "Error writing the output file\n");
  if (!mysha1(s.output_path, file_digest)) abort_run(s.debug, "Digest of the output file cannot be computed\n");
  if (file_digest == received_digest) {
    debug_print(s.debug, "checksum correct\nfile transmission completed\n");
    std::printf("OK\n");
    end_run();
  }
  debug_print(s.debug, "incorrect checksum\nExpecting checksum =\t%s\nReceiving checksum = \t%s",
              hex_text(file_digest).data(), hex_text(received_digest).data());
  std::printf("\n");
  abort_digest_differs(s.output_path, server_addr);
}
