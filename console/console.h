#ifndef CONSOLE_CONSOLE_H
#define CONSOLE_CONSOLE_H

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include <netinet/in.h>

#include "common/options.h"
#include "common/sha1.h"
#include "common/udp.h"
#include "stream/send.h"
#include "stream/store.h"

// Console conventions shared by every program: the outcome goes to standard
// output only, diagnostics appear only in debug mode, and every ending exits
// with status 0.

// Gives standard output a large buffer, so that debug lines printed inside a
// stream of datagrams cost no system call each. Call first in main. The
// output is flushed whenever the program is about to wait for a peer (the
// libraries say so through before_wait) and when it ends, so a reader of a
// pipe still sees every line before the program waits for anything.
void start_console();

// True when argv holds fixed_args arguments plus an optional last one that is
// exactly "-DDEBUG". Call only after the argument count has been checked.
bool debug_switch(int argc, const char* const argv[], int fixed_args);

// printf to standard output, only when debug is set.
void debug_print(bool debug, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Flushes standard output and ends the program with status 0.
[[noreturn]] void end_run();

// Why the run is about to fail, in its user's words (a printf format, one
// line): the peer, the path or the system's error text, as fits. The next
// abort_run says it on standard error.
void because(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Says the reason for the failure on standard error, in every mode, as one
// line after the program's name (the one given by because, else the first
// line of the diagnostic), then prints "ABORT\n" and ends the program with
// status 0.
[[noreturn]] void abort_run();

// Every program's one way to fail: the diagnostic (a printf format) in debug
// mode only, then as abort_run() does.
[[noreturn]] void abort_run(bool debug, const char* diagnostic, ...) __attribute__((format(printf, 2, 3)));

// abort_run with the diagnostic's arguments already gathered.
[[noreturn]] void vabort_run(bool debug, const char* diagnostic, va_list args) __attribute__((format(printf, 2, 0)));

// Where the reasons for a failure go instead of standard error: an attempt
// that is to be tried again leaves its reason to the run that tries again.
void send_reasons_to(std::FILE* out);

// Step 1 of every program, which names the program for its lines on
// standard error: reads the options it takes, answers --help (the
// usage line, then a line for each option) and --version (the program's name
// and the package's version) on standard output and ends the run, and
// otherwise moves argc and argv past the options, so that the program reads
// its arguments from argv[1] as it always has.
program_options take_options(int& argc, char**& argv, const char* program, const char* usage_line, unsigned accepted);

// Prints the usage line and ends the run unless there are fixed_args
// arguments, or one more (the debug switch).
void require_arguments(int argc, int fixed_args, const char* usage_line);

// A server's warnings at start-up, where what it will do most likely differs
// from what its operator meant: a port text that is not a number from 0 to
// 65535 (it serves on port all the same), and an input file that cannot be
// served now (it is opened afresh for each delivery, so that is no error
// yet).
void warn_at_start(const char* port_text, std::uint16_t port, const char* input);

// A server's input for one delivery, opened afresh and read through buffer.
// A file that cannot be opened ends the run with cannot_open as diagnostic;
// anything but a regular file cannot be read twice, for the stream and for
// its digest, and is refused with cannot_read.
std::FILE* open_served_file(const char* path, bool debug, std::span<char> buffer, const char* cannot_open,
                            const char* cannot_read);

// The name the program gave take_options, for its lines on standard error;
// empty before.
const char* program_name();

// Says on standard error, in every mode, one line: the program's name, a
// colon, then the text. Standard output, which callers parse, stays as it is.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Says on standard error what one delivery sent: the peer, the file bytes
// and records, the time from its first record to its digest, and the rate.
// Sent, not received: nothing tells a server what its client kept.
void say_delivery(const sockaddr_in& peer, std::uint64_t bytes, std::uint64_t records, double seconds);

// Fails because the secret argument name could not be read from the service
// manager's credentials: says so on standard error in every mode (standard
// output stays as its callers parse it), then ends as abort_run does, with
// the same words as its diagnostic.
[[noreturn]] void abort_credential(bool debug, const char* name, const char* why);

// Says once on standard error, never on standard output, that the system
// granted a smaller socket receive buffer than wanted (both as the kernel
// counts them) and which setting lifts the cap. Says nothing otherwise.
void note_capped_receive_buffer(int granted, int wanted);

// Sends one datagram; a send that fails, or goes out only in part, ends the
// run with the diagnostic that every failed send of the systems has.
void send_or_abort(bool debug, int fd, std::span<const std::uint8_t> datagram, const sockaddr_in& to);

// Ends a run whose receive from peer failed, with the diagnostic: the reason
// is the bound on the wait when it ran out (timed_out), else the system's
// error text, in errno when this is called. Inline, since the bound is the
// one the calling program was built with.
[[noreturn]] inline void abort_receive(bool debug, const sockaddr_in& peer, bool timed_out, const char* diagnostic) {
  if (timed_out)
    because("no answer from %s within %d s", text_of(peer).data(), receive_wait_seconds);
  else
    because("cannot receive from %s: %s", text_of(peer).data(), std::strerror(errno));
  abort_run(debug, "%s", diagnostic);
}

// Ends a run whose peer's name is neither an IPv4 address nor a host name
// known here, with the diagnostic.
[[noreturn]] void abort_unknown_host(bool debug, const char* name, const char* diagnostic);

// Ends a run that could not open a socket, with the system's error text in
// errno, and the diagnostic.
[[noreturn]] void abort_socket(bool debug, const char* diagnostic);

// Ends a server whose socket could not be opened or bound to port, with the
// system's error text and the matching diagnostic.
[[noreturn]] void abort_bind(bool debug, const bound_socket& sock, std::uint16_t port);

// Ends a server whose stream of the file at path to peer stopped short (a
// send failed, or a read: then with read_diagnostic), after the records
// before went out.
[[noreturn]] void abort_stream(bool debug, send_status status, const sockaddr_in& peer, const char* path,
                               const char* read_diagnostic);

// Says why a stream ended at a gap in its numbering: which datagram (named
// by what, "DATA" or "record") was expected, and which came instead.
void because_out_of_order(const char* what, unsigned expected, unsigned received);

// Ends a client whose output file at path cannot be created, with the
// system's error text in errno, and the diagnostic.
[[noreturn]] void abort_open_output(bool debug, const char* path, const char* diagnostic);

// Ends a client whose stored file at path has another digest than the one
// peer sent; its diagnostic lines are printed before.
[[noreturn]] void abort_digest_differs(const char* path, const sockaddr_in& peer);

// Ends a run whose output file at path could not take the file's bytes,
// with the diagnostic; error is the system's error number, 0 when unknown.
[[noreturn]] void abort_write(bool debug, const char* path, int error, const char* diagnostic);

// Returns when a client's stream into path from peer came to its end; ends
// the run otherwise: after a refused datagram (its reason is given), a
// failed write (with write_diagnostic), or a receive that failed or ran out
// of time. Inline, as abort_receive is.
inline void abort_unless_ended(bool debug, stream_end end, const char* path, int write_error, const sockaddr_in& peer,
                               const char* write_diagnostic) {
  switch (end) {
    case stream_end::ended:
      return;
    case stream_end::refused:
      abort_run();
    case stream_end::write_failed:
      abort_write(debug, path, write_error, write_diagnostic);
    case stream_end::timed_out:
    case stream_end::receive_failed:
      abort_receive(debug, peer, end == stream_end::timed_out, "error receiving packet\n");
  }
}

// Whether a receive that just failed did so because its wait ran out.
bool wait_ran_out();

// The digest of the file at path, as the programs' steps take it: a file
// that cannot be opened is said on standard output in every mode, as
// "\nerror opening file1\n". False when there is no digest.
bool mysha1(const char* path, std::span<std::uint8_t, digest_len> digest);

#endif
