#ifndef COMMON_CONSOLE_H
#define COMMON_CONSOLE_H

// Console conventions shared by every program: the outcome goes to standard
// output only, diagnostics appear only in debug mode, and every ending exits
// with status 0.

// Makes standard output line-buffered, so that whoever reads it through a
// pipe sees each line as soon as it is printed. Call first in main.
void start_console();

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

#endif
