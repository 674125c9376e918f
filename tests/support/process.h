#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

// Support for tests that run the real programs: a child process whose output
// goes to a file, a per-test temporary directory, free ports, and waits that
// always have a deadline.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/sha1.h"

namespace testing_support {

using namespace std::chrono_literals;

// A started program. Its standard output goes to a file, its standard error
// to another beside it (the same name with ".err"), since callers parse the
// one and people read the other; the destructor kills it and reaps it by its
// own PID if it is still running.
class Process {
 public:
  Process(const std::string& path, const std::vector<std::string>& args, const std::filesystem::path& output);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Waits for the exit; the exit status, or nothing when the deadline passed
  // or the process died from a signal (then signalled() is true).
  std::optional<int> wait(std::chrono::milliseconds deadline = 20s);
  bool signalled() const { return signalled_; }
  // Kills and reaps the process now.
  void stop();
  bool running() const { return pid_ > 0 && !reaped_; }
  // Everything the process has printed so far on standard output.
  std::string output() const;
  // Everything it has written to standard error so far.
  std::string errors() const;
  // Waits until output() contains text.
  bool wait_for_output(const std::string& text, std::chrono::milliseconds deadline = 20s) const;
  // Waits until output() is text and nothing more.
  bool wait_for_exact_output(const std::string& text, std::chrono::milliseconds deadline = 20s) const;
  pid_t pid() const { return pid_; }
  // The program's file name, as it names itself on standard error.
  std::string name() const { return name_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  bool signalled_ = false;
  int status_ = 0;
  std::filesystem::path errors_path() const { return output_.string() + ".err"; }

  std::filesystem::path output_;
  std::string name_;
};

// Polls done until it holds or the deadline passes; whether it held.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline);

// A directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A UDP port below the ephemeral range that was free a moment ago.
std::uint16_t free_udp_port();

// Waits until some socket is bound to the UDP port (from /proc/net/udp).
bool wait_udp_bound(std::uint16_t port, std::chrono::milliseconds deadline = 10s);
// Bytes queued for reading on the UDP socket bound to port (from
// /proc/net/udp); 0 when no socket is.
std::size_t queued_udp_bytes(std::uint16_t port);

using bytes = std::vector<std::uint8_t>;

void write_file(const std::filesystem::path& path, const bytes& content);
bytes read_file(const std::filesystem::path& path);
bytes random_bytes(std::size_t count, std::uint32_t seed = 1);
// The SHA-1 digest of content, computed by the library itself in one call,
// not by the programs' own code.
sha1_digest digest_of(const bytes& content);

}  // namespace testing_support

#endif
