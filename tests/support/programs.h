#ifndef TESTS_SUPPORT_PROGRAMS_H
#define TESTS_SUPPORT_PROGRAMS_H

// Running the real programs as every test does: a server on a fresh port that
// has bound it before anyone sends to it, and runs that must end by themselves
// with exit status 0.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace testing_support {

// A server program run as `path <port> args...` on a fresh port. The
// constructor waits, with a deadline, until the port is bound: a datagram
// sent earlier would simply be lost.
class ServerProcess : public Process {
 public:
  ServerProcess(const std::string& path, const std::vector<std::string>& args, const std::filesystem::path& output);

  std::uint16_t port() const { return port_; }
  // False when the port was not bound in time.
  bool bound() const { return bound_; }

 private:
  ServerProcess(std::uint16_t port, const std::string& path, const std::vector<std::string>& args,
                const std::filesystem::path& output);

  std::uint16_t port_;
  bool bound_;
};

// Waits for process to end by itself, expects exit status 0, and returns
// everything it printed.
std::string output_at_exit(Process& process, std::chrono::milliseconds deadline = 20s);

}  // namespace testing_support

#endif
