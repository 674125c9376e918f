#ifndef TESTS_SUPPORT_PROGRAMS_H
#define TESTS_SUPPORT_PROGRAMS_H

// Running the real programs as every test does: a server on a fresh port that
// has bound it before anyone sends to it, and runs that must end by themselves
// with exit status 0.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/udp_peer.h"

namespace testing_support {

// A server program run as `path [options...] <port> args...` on a fresh port. The
// constructor waits, with a deadline, until the port is bound: a datagram
// sent earlier would simply be lost.
class ServerProcess : public Process {
 public:
  // options go before the port.
  ServerProcess(const std::string& path, const std::vector<std::string>& args, const std::filesystem::path& output,
                const std::vector<std::string>& options = {});

  std::uint16_t port() const { return port_; }
  // False when the port was not bound in time.
  bool bound() const { return bound_; }

 private:
  ServerProcess(std::uint16_t port, const std::string& path, const std::vector<std::string>& args,
                const std::filesystem::path& output, const std::vector<std::string>& options);

  std::uint16_t port_;
  bool bound_;
};

// One run of a file server (the application server or passfeed), started as
// `path <port> <secret> <input> [last]` with the input file in a temporary
// directory of its own, and the socket of the client that the test plays.
class FileServerRun {
 public:
  // last may be nullptr for no last argument.
  FileServerRun(const std::string& path, const std::string& secret, const bytes& file, const char* last);

  std::filesystem::path input() const { return dir / "input"; }
  std::uint16_t port() const { return server->port(); }
  bool bound() const { return server->bound(); }
  // Sends from the client's socket.
  void send(std::span<const std::uint8_t> datagram) const { client.send_to(port(), datagram); }
  // Waits for the server to end by itself with status 0; everything it printed.
  std::string ended(std::chrono::milliseconds deadline = 20s);

  TempDir dir;
  // Bound before the server's port is picked, so that it cannot take it.
  UdpPeer client;
  std::optional<ServerProcess> server;
};

// Waits for process to end by itself, expects exit status 0, and returns
// everything it printed. A run that ended in "ABORT" must have said why on
// standard error, in its last line there, after its own name.
std::string output_at_exit(Process& process, std::chrono::milliseconds deadline = 20s);

}  // namespace testing_support

#endif
