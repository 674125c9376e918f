#ifndef COMMON_WAITING_H
#define COMMON_WAITING_H

// Library code that may block for a peer says so first, and the program
// decides what must happen then: its console flushes standard output, so
// that a reader of a pipe sees every line before the program waits.

// Sets what before_wait does; nothing until a program sets it.
void on_wait(void (*hook)());

// Called right before a receive that may block.
void before_wait();

#endif
