#ifndef COMMON_CONSOLE_H
#define COMMON_CONSOLE_H

#include <cstdarg>

// Console conventions shared by every program: the outcome goes to standard
// output only, diagnostics appear only in debug mode, and every ending exits
// with status 0.

// Gives standard output a large buffer, so that debug lines printed inside a
// stream of datagrams cost no system call each. Call first in main. The
// output is flushed whenever the program is about to wait (flush_console) and
// when it ends, so a reader of a pipe still sees every line before the
// program waits for anything.
void start_console();

// Flushes standard output; called right before every wait for a peer.
void flush_console();

// True when argv holds fixed_args arguments plus an optional last one that is
// exactly "-DDEBUG". Call only after the argument count has been checked.
bool debug_switch(int argc, const char* const argv[], int fixed_args);

// printf to standard output, only when debug is set.
void debug_print(bool debug, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Flushes standard output and ends the program with status 0.
[[noreturn]] void end_run();

// Prints "ABORT\n" and ends the program with status 0.
[[noreturn]] void abort_run();

// Every program's one way to fail: the diagnostic (a printf format) in debug
// mode only, then "ABORT\n", then status 0.
[[noreturn]] void abort_run(bool debug, const char* diagnostic, ...) __attribute__((format(printf, 2, 3)));

// abort_run with the diagnostic's arguments already gathered.
[[noreturn]] void vabort_run(bool debug, const char* diagnostic, va_list args) __attribute__((format(printf, 2, 0)));

// Fails because the secret argument name could not be read from the service
// manager's credentials: says so on standard error in every mode (standard
// output stays as its callers parse it), then ends as abort_run does, with
// the same words as its diagnostic.
[[noreturn]] void abort_credential(bool debug, const char* program, const char* name, const char* reason);

// Says once on standard error, never on standard output, that the system
// granted a smaller socket receive buffer than wanted (both as the kernel
// counts them) and which setting lifts the cap. Says nothing otherwise.
void note_capped_receive_buffer(const char* program, int granted, int wanted);

#endif
