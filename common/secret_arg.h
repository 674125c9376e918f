#ifndef COMMON_SECRET_ARG_H
#define COMMON_SECRET_ARG_H

// Keys and passwords given on the command line can be read by every local
// user (ps, /proc/PID/cmdline) for as long as the program runs. A program
// overwrites each one in place as soon as it has read it, so the process list
// shows 'x's of the same length instead. This cannot cover the moment between
// the start and the overwrite, and it does not touch the program's own memory
// or its environment.

#include <span>

// Overwrites text with 'x's up to its terminating zero. The kernel shows the
// argument area as it is in memory, so a placeholder of the same length keeps
// every other argument where ps expects it.
void hide_argument(char* text);

// For a secret still needed as text: copies text into copy (cut to
// copy.size() - 1 characters, always terminated), hides text, and returns the
// copy. A copy one character longer than any accepted secret keeps a cut one
// too long to be accepted.
const char* take_argument(char* text, std::span<char> copy);

#endif
