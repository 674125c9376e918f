// The whole ticket system on 127.0.0.1: the real authserver, server and
// client, with nothing played by the test but the files and the keys.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/ticket_peer.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr const char* client_key = client_key_text;
constexpr const char* server_key = server_key_text;
constexpr char other_key[] = "F1DFBC9B79573413";

// Removes text from the front of rest; false when rest does not start with it.
bool take(std::string_view& rest, std::string_view text) {
  if (rest.substr(0, text.size()) != text) return false;
  rest.remove_prefix(text.size());
  return true;
}

// Removes and returns the longest front of rest made of the characters in set.
std::string take_while(std::string_view& rest, std::string_view set) {
  const std::size_t end = std::min(rest.find_first_not_of(set), rest.size());
  std::string front(rest.substr(0, end));
  rest.remove_prefix(end);
  return front;
}

// An authserver and a server that serves dir/in, both bound before use.
class TicketSystem {
 public:
  TempDir dir;
  std::optional<ServerProcess> authserver;
  std::optional<ServerProcess> server;
  bool ready = false;

  explicit TicketSystem(const std::string& lifetime = "300", const char* key_of_server = server_key) {
    authserver.emplace(AUTHSERVER_PATH, std::vector<std::string>{client_key, server_key, "srv", lifetime},
                       dir / "authserver.out");
    server.emplace(SERVER_PATH, std::vector<std::string>{key_of_server, input().string()}, dir / "server.out");
    ready = authserver->bound() && server->bound();
  }

  std::filesystem::path input() const { return dir / "in"; }
  std::filesystem::path output() const { return dir / "out"; }

  // Runs one client to its end and returns what it printed.
  std::string fetch(const char* key = client_key, const std::string& last = "", const char* program = CLIENT_PATH) {
    std::vector<std::string> args = {"127.0.0.1",
                                     std::to_string(authserver->port()),
                                     key,
                                     "127.0.0.1",
                                     std::to_string(server->port()),
                                     output().string(),
                                     "alice",
                                     "srv"};
    if (!last.empty()) args.push_back(last);
    Process client(program, args, dir / "client.out");
    return output_at_exit(client, 60s);
  }
};

TEST(TicketSystem, FilesOfEverySizeArriveIdenticalClientAfterClient) {
  TicketSystem system;
  ASSERT_TRUE(system.ready);
  // Around the 972-byte record: none, one, all but one, exactly one whole
  // record, one more byte; then several records and a few megabytes.
  const std::vector<std::size_t> sizes = {0, 1, 971, 972, 973, 2500, 3 * 1024 * 1024};
  std::string served;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto content = random_bytes(sizes[i], static_cast<std::uint32_t>(i + 1));
    write_file(system.input(), content);
    EXPECT_EQ(system.fetch(), "OK\n") << sizes[i] << " bytes";
    served += "OK\n";
    EXPECT_TRUE(system.server->wait_for_exact_output(served)) << sizes[i] << " bytes: " << system.server->output();
    EXPECT_TRUE(read_file(system.output()) == content) << sizes[i] << " bytes";
  }
  EXPECT_TRUE(system.server->running());
  EXPECT_TRUE(system.authserver->running());
}

TEST(TicketSystem, ClientKeyThatDoesNotMatchIsRefusedAndTheServerServesOn) {
  TicketSystem system;
  ASSERT_TRUE(system.ready);
  write_file(system.input(), random_bytes(5000));
  // The AS_REP decrypts to nonsense: a session key of bad parity, or else a
  // wrong server identity.
  EXPECT_EQ(system.fetch(other_key), "ABORT\n");
  EXPECT_EQ(system.server->output(), "");
  EXPECT_EQ(system.fetch(), "OK\n");
  EXPECT_TRUE(system.server->wait_for_exact_output("OK\n"));
}

TEST(TicketSystem, ServerKeyThatDoesNotMatchEndsBothRuns) {
  TicketSystem system("300", other_key);
  ASSERT_TRUE(system.ready);
  write_file(system.input(), random_bytes(5000));
  // The server cannot read the ticket and ends, mostly with "key error -1"
  // and no answer, so the client's wait must be a short one.
  EXPECT_EQ(system.fetch(client_key, "", CLIENT_QUICK_PATH), "ABORT\n");
  EXPECT_EQ(system.server->wait(), std::optional<int>(0));
  const std::string ended = system.server->output();
  EXPECT_TRUE(ended == "key error -1\n" || ended == "key error -2\n" || ended == "" || ended == "ABORT\n") << ended;
}

TEST(TicketSystem, LifetimeThatHasRunOutEndsTheClientAtItsFirstCheck) {
  TicketSystem system("0");
  ASSERT_TRUE(system.ready);
  write_file(system.input(), random_bytes(100));
  const std::string output = system.fetch(client_key, "-DDEBUG");
  // The session key is fresh in every run; everything else is fixed.
  std::string_view rest = output;
  ASSERT_TRUE(take(rest, "AS_REP received\nSession key received:\t")) << output;
  const std::string key_digits = take_while(rest, "0123456789abcdef");
  EXPECT_GE(key_digits.size(), 8u) << output;
  ASSERT_TRUE(take(rest, "\nServer ID of application server is correct\nSession key has expired\ntimestamp = "))
      << output;
  const std::string timestamp = take_while(rest, "0123456789");
  ASSERT_TRUE(take(rest, ", lifetime = 0, currtime = ")) << output;
  const std::string currtime = take_while(rest, "0123456789");
  EXPECT_EQ(rest, " \nABORT\n") << output;
  ASSERT_FALSE(timestamp.empty() || currtime.empty()) << output;
  EXPECT_LE(std::stoul(timestamp), std::stoul(currtime));
  EXPECT_EQ(system.server->output(), "");
  EXPECT_TRUE(system.server->running());
}

}  // namespace
