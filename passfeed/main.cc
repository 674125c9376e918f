// passfeed: serves one file over UDP to every client that presents the
// password, one client after another, until an exchange fails.

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include <sys/stat.h>

#include "common/credentials.h"
#include "common/numbers.h"
#include "common/options.h"
#include "common/sha1.h"
#include "common/udp.h"
#include "console/console.h"
#include "password/codec.h"
#include "stream/probe.h"
#include "stream/send.h"

using namespace password;

namespace {

constexpr int fixed_args = 3;
constexpr char usage_line[] = "usage: passfeed <serverport> <password> <input file>\n";
constexpr unsigned accepted_options = takes_credentials | takes_rate;

struct settings {
  std::uint16_t port;
  const char* password;
  const char* input_file;
  bool debug;
};

// Receives into rx (cut at its size) and makes the sender the peer.
void receive_from_peer(bool debug, int fd, receive_buffer& rx, sockaddr_in& peer) {
  if (!receive_datagram(fd, rx, &peer)) abort_receive(debug, peer, wait_ran_out(), "error receiving packet\n");
}

// Admits the PASS_RESP in rx and returns it, with its two debug lines.
pass_resp_fields admit_pass_resp(bool debug, const receive_buffer& rx) {
  if (!admits_pass_resp(decode_header(rx))) abort_run(debug, "Im expecting PASS_RESP\n");
  const pass_resp_fields resp = decode_pass_resp(rx);
  debug_print(debug, "PASS_RESP received\n");
  // Up to the first zero byte, and never past the field: a sender need not
  // leave a zero in it.
  debug_print(debug, "Im getting %.*s\n", static_cast<int>(password_len),
              reinterpret_cast<const char*>(resp.password.data()));
  return resp;
}

// Seals each piece of the file, read straight into its place, into a DATA
// numbered from 1.
class data_sealer final : public record_sealer {
 public:
  explicit data_sealer(bool debug) : debug_(debug) {}

  std::span<std::uint8_t> data_area(std::span<std::uint8_t> datagram) override {
    return password::data_area(datagram.first<data_size>());
  }
  void seal(std::span<std::uint8_t> datagram, std::size_t got) override {
    seal_data(datagram.first<data_size>(), got, ++counter_);
  }
  void sent(std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) debug_print(debug_, "sending file!\n");
  }

 private:
  bool debug_;
  std::uint32_t counter_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  start_console();

  settings s{};
  receive_buffer rx{};
  std::array<std::uint8_t, pass_req_size> pass_req;
  std::array<std::uint8_t, pass_accept_size> pass_accept;
  std::array<std::uint8_t, pass_reject_size> pass_reject;
  // A batch of DATA, read one after another and then sent in one call.
  std::array<std::uint8_t, max_batch * data_size> batch;
  std::array<std::uint8_t, terminate_size> terminate;
  sha1_digest digest{};
  // The input file's stdio buffer: large, so that the DATA loop makes one
  // read system call per 64 KiB rather than one per piece. Static: stdio may
  // use it until the stream is closed, which an early end leaves to exit.
  static std::array<char, std::size_t{64} * 1024> file_buffer;
  sockaddr_in peer{};
  // One character more than an accepted password, so a longer one stays too long.
  std::array<char, max_password_chars + 2> password_text;
  encode_pass_req(pass_req);
  encode_pass_accept(pass_accept);
  encode_pass_reject(pass_reject);

  // 1. Read the options, then check the count of the arguments after them.
  const program_options options = take_options(argc, argv, "passfeed", usage_line, accepted_options);
  require_arguments(argc, fixed_args, usage_line);
  const secret_text password = take_secret(options.credentials, argv[2], password_text);
  if (password.text == nullptr)
    abort_credential(debug_switch(argc, argv, fixed_args), argv[2], credential_reason(password.error));
  s.password = password.text;
  s.input_file = argv[3];

  // 2. The input file must exist; said in every mode, before anything else.
  struct stat input_stat;
  if (stat(s.input_file, &input_stat) != 0) {
    std::printf("Input file doesn't exist\n");
    end_run();
  }

  // 3. Debug switch, then refuse a password that no PASS_RESP could match.
  s.debug = debug_switch(argc, argv, fixed_args);
  if (!usable_server_password(s.password))
    abort_run(s.debug, "Password longer than %u characters\n", static_cast<unsigned>(max_password_chars));

  // 4. Port.
  s.port = to_num(argv[1]);
  warn_at_start(argv[1], s.port, s.input_file);

  // 5. Open the socket and bind it to the port on every local address.
  const bound_socket sock = open_bound_socket(s.port);
  if (!sock.bound) abort_bind(s.debug, sock, s.port);
  const int fd = sock.fd;

  // 6. Learn which ways of sending a batch the system offers.
  const batch_features probed = probe_batch_features();

  for (;;) {
    // 7. Wait as long as it takes for a JOIN_REQ from anyone.
    if (!bound_receive_wait(fd, 0)) abort_run(s.debug, "Error setting receive wait\n");
    rx.fill(0);
    receive_from_peer(s.debug, fd, rx, peer);
    if (!is_join_req(decode_header(rx))) abort_run(s.debug, "First packet is not JOIN_REQ\n");
    debug_print(s.debug, "JOIN_REQ received\n");

    // 8. Ask for the password; from here on a silent client ends the wait.
    if (!bound_receive_wait(fd, receive_wait_seconds)) abort_run(s.debug, "Error setting receive wait\n");
    send_or_abort(s.debug, fd, pass_req, peer);

    // 9. Receive the first PASS_RESP into a cleared buffer.
    rx.fill(0);
    receive_from_peer(s.debug, fd, rx, peer);
    pass_resp_fields resp = admit_pass_resp(s.debug, rx);

    // 10. Password test, with up to two more tries.
    int tries = 0;
    while (!password_matches(resp, s.password)) {
      debug_print(s.debug, "password not correct\n");
      ++tries;
      if (tries > 2) {
        // The third wrong password ends the server, not just the exchange.
        send_or_abort(s.debug, fd, pass_reject, peer);
        because("%s offered three wrong passwords", text_of(peer).data());
        abort_run();
      }
      send_or_abort(s.debug, fd, pass_req, peer);
      // Not cleared: bytes past the end of a short PASS_RESP keep those of
      // the one before it.
      receive_from_peer(s.debug, fd, rx, peer);
      resp = admit_pass_resp(s.debug, rx);
    }
    debug_print(s.debug, "password correct\n");

    // 11. Accept, and open the file afresh for this transfer.
    send_or_abort(s.debug, fd, pass_accept, peer);
    std::FILE* input = open_served_file(s.input_file, s.debug, file_buffer, "Error opening input file\n",
                                        "Error reading input file\n");

    // 12. Stream the file in numbered DATA, a batch at a time. The stream
    // ends on a read that runs into the end of the file, so a file of whole
    // pieces ends with an empty DATA. The DATA read before a read error have
    // gone out.
    const auto started = std::chrono::steady_clock::now();
    stream_sender sender(fd, probed, peer, pace::settings{options.rate});
    data_sealer sealer(s.debug);
    const send_report streamed = send_file(sender, input, sealer, batch, data_size);
    if (streamed.status != send_status::sent)
      abort_stream(s.debug, streamed.status, peer, s.input_file, "Error reading input file\n");
    debug_print(s.debug, "file sended!\n");
    std::fclose(input);

    // 13. Close with the digest of the whole file.
    if (!mysha1(s.input_file, digest)) abort_run(s.debug, "Error computing file digest\n");
    encode_terminate(terminate, digest);
    send_or_abort(s.debug, fd, terminate, peer);

    // 14. Done; wait for the next client.
    std::printf("OK\n");
    say_delivery(peer, streamed.bytes, streamed.records + 1,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
}
