// A client asked to try again starts a failed exchange afresh: one datagram
// of a stream lost once, between the real programs of each system.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/relay.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr char client_key[] = "133457799BBCDFF1";
constexpr char server_key[] = "0E329232EA6D0D73";
constexpr char password[] = "open sesame";

struct RetryRow {
  const char* name;
  bool ticket;          // the ticket system, else the password system
  const char* retries;  // the option's value, or null for none
  std::string printed;
  bool same_file;
  const char* line;  // how the one line on standard error begins
};

TEST(Retries, StartALostStreamAfreshOnlyWhenAsked) {
  const RetryRow rows[] = {
      {"ticket, no retries", true, nullptr, "ABORT\n", false, "client: record "},
      {"ticket, one retry", true, "1", "OK\n", true, "client: attempt 1 of 2 failed: record "},
      {"password, no retries", false, nullptr, "ABORT\n", false, "passfetch: DATA "},
      {"password, one retry", false, "1", "OK\n", true, "passfetch: attempt 1 of 2 failed: DATA "},
  };
  // Small enough that the broken delivery has ended before the next attempt
  // asks: the relay sends the server's datagrams to the client's newest
  // socket.
  const bytes input = random_bytes(60'000, 9);
  for (const RetryRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "input", input);
    std::optional<ServerProcess> authserver;
    std::vector<std::string> server_args;
    if (row.ticket) {
      authserver.emplace(AUTHSERVER_PATH, std::vector<std::string>{client_key, server_key, "srv", "300"},
                         dir / "authserver.out");
      ASSERT_TRUE(authserver->bound());
      server_args = {server_key, (dir / "input").string()};
    } else {
      server_args = {password, (dir / "input").string()};
    }
    ServerProcess server(row.ticket ? SERVER_PATH : PASSFEED_PATH, server_args, dir / "server.out");
    ASSERT_TRUE(server.bound());
    // The fifth datagram toward the client, once: a record of the stream.
    Relay relay(server.port(), FaultPlan{Fault::drop, Direction::to_client, 5});
    std::vector<std::string> args;
    if (row.retries != nullptr) args = {"--retries", row.retries};
    const std::string out = (dir / "out").string();
    if (row.ticket) {
      const std::vector<std::string> rest = {"127.0.0.1",
                                             std::to_string(authserver->port()),
                                             client_key,
                                             "127.0.0.1",
                                             std::to_string(relay.port()),
                                             out,
                                             "alice",
                                             "srv"};
      args.insert(args.end(), rest.begin(), rest.end());
    } else {
      const std::vector<std::string> rest = {"127.0.0.1", std::to_string(relay.port()), "x", password, "y", out};
      args.insert(args.end(), rest.begin(), rest.end());
    }
    Process client(row.ticket ? CLIENT_PATH : PASSFETCH_PATH, args, dir / "client.out");
    EXPECT_EQ(output_at_exit(client, 60s), row.printed);
    EXPECT_TRUE(relay.fault_applied());
    EXPECT_EQ(read_file(out) == input, row.same_file);
    const std::string said = client.errors();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    // Which datagram the relay's count reaches depends on how the server
    // batched the stream.
    EXPECT_TRUE(said.starts_with(row.line)) << said;
    EXPECT_NE(said.find(" lost or out of order (received "), std::string::npos) << said;
  }
}

}  // namespace
