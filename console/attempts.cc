#include "console/attempts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console/console.h"

namespace {

// A file for an attempt's standard output that nothing else can see; -1
// when there is none.
int attempt_output() {
  const int fd = memfd_create("attempt", MFD_CLOEXEC);
  if (fd >= 0) return fd;
  std::FILE* file = std::tmpfile();
  return file != nullptr ? dup(fileno(file)) : -1;
}

std::string text_of(int fd) {
  std::string text;
  char piece[4096];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, piece, sizeof piece, at);
    if (n <= 0) break;
    text.append(piece, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

// The line an attempt ended on, before "ABORT" when there is one: what the
// program said last.
std::string last_words(const std::string& text) {
  std::string rest = text;
  if (rest.size() >= 6 && rest.compare(rest.size() - 6, 6, "ABORT\n") == 0) rest.resize(rest.size() - 6);
  while (!rest.empty() && rest.back() == '\n') rest.pop_back();
  const std::size_t start = rest.rfind('\n');
  std::string line = rest.substr(start == std::string::npos ? 0 : start + 1);
  return line.empty() ? "ABORT" : line;
}

}  // namespace

void run_attempts(const char* program, int retries) {
  for (int attempt = 1; attempt <= retries; ++attempt) {
    const int output = attempt_output();
    if (output < 0) return;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
      close(output);
      return;
    }
    if (child == 0) {
      dup2(output, STDOUT_FILENO);
      close(output);
      return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string printed = text_of(output);
    close(output);
    const bool ok = WIFEXITED(status) && printed.size() >= 3 && printed.compare(printed.size() - 3, 3, "OK\n") == 0;
    if (ok) {
      std::fwrite(printed.data(), 1, printed.size(), stdout);
      end_run();
    }
    say(program, "attempt %d of %d failed (%s); starting again", attempt, retries + 1, last_words(printed).c_str());
  }
}
