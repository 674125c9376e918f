#ifndef TESTS_SUPPORT_SYSTEMS_H
#define TESTS_SUPPORT_SYSTEMS_H

// Each whole system on 127.0.0.1, as a test that plays no part of it runs
// it: its servers serving dir/input, bound before use, and clients started
// against them. Header only: the program paths are the including test's
// (AUTHSERVER_PATH, SERVER_PATH, CLIENT_PATH, PASSFEED_PATH, PASSFETCH_PATH).

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/programs.h"

namespace testing_support {

enum class system_kind { ticket, password };

inline const char* system_name(system_kind kind) { return kind == system_kind::ticket ? "ticket" : "password"; }

class SystemRun {
 public:
  // The input is in place before any server starts: passfeed looks for it.
  explicit SystemRun(const bytes& content) { write_file(input(), content); }
  virtual ~SystemRun() = default;
  // Whether every server has bound its port.
  virtual bool ready() const = 0;
  // The program and arguments of a client that stores into output.
  virtual std::vector<std::string> client_command(const std::filesystem::path& output) = 0;
  // Starts a client that stores into output, with what it prints in
  // dir/client.out.
  std::unique_ptr<Process> start_client(const std::filesystem::path& output) {
    std::vector<std::string> command = client_command(output);
    const std::string program = command.front();
    command.erase(command.begin());
    return std::make_unique<Process>(program, command, dir / "client.out");
  }
  // The server that streams the file.
  virtual Process& file_server() = 0;

  std::filesystem::path input() const { return dir / "input"; }
  TempDir dir;
};

namespace systems {

inline constexpr char client_key[] = "133457799BBCDFF1";
inline constexpr char server_key[] = "0E329232EA6D0D73";
inline constexpr char password[] = "open sesame";

class TicketRun final : public SystemRun {
 public:
  TicketRun(const bytes& content, const std::vector<std::string>& options) : SystemRun(content) {
    authserver_.emplace(AUTHSERVER_PATH, std::vector<std::string>{client_key, server_key, "srv", "300"},
                        dir / "authserver.out");
    server_.emplace(SERVER_PATH, std::vector<std::string>{server_key, input().string()}, dir / "server.out", options);
  }
  bool ready() const override { return authserver_->bound() && server_->bound(); }
  std::vector<std::string> client_command(const std::filesystem::path& output) override {
    return {CLIENT_PATH,     "127.0.0.1", std::to_string(authserver_->port()),
            client_key,      "127.0.0.1", std::to_string(server_->port()),
            output.string(), "alice",     "srv"};
  }
  Process& file_server() override { return *server_; }

 private:
  std::optional<ServerProcess> authserver_;
  std::optional<ServerProcess> server_;
};

class PasswordRun final : public SystemRun {
 public:
  PasswordRun(const bytes& content, const std::vector<std::string>& options) : SystemRun(content) {
    server_.emplace(PASSFEED_PATH, std::vector<std::string>{password, input().string()}, dir / "server.out", options);
  }
  bool ready() const override { return server_->bound(); }
  std::vector<std::string> client_command(const std::filesystem::path& output) override {
    return {PASSFETCH_PATH, "127.0.0.1", std::to_string(server_->port()), "x", password, "y", output.string()};
  }
  Process& file_server() override { return *server_; }

 private:
  std::optional<ServerProcess> server_;
};

}  // namespace systems

// The system's servers, serving an input file of content; options go before
// the file server's positional arguments.
inline std::unique_ptr<SystemRun> start_system(system_kind kind, const bytes& content,
                                               const std::vector<std::string>& options = {}) {
  if (kind == system_kind::ticket) return std::make_unique<systems::TicketRun>(content, options);
  return std::make_unique<systems::PasswordRun>(content, options);
}

}  // namespace testing_support

#endif
