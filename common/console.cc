#include "common/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void start_console() { std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{64} * 1024); }

void flush_console() { std::fflush(stdout); }

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

void abort_run() {
  std::printf("ABORT\n");
  end_run();
}

void abort_run(bool debug, const char* diagnostic, ...) {
  va_list args;
  va_start(args, diagnostic);
  vabort_run(debug, diagnostic, args);
}

void vabort_run(bool debug, const char* diagnostic, va_list args) {
  if (debug) std::vprintf(diagnostic, args);
  abort_run();
}

void abort_credential(bool debug, const char* program, const char* name, const char* reason) {
  std::fprintf(stderr, "%s: credential %s: %s\n", program, name, reason);
  abort_run(debug, "credential %s: %s\n", name, reason);
}

void note_capped_receive_buffer(const char* program, int granted, int wanted) {
  if (granted <= 0 || granted >= wanted) return;
  std::fprintf(stderr,
               "%s: note: the system granted a receive buffer of %d bytes, not the %d wanted; a busy machine may "
               "then drop datagrams of the file. As root, 'sysctl -w net.core.rmem_max=%d' lifts the cap.\n",
               program, granted, wanted, wanted / 2);
}
