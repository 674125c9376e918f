// What the programs say on standard error, which people read: a server's
// line for each delivery, and a client's progress, only on a terminal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/systems.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr system_kind both[] = {system_kind::ticket, system_kind::password};

// File bytes each record of a system carries.
std::size_t piece_of(system_kind kind) { return kind == system_kind::ticket ? 972 : 1000; }
const char* server_of(system_kind kind) { return kind == system_kind::ticket ? "server" : "passfeed"; }

TEST(StandardError, EachDeliveryHasItsLineOnTheServer) {
  const bytes input = random_bytes(123'456, 5);
  for (const system_kind kind : both) {
    SCOPED_TRACE(system_name(kind));
    const auto run = start_system(kind, input);
    ASSERT_TRUE(run->ready());
    for (int client = 1; client <= 2; ++client) {
      const auto fetched = run->start_client(run->dir / "out");
      EXPECT_EQ(output_at_exit(*fetched, 30s), "OK\n");
    }
    EXPECT_TRUE(run->file_server().wait_for_output("OK\nOK\n", 10s));
    // The data records and the closing one.
    const std::size_t records = input.size() / piece_of(kind) + 1 + 1;
    const std::string start = std::string(server_of(kind)) + ": sent " + std::to_string(input.size()) + " bytes in " +
                              std::to_string(records) + " records to 127.0.0.1:";
    const std::string said = run->file_server().errors();
    int lines = 0;
    for (std::size_t at = 0, end; (end = said.find('\n', at)) != std::string::npos; at = end + 1) {
      const std::string line = said.substr(at, end - at);
      const bool timed = line.find(" s (") != std::string::npos && line.ends_with(" MB/s)");
      if (line.starts_with(start) && timed) ++lines;
    }
    EXPECT_EQ(lines, 2) << said;
    // Standard output stays what callers parse.
    EXPECT_EQ(run->file_server().output(), "OK\nOK\n");
  }
}

TEST(StandardError, ServersWarnAtStartWhereTheyWillDoOtherThanMeant) {
  struct Row {
    const char* name;
    const char* program;
    std::string secret;
    const char* port;
    bool input_exists;
    std::string warnings;  // with the port each comes to, and the input's path for INPUT
  };
  const Row rows[] = {
      {"server, port text and missing input", SERVER_PATH, systems::server_key, "65536", false,
       "server: port \"65536\" is not a number from 0 to 65535: serving on port 0\n"
       "server: INPUT cannot be opened now (No such file or directory); it is opened afresh for each delivery\n"},
      {"passfeed, port text", PASSFEED_PATH, systems::password, "65536", true,
       "passfeed: port \"65536\" is not a number from 0 to 65535: serving on port 0\n"},
      {"server, nothing to say", SERVER_PATH, systems::server_key, "PORT", true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const auto input = dir / "input";
    if (row.input_exists) write_file(input, {1, 2, 3});
    const std::uint16_t free_port = free_udp_port();
    const std::string port = std::string(row.port) == "PORT" ? std::to_string(free_port) : row.port;
    Process server(row.program, {port, row.secret, input.string()}, dir / "server.out");
    std::string warnings = row.warnings;
    for (std::size_t at = warnings.find("INPUT"); at != std::string::npos; at = warnings.find("INPUT"))
      warnings.replace(at, 5, input.string());
    // Said before the server waits for its first client, which it then does.
    if (warnings.empty()) {
      EXPECT_TRUE(wait_udp_bound(free_port));
    } else {
      EXPECT_TRUE(wait_until([&] { return server.errors() == warnings; }, 10s)) << server.errors();
    }
    EXPECT_TRUE(server.running());
    EXPECT_EQ(server.errors(), warnings);
    EXPECT_EQ(server.output(), "");
  }
}

// Runs command to its end with standard error on a pseudo-terminal, and
// returns what it wrote there; standard output goes to out.
std::string stderr_on_a_terminal(const std::vector<std::string>& command, const std::filesystem::path& out) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no pseudo-terminal";
  const std::string terminal = ptsname(master);
  std::vector<std::string> words = command;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int slave = open(terminal.c_str(), O_RDWR);
    const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(slave, STDERR_FILENO);
    dup2(output, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string said;
  const auto until = std::chrono::steady_clock::now() + 60s;
  int status = 0;
  bool ended = false;
  while (std::chrono::steady_clock::now() < until) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 50) > 0 && (ready.revents & POLLIN) != 0) {
      char chunk[4096];
      const ssize_t n = read(master, chunk, sizeof chunk);
      if (n > 0) said.append(chunk, static_cast<std::size_t>(n));
    }
    if (!ended && waitpid(pid, &status, WNOHANG) == pid) ended = true;
    // Drained after the end: the terminal holds what was written last, and
    // then only hangs up.
    if (ended && (poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0)) break;
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  close(master);
  return said;
}

TEST(StandardError, ClientsShowProgressOnATerminalOnly) {
  // At the capped rate the stream takes a second, several redraws, however
  // fast the machine.
  const bytes input = random_bytes(std::size_t{40} * 1000 * 1000, 6);
  for (const system_kind kind : both) {
    SCOPED_TRACE(system_name(kind));
    const auto run = start_system(kind, input, {"--rate", "330M"});
    ASSERT_TRUE(run->ready());
    const std::string said = stderr_on_a_terminal(run->client_command(run->dir / "out"), run->dir / "client.out");
    EXPECT_NE(said.find(" MB/s, "), std::string::npos) << said;
    // Cleared at the end: the last thing written erases the line.
    EXPECT_EQ(said.substr(said.size() >= 4 ? said.size() - 4 : 0), "\r\033[K") << said;
    EXPECT_EQ(read_file(run->dir / "client.out"), bytes({'O', 'K', '\n'}));

    // Not a terminal: nothing.
    const auto piped = run->start_client(run->dir / "out");
    EXPECT_EQ(output_at_exit(*piped, 60s), "OK\n");
    EXPECT_EQ(piped->errors(), "");
  }
}

}  // namespace
