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

// Why an attempt failed: its reason line, without the program's name.
std::string reason_of(const std::string& said) {
  std::string line = said.substr(0, said.find('\n'));
  const std::string name = std::string(program_name()) + ": ";
  if (line.starts_with(name)) line.erase(0, name.size());
  return line.empty() ? "no reason given" : line;
}

}  // namespace

void run_attempts(int retries) {
  for (int attempt = 1; attempt <= retries; ++attempt) {
    const int output = attempt_output();
    if (output < 0) return;
    const int reason = attempt_output();
    if (reason < 0) {
      close(output);
      return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
      close(output);
      close(reason);
      return;
    }
    if (child == 0) {
      dup2(output, STDOUT_FILENO);
      close(output);
      // The reason is said once, in the line that starts the next attempt.
      std::FILE* reasons = fdopen(reason, "w");
      if (reasons != nullptr) send_reasons_to(reasons);
      return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string printed = text_of(output);
    const std::string said = text_of(reason);
    close(output);
    close(reason);
    const bool ok = WIFEXITED(status) && printed.size() >= 3 && printed.compare(printed.size() - 3, 3, "OK\n") == 0;
    if (ok) {
      std::fwrite(printed.data(), 1, printed.size(), stdout);
      end_run();
    }
    const std::string why =
        WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : reason_of(said);
    say("attempt %d of %d failed: %s; starting again", attempt, retries + 1, why.c_str());
  }
}
