#include "common/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void start_console() { std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

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
  if (debug) {
    va_list args;
    va_start(args, diagnostic);
    std::vprintf(diagnostic, args);
    va_end(args);
  }
  abort_run();
}
