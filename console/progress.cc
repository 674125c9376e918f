#include "console/progress.h"

#include <cstdio>

#include <unistd.h>

#include "console/console.h"

namespace {

// How often the line is redrawn, and how many additions pass between two
// looks at the clock (a record is about a kilobyte).
constexpr auto redraw_every = std::chrono::milliseconds(250);
constexpr std::uint32_t look_every = 256;

}  // namespace

progress_line::progress_line() : shown_(isatty(STDERR_FILENO) == 1) {}

void progress_line::add(std::size_t bytes) {
  if (!shown_) return;
  bytes_ += bytes;
  if (calls_++ % look_every != 0) return;
  const clock::time_point now = clock::now();
  if (first_ == clock::time_point{}) {
    first_ = now;
    next_draw_ = now + redraw_every;
    return;
  }
  if (now >= next_draw_) {
    draw(now);
    next_draw_ = now + redraw_every;
  }
}

void progress_line::draw(clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - first_).count();
  const double megabytes = static_cast<double>(bytes_) / 1e6;
  // \r and the erase-to-end sequence: the line is drawn over itself.
  std::fprintf(stderr, "\r%s: received %.1f MB, %.1f MB/s, %.1f s\033[K", program_name(), megabytes,
               seconds > 0 ? megabytes / seconds : 0.0, seconds);
  std::fflush(stderr);
  drawn_ = true;
}

void progress_line::clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}
