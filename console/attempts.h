#ifndef CONSOLE_ATTEMPTS_H
#define CONSOLE_ATTEMPTS_H

// A client's exchange tried again from its first message after a failure,
// when its user asked for it (--retries). Every attempt but the last runs in
// a child process of its own, with fresh sockets and a freshly truncated
// output file, and its standard output kept aside: standard output carries
// what the attempt that ends the run printed, exactly as one run without
// retries would, and each earlier failure is one line on standard error.

// Returns in the process that is to run an attempt. Call before anything of
// the exchange is set up; with retries 0 it returns at once.
void run_attempts(int retries);

#endif
