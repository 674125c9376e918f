// passfetch: joins a password file server, offers up to three passwords,
// stores the file it streams and checks it against the closing digest.

#include <array>
#include <cstdint>
#include <cstdio>

#include <sys/socket.h>

#include "common/mapped_area.h"
#include "common/numbers.h"
#include "common/secret_arg.h"
#include "common/sha1.h"
#include "common/udp.h"
#include "common/options.h"
#include "console/attempts.h"
#include "console/console.h"
#include "console/progress.h"
#include "password/codec.h"
#include "stream/file_output.h"
#include "stream/probe.h"
#include "stream/receive.h"
#include "stream/socket_source.h"
#include "stream/store.h"

using namespace password;

namespace {

constexpr int fixed_args = 6;
constexpr int password_count = 3;
constexpr char usage_line[] =
    "usage: passfetch <servername> <serverport> <clientpwd1> <clientpwd1> <clientpwd1> <outfile>\n";

struct settings {
  const char* server_name;
  std::uint16_t port;
  std::array<const char*, password_count> passwords;
  const char* output_file;
  bool debug;
};

// Receives into rx from any sender: whatever arrives is the server's answer.
// Not cleared: bytes past the end of a short datagram stay.
void receive(bool debug, stream_receiver& stream, receive_buffer& rx, const sockaddr_in& server) {
  const receive_status status = stream.next(rx, leftover::kept);
  if (status != receive_status::ok)
    abort_receive(debug, server, status == receive_status::timed_out, "error receiving packet\n");
}

// Checks each datagram of the stream: DATA in unbroken pid order, from the
// first, until the TERMINATE, whose fields it keeps. A refusal's diagnostic
// is printed here, in debug mode, before the run ends.
class data_unwrapper final : public record_unwrapper {
 public:
  data_unwrapper(bool debug, terminate_fields& closing, progress_line& progress)
      : debug_(debug), closing_(closing), progress_(progress) {}

  unwrapped unwrap(const std::uint8_t* datagram) override {
    const received in(datagram, receive_size);
    const std::uint8_t type = decode_header(in).type;
    const bool first = first_;
    first_ = false;
    if (first && type != DATA) {
      because("the stream did not begin with a DATA (type %u)", static_cast<unsigned>(type));
      return refuse("Expecting DATA\n");
    }
    if (type == DATA) {
      const data_fields fields = decode_data(in);
      if (!is_next_pid(last_pid_, fields.pid)) {
        because_out_of_order("DATA", last_pid_ + 1u, fields.pid);
        return refuse("transmission error\n");
      }
      const auto bytes = data_bytes(in, fields.length);
      if (!bytes) {
        because("DATA %u claims %u bytes, more than a DATA holds", static_cast<unsigned>(fields.pid),
                static_cast<unsigned>(fields.length));
        return refuse("transmission error\n");
      }
      last_pid_ = fields.pid;
      return {unwrapped::verdict::data, *bytes};
    }
    if (type != TERMINATE) {
      because("a datagram of type %u in the stream, neither DATA nor TERMINATE", static_cast<unsigned>(type));
      return refuse("Expecting TERMINATE\n");
    }
    debug_print(debug_, "TERMINATE received\n");
    closing_ = decode_terminate(in);
    return {unwrapped::verdict::end, {}};
  }
  void stored(std::size_t bytes) override {
    debug_print(debug_, "receiving file\n");
    progress_.add(bytes);
  }

 private:
  unwrapped refuse(const char* diagnostic) {
    debug_print(debug_, "%s", diagnostic);
    return {};
  }

  bool debug_;
  terminate_fields& closing_;
  progress_line& progress_;
  std::uint32_t last_pid_ = 0;
  bool first_ = true;
};

}  // namespace

int main(int argc, char* argv[]) {
  start_console();

  settings s{};
  sockaddr_in server{};
  receive_buffer rx{};
  std::array<std::uint8_t, join_req_size> join_req;
  std::array<std::uint8_t, pass_resp_size> pass_resp;
  sha1_digest stored{};
  // The DATA stream is drained out of the socket into this area before any
  // of it is checked, and written to disk without waiting for the disk.
  mapped_area stream_area(stream_area_size, page_alignment::huge);
  file_output output;
  // One character more than a password that fits, so a longer one stays too long.
  std::array<std::array<char, password_len + 2>, password_count> password_texts;
  encode_join_req(join_req);

  // 1. Read the options, then check the count of the arguments after them.
  const program_options options = take_options(argc, argv, "passfetch", usage_line, takes_retries);
  require_arguments(argc, fixed_args, usage_line);
  s.server_name = argv[1];
  s.passwords = {take_argument(argv[3], password_texts[0]), take_argument(argv[4], password_texts[1]),
                 take_argument(argv[5], password_texts[2])};
  s.output_file = argv[6];

  // 2. Debug switch, then refuse a password that cannot be sent whole.
  s.debug = debug_switch(argc, argv, fixed_args);
  for (const char* offered : s.passwords)
    if (!fits_password_field(offered)) abort_run(s.debug, "Password longer than %zu characters\n", password_len);

  // With --retries, every attempt but the last runs from here in a process
  // of its own.
  run_attempts(options.retries);

  // 3. Port, and the server's address.
  s.port = to_num(argv[2]);
  if (!resolve_ipv4(s.server_name, s.port, server)) abort_unknown_host(s.debug, s.server_name, "wrong server name\n");

  // 4. Open the socket. The DATA stream has no flow control, so ask for room
  // to queue much of it; every wait is bounded, since a lost datagram would
  // otherwise leave the client waiting for ever.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) abort_socket(s.debug, "Error while opening socket\n");
  note_capped_receive_buffer(request_receive_buffer(fd, large_receive_buffer), 2 * large_receive_buffer);
  if (!bound_receive_wait(fd, receive_wait_seconds)) abort_run(s.debug, "Error setting receive wait\n");
  if (stream_area.bytes().empty()) abort_run(s.debug, "Error reserving the receive area\n");
  // Every datagram, the dialogue's too, comes through the stream's receiver,
  // which is ready before the first: the DATA follow PASS_ACCEPT at once.
  socket_source source(fd, probe_batch_features());
  stream_receiver stream(source, stream_area.bytes(), rx.size());

  // 5. Join, and expect the first PASS_REQ.
  send_or_abort(s.debug, fd, join_req, server);
  receive(s.debug, stream, rx, server);
  if (!is_bare(decode_header(rx), PASS_REQ)) {
    because("%s answered the JOIN_REQ with no PASS_REQ", text_of(server).data());
    abort_run(s.debug, "no PASS_REQ arrived\n");
  }

  // 6. Answer each PASS_REQ with the next password until the server decides.
  int next_password = 0;
  for (;;) {
    const header_fields header = decode_header(rx);
    if (header.type == PASS_REQ) {
      debug_print(s.debug, "PASS_REQ received\n");
      if (next_password == password_count) {
        because("%s asked for a fourth password", text_of(server).data());
        abort_run(s.debug, "No password left to offer\n");
      }
      // Fits: every password was checked at start-up.
      (void)encode_pass_resp(pass_resp, s.passwords[next_password++]);
      send_or_abort(s.debug, fd, pass_resp, server);
      receive(s.debug, stream, rx, server);
    } else if (is_bare(header, PASS_REJECT)) {
      because("%s refused the password%s offered", text_of(server).data(), next_password > 1 ? "s" : "");
      abort_run(s.debug, "Please restart session and introduce the correct password\n");
    } else if (is_bare(header, PASS_ACCEPT)) {
      break;
    } else {
      because("%s answered a password with neither PASS_REQ, PASS_ACCEPT nor PASS_REJECT", text_of(server).data());
      abort_run(s.debug, "no PASS_ACCEPT arrived\n");
    }
  }
  debug_print(s.debug, "PASS_ACCEPT received\n");

  // 7. Create or truncate the output file now, before the stream arrives.
  rx.fill(0);
  // What came in meanwhile is taken out of the socket first: the stream
  // follows at once.
  stream.drain();
  if (!output.open(s.output_file)) abort_open_output(s.debug, s.output_file, "Error opening output file\n");

  // 8. The stream starts with a DATA; from there each must be the next in
  // line, until the TERMINATE.
  terminate_fields closing{};
  progress_line progress;
  data_unwrapper unwrapper(s.debug, closing, progress);

  // 9. Store each DATA until the TERMINATE. Not cleared: bytes past the end
  // of a short datagram stay those of the one before. A whole DATA is read
  // where the receiver holds it, with no copy into rx.
  const stream_end end = receive_file(stream, output, rx, leftover::kept, unwrapper);
  progress.clear();
  abort_unless_ended(s.debug, end, s.output_file, output.error(), server, "Error writing output file\n");

  // 10. Compare the stored file's digest with the one received, once every
  // write has completed; a write that failed (a full disk) fails the run.
  if (!output.finish()) abort_write(s.debug, s.output_file, output.error(), "Error writing output file\n");
  if (!mysha1(s.output_file, stored)) abort_run(s.debug, "Error computing file digest\n");
  if (!terminate_matches(closing, stored)) {
    debug_print(s.debug, "incorrect checksum\n");
    abort_digest_differs(s.output_file, server);
  }
  debug_print(s.debug, "checksum correct\n");
  debug_print(s.debug, "file transmission completed\n");
  std::printf("OK\n");
  end_run();
}
