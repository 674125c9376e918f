// bench_spawn <timeout seconds> <program> [arguments...]: runs the program
// with this helper's standard output, waits for it at most the timeout
// (then kills it), and prints on standard error one line of key=value
// fields: the program's PID, exit status, wall and CPU seconds and peak
// resident memory (ru_maxrss). The peak a process reports includes what it
// held before exec, so a client started straight from the benchmark driver
// would report the driver's size; this helper is small, so the figure is the
// program's own.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/stream.h"

namespace {
volatile sig_atomic_t child = 0;

void on_alarm(int) {
  if (child > 0) kill(child, SIGKILL);
}
}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) bench::die("usage: bench_spawn <timeout seconds> <program> [arguments...]");
  const auto timeout = static_cast<unsigned>(bench::number_arg(argv, 1));
  const pid_t parent = getpid();

  const double start = bench::seconds_now();
  const pid_t pid = fork();
  if (pid < 0) bench::die("fork");
  if (pid == 0) {
    // The program must not outlive this helper, whoever ends it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    execv(argv[2], &argv[2]);
    _exit(127);
  }
  child = pid;
  std::signal(SIGALRM, on_alarm);
  alarm(timeout);

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) bench::die("wait4");
  }
  alarm(0);
  const double seconds = bench::seconds_now() - start;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::fprintf(stderr, "pid=%d exited=%d status=%d seconds=%.6f cpu_seconds=%.6f maxrss_kb=%ld\n",
               static_cast<int>(pid), WIFEXITED(status) ? 1 : 0, WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds,
               cpu, usage.ru_maxrss);
  return 0;
}
