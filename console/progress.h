#ifndef CONSOLE_PROGRESS_H
#define CONSOLE_PROGRESS_H

// A client's sign of life while a file arrives: bytes so far, the rate and
// the time since the first, on one line of standard error redrawn a few
// times a second, and cleared at the end. Shown only when standard error is
// a terminal: a log or a pipe gets nothing. The protocols do not carry the
// file's size, so there is no share done.

#include <chrono>
#include <cstddef>
#include <cstdint>

class progress_line {
 public:
  progress_line();
  ~progress_line() { clear(); }

  // Counts bytes stored; redraws the line when it is due.
  void add(std::size_t bytes);

  // Erases the line, if it was ever drawn.
  void clear();

  progress_line(const progress_line&) = delete;
  progress_line& operator=(const progress_line&) = delete;

 private:
  using clock = std::chrono::steady_clock;
  void draw(clock::time_point now);

  bool shown_;  // standard error is a terminal
  bool drawn_ = false;
  std::uint64_t bytes_ = 0;
  std::uint32_t calls_ = 0;
  clock::time_point first_{};
  clock::time_point next_draw_{};
};

#endif
