#include "console/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/input_file.h"
#include "common/numbers.h"
#include "common/udp.h"
#include "common/waiting.h"

namespace {

void flush_console() { std::fflush(stdout); }

const char* named = "";
std::FILE* reasons = nullptr;  // standard error unless sent elsewhere
char reason[512] = "";

// Starts a line on standard error, or where out points, with the program's
// name, once the program has given it.
void name_the_program(std::FILE* out) {
  if (named[0] != '\0') std::fprintf(out, "%s: ", named);
}

// Keeps the first line of text as the reason, unless one was given.
void fall_back_on(const char* text) {
  if (reason[0] != '\0') return;
  std::snprintf(reason, sizeof reason, "%.*s", static_cast<int>(std::strcspn(text, "\n")), text);
}

}  // namespace

void start_console() {
  std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{64} * 1024);
  on_wait(flush_console);
}

bool debug_switch(int argc, const char* const argv[], int fixed_args) {
  return argc == fixed_args + 2 && std::strcmp(argv[fixed_args + 1], "-DDEBUG") == 0;
}

void debug_print(bool debug, const char* format, ...) {
  if (!debug) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void end_run() {
  std::fflush(stdout);
  std::exit(0);
}

void because(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, sizeof reason, format, args);
  va_end(args);
}

void send_reasons_to(std::FILE* out) { reasons = out; }

void abort_run() {
  fall_back_on("the exchange failed");
  std::FILE* out = reasons != nullptr ? reasons : stderr;
  name_the_program(out);
  std::fprintf(out, "%s\n", reason);
  std::fflush(out);
  std::printf("ABORT\n");
  end_run();
}

void abort_run(bool debug, const char* diagnostic, ...) {
  va_list args;
  va_start(args, diagnostic);
  vabort_run(debug, diagnostic, args);
}

void vabort_run(bool debug, const char* diagnostic, va_list args) {
  va_list again;
  va_copy(again, args);
  char text[sizeof reason];
  std::vsnprintf(text, sizeof text, diagnostic, again);
  va_end(again);
  fall_back_on(text);
  if (debug) std::vprintf(diagnostic, args);
  abort_run();
}

void abort_credential(bool debug, const char* name, const char* why) {
  because("credential %s: %s", name, why);
  abort_run(debug, "credential %s: %s\n", name, why);
}

program_options take_options(int& argc, char**& argv, const char* program, const char* usage_line, unsigned accepted) {
  named = program;
  const program_options options = read_options(argc, argv, accepted);
  if (options.help) {
    std::printf("%soptions, before the arguments:\n", usage_line);
    for (int i = 0; option_help(accepted, i) != nullptr; ++i) std::printf("%s\n", option_help(accepted, i));
    end_run();
  }
  if (options.version) {
    std::printf("%s (udp-file-transfer) %s\n", program, PACKAGE_VERSION);
    end_run();
  }
  argc -= options.first_positional - 1;
  argv += options.first_positional - 1;
  return options;
}

void require_arguments(int argc, int fixed_args, const char* usage_line) {
  if (argc - 1 == fixed_args || argc - 1 == fixed_args + 1) return;
  std::printf("%s", usage_line);
  end_run();
}

void warn_at_start(const char* port_text, std::uint16_t port, const char* input) {
  if (!is_port_text(port_text))
    say("port \"%s\" is not a number from 0 to 65535: serving on port %u", port_text, static_cast<unsigned>(port));
  input_status status;
  std::FILE* file = open_input(input, status);
  if (file != nullptr) {
    std::fclose(file);
    return;
  }
  if (status == input_status::not_regular)
    say("%s is not a regular file: no delivery can be made from it", input);
  else
    say("%s cannot be opened now (%s); it is opened afresh for each delivery", input, std::strerror(errno));
}

std::FILE* open_served_file(const char* path, bool debug, std::span<char> buffer, const char* cannot_open,
                            const char* cannot_read) {
  input_status status;
  std::FILE* input = open_input(path, status);
  if (status == input_status::not_regular) {
    because("%s is not a regular file, and cannot be served", path);
    abort_run(debug, "%s", cannot_read);
  }
  if (input == nullptr) {
    because("cannot open %s: %s", path, std::strerror(errno));
    abort_run(debug, "%s", cannot_open);
  }
  std::setvbuf(input, buffer.data(), _IOFBF, buffer.size());
  return input;
}

const char* program_name() { return named; }

void say(const char* format, ...) {
  name_the_program(stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

void say_delivery(const sockaddr_in& peer, std::uint64_t bytes, std::uint64_t records, double seconds) {
  const double megabytes = static_cast<double>(bytes) / 1e6;
  say("sent %llu bytes in %llu records to %s in %.3f s (%.1f MB/s)", static_cast<unsigned long long>(bytes),
      static_cast<unsigned long long>(records), text_of(peer).data(), seconds, seconds > 0 ? megabytes / seconds : 0.0);
}

void note_capped_receive_buffer(int granted, int wanted) {
  if (granted <= 0 || granted >= wanted) return;
  say("note: the system granted a receive buffer of %d bytes, not the %d wanted; a busy machine may "
      "then drop datagrams of the file. As root, 'sysctl -w net.core.rmem_max=%d' lifts the cap.",
      granted, wanted, wanted / 2);
}

bool mysha1(const char* path, std::span<std::uint8_t, digest_len> digest) {
  const digest_status status = file_digest(path, digest);
  if (status == digest_status::open_failed) {
    std::printf("\nerror opening file1\n");
    std::fflush(stdout);
  }
  return status == digest_status::ok;
}

void send_or_abort(bool debug, int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to) {
  if (send_datagram(fd, datagram, to)) return;
  because("cannot send to %s: %s", text_of(to).data(), std::strerror(errno));
  abort_run(debug, "Error - packet size too long\n");
}

void abort_unknown_host(bool debug, const char* name, const char* diagnostic) {
  because("%s is neither an IPv4 address nor a host name known here", name);
  abort_run(debug, "%s", diagnostic);
}

void abort_socket(bool debug, const char* diagnostic) {
  because("cannot open a UDP socket: %s", std::strerror(errno));
  abort_run(debug, "%s", diagnostic);
}

void abort_bind(bool debug, const bound_socket& sock, std::uint16_t port) {
  if (!sock.opened) {
    because("cannot open a UDP socket: %s", std::strerror(sock.error));
    abort_run(debug, "Error while opening socket\n");
  }
  because("cannot bind UDP port %u: %s", static_cast<unsigned>(port), std::strerror(sock.error));
  abort_run(debug, "Error binding to socket\n");
}

void because_out_of_order(const char* what, unsigned expected, unsigned received) {
  because("%s %u lost or out of order (received %u): the path may be slower than the sender; see --rate", what,
          expected, received);
}

void abort_open_output(bool debug, const char* path, const char* diagnostic) {
  because("cannot open %s for writing: %s", path, std::strerror(errno));
  abort_run(debug, "%s", diagnostic);
}

void abort_digest_differs(const char* path, const sockaddr_in& peer) {
  because("the digest of %s differs from the one %s sent", path, text_of(peer).data());
  abort_run();
}

void abort_stream(bool debug, send_status status, const sockaddr_in& peer, const char* path,
                  const char* read_diagnostic) {
  if (status == send_status::read_failed) {
    because("cannot read %s on: %s", path, std::strerror(errno));
    abort_run(debug, "%s", read_diagnostic);
  }
  because("cannot send the stream to %s: %s", text_of(peer).data(), std::strerror(errno));
  abort_run(debug, "Error - packet size too long\n");
}

void abort_write(bool debug, const char* path, int error, const char* diagnostic) {
  if (error != 0)
    because("cannot write %s: %s", path, std::strerror(error));
  else
    because("cannot write %s", path);
  abort_run(debug, "%s", diagnostic);
}

bool wait_ran_out() { return errno == EAGAIN || errno == EWOULDBLOCK; }
