// Every program refused at start-up, before it serves or sends anything: a
// wrong argument count, a bad key, identifier, password or address, a port
// that is taken. One table for all five programs, so each refusal is held
// to the same checks: exit status 0, the exact output, not one datagram
// sent, and no output file made.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "password/wire.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/ticket_peer.h"
#include "tests/support/udp_peer.h"
#include "ticket/wire.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// Words in a row's arguments that are filled in for each run: PORT a free
// port (held by a socket of the test's own when the row says it is taken),
// PEER the port of a socket that must receive nothing, FILE an existing input
// file, MISSING and OUT paths where nothing exists.
struct Row {
  const char* name;
  const char* program;
  std::vector<std::string> args;
  std::string expected;
  bool port_taken = false;
  bool expected_is_start = false;  // only the start of a long text is compared
};

constexpr char bad_parity_key[] = "133457799BBCDFF0";
constexpr char weak_key[] = "0101010101010101";
const std::string id_41_bytes(ticket::id_len + 1, 'i');

const std::string server_usage = "usage: server <serverport> <authserverkey> <inputfile>\n";
const std::string client_usage =
    "usage: client <authservername> <authserverport> <authserverkey> <servername> <serverport> <output file> "
    "<clientID> <serverID>\n";
const std::string passfeed_usage = "usage: passfeed <serverport> <password> <input file>\n";
const std::string passfetch_usage =
    "usage: passfetch <servername> <serverport> <clientpwd1> <clientpwd1> <clientpwd1> <outfile>\n";

// A client command line toward PEER, with the fields that a row changes.
std::vector<std::string> client_args(const std::string& auth_name = "127.0.0.1",
                                     const std::string& key = client_key_text,
                                     const std::string& server_name = "127.0.0.1",
                                     const std::string& client_id = "alice", const std::string& server_id = "srv",
                                     const std::string& last = "-DDEBUG") {
  return {auth_name, "PEER", key, server_name, "PEER", "OUT", client_id, server_id, last};
}

std::vector<Row> rows() {
  const std::string feed_password_51(password::max_password_chars + 1, 'p');
  const std::string fetch_password_53(password::password_len + 1, 'p');
  const std::string abort = "ABORT\n";
  return {
      // server
      {"server: three arguments", SERVER_PATH, {"PORT", server_key_text}, server_usage},
      {"server: six arguments", SERVER_PATH, {"PORT", server_key_text, "FILE", "-DDEBUG", "more"}, server_usage},
      {"server: port in use",
       SERVER_PATH,
       {"PORT", server_key_text, "FILE", "-DDEBUG"},
       "Error binding to socket\n" + abort,
       true},
      {"server: port in use and bad key, the bind comes first",
       SERVER_PATH,
       {"PORT", "0000000000000000", "FILE", "-DDEBUG"},
       "Error binding to socket\n" + abort,
       true},
      {"server: key with bad parity",
       SERVER_PATH,
       {"PORT", "0000000000000000", "FILE", "-DDEBUG"},
       "Incorrect predefined authserver key\n" + abort},
      {"server: weak key, quiet", SERVER_PATH, {"PORT", weak_key, "FILE"}, abort},

      // client
      {"client: seven arguments",
       CLIENT_PATH,
       {"127.0.0.1", "PEER", client_key_text, "127.0.0.1", "PEER", "OUT", "alice"},
       client_usage},
      {"client: ten arguments",
       CLIENT_PATH,
       {"127.0.0.1", "PEER", client_key_text, "127.0.0.1", "PEER", "OUT", "alice", "srv", "-DDEBUG", "x"},
       client_usage},
      {"client: clientID of 41 bytes", CLIENT_PATH, client_args("127.0.0.1", client_key_text, "127.0.0.1", id_41_bytes),
       "clientID longer than 40 bytes\n" + abort},
      {"client: serverID of 41 bytes", CLIENT_PATH,
       client_args("127.0.0.1", client_key_text, "127.0.0.1", "alice", id_41_bytes),
       "serverID longer than 40 bytes\n" + abort},
      {"client: authservername that does not resolve", CLIENT_PATH, client_args("999.999.999.999"),
       "wrong authentication server name\n" + abort},
      {"client: bad key and servername that does not resolve, the names come first", CLIENT_PATH,
       client_args("127.0.0.1", bad_parity_key, "999.999.999.999"), "wrong application server name\n" + abort},
      {"client: key of bad parity", CLIENT_PATH, client_args("127.0.0.1", bad_parity_key),
       "Incorrect predefined authserver key\n" + abort},
      {"client: weak key", CLIENT_PATH, client_args("127.0.0.1", weak_key),
       "Incorrect predefined authserver key\n" + abort},
      {"client: quiet when the last argument is not exactly -DDEBUG", CLIENT_PATH,
       client_args("127.0.0.1", bad_parity_key, "127.0.0.1", "alice", "srv", "-DDEBU"), abort},

      // passfeed; the port is taken wherever a bind before the refusal
      // would show
      {"passfeed: two arguments", PASSFEED_PATH, {"PORT", "secret"}, passfeed_usage},
      {"passfeed: five arguments", PASSFEED_PATH, {"PORT", "secret", "FILE", "-DDEBUG", "x"}, passfeed_usage},
      {"passfeed: missing file", PASSFEED_PATH, {"PORT", "secret", "MISSING"}, "Input file doesn't exist\n", true},
      {"passfeed: missing file, debug",
       PASSFEED_PATH,
       {"PORT", "secret", "MISSING", "-DDEBUG"},
       "Input file doesn't exist\n",
       true},
      {"passfeed: 51-character password",
       PASSFEED_PATH,
       {"PORT", feed_password_51, "FILE", "-DDEBUG"},
       "Password longer than 50 characters\n" + abort,
       true},
      {"passfeed: 51-character password, quiet", PASSFEED_PATH, {"PORT", feed_password_51, "FILE"}, abort, true},
      {"passfeed: port in use",
       PASSFEED_PATH,
       {"PORT", "secret", "FILE", "-DDEBUG"},
       "Error binding to socket\n" + abort,
       true},
      {"passfeed: port in use, quiet", PASSFEED_PATH, {"PORT", "secret", "FILE", "-DDEBUGX"}, abort, true},

      // passfetch
      {"passfetch: five arguments", PASSFETCH_PATH, {"127.0.0.1", "PEER", "a", "b", "c"}, passfetch_usage},
      {"passfetch: eight arguments",
       PASSFETCH_PATH,
       {"127.0.0.1", "PEER", "a", "b", "c", "OUT", "-DDEBUG", "x"},
       passfetch_usage},
      {"passfetch: 53-character first password",
       PASSFETCH_PATH,
       {"127.0.0.1", "PEER", fetch_password_53, "b", "c", "OUT", "-DDEBUG"},
       "Password longer than 52 characters\n" + abort},
      {"passfetch: 53-character third password, quiet",
       PASSFETCH_PATH,
       {"127.0.0.1", "PEER", "a", "b", fetch_password_53, "OUT"},
       abort},
      {"passfetch: unresolvable name",
       PASSFETCH_PATH,
       {"999.999.999.999", "PEER", "a", "b", "c", "OUT", "-DDEBUG"},
       "wrong server name\n" + abort},
      {"passfetch: unresolvable name, quiet",
       PASSFETCH_PATH,
       {"999.999.999.999", "PEER", "a", "b", "c", "OUT", "-ddebug"},
       abort},

      // authserver
      {"authserver: two arguments",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, server_key_text},
       "usage: authserver <port> <clientkey> <serverkey> <serverID> [<lifetime> [<clientaddr>]] [-DDEBUG]\n",
       false,
       true},
      {"authserver: client key of bad parity",
       AUTHSERVER_PATH,
       {"PORT", bad_parity_key, server_key_text, "srv", "-DDEBUG"},
       "Incorrect client key\n" + abort},
      {"authserver: weak server key",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, weak_key, "srv", "-DDEBUG"},
       "Incorrect server key\n" + abort},
      {"authserver: server key of 15 digits",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, "0E329232EA6D0D7", "srv", "-DDEBUG"},
       "Incorrect server key\n" + abort},
      {"authserver: serverID of 41 bytes",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, server_key_text, id_41_bytes, "-DDEBUG"},
       "serverID longer than 40 bytes\n" + abort},
      {"authserver: lifetime 65536",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, server_key_text, "srv", "65536", "-DDEBUG"},
       "lifetime is not a number from 0 to 65535\n" + abort},
      {"authserver: clientaddr of three numbers",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, server_key_text, "srv", "300", "10.1.2", "-DDEBUG"},
       "clientaddr is no IPv4 address\n" + abort},
      {"authserver: clientaddr that does not resolve",
       AUTHSERVER_PATH,
       {"PORT", client_key_text, server_key_text, "srv", "300", "999.999.999.999", "-DDEBUG"},
       "clientaddr is no IPv4 address\n" + abort},
      {"authserver: bad key, quiet", AUTHSERVER_PATH, {"PORT", bad_parity_key, server_key_text, "srv"}, abort},

      // Options before the arguments: --help and --version in every program,
      // and an option with a value it cannot take read as an argument.
      {"server: --help",
       SERVER_PATH,
       {"--help", "PORT"},
       server_usage + "options, before the arguments:\n",
       false,
       true},
      {"passfetch: --help",
       PASSFETCH_PATH,
       {"--help"},
       passfetch_usage + "options, before the arguments:\n",
       false,
       true},
      {"client: --version", CLIENT_PATH, {"--version"}, "client (udp-file-transfer) 1.0.0\n"},
      {"authserver: --version", AUTHSERVER_PATH, {"--version", "PORT"}, "authserver (udp-file-transfer) 1.0.0\n"},
      {"passfeed: --rate it cannot take", PASSFEED_PATH, {"--rate", "fast", "PORT", "secret", "FILE"}, passfeed_usage},
      {"passfetch: --retries past its arguments",
       PASSFETCH_PATH,
       {"127.0.0.1", "PEER", "a", "--retries", "1"},
       passfetch_usage},
  };
}

TEST(Startup, EveryProgramRefusesBeforeServingOrSending) {
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    const TempDir dir;
    write_file(dir / "file", {1, 2, 3});
    const std::uint16_t port = free_udp_port();
    std::optional<UdpPeer> holder;
    if (row.port_taken) holder.emplace(port);
    const UdpPeer peer;
    std::vector<std::string> args = row.args;
    for (auto& arg : args) {
      if (arg == "PORT") arg = std::to_string(port);
      if (arg == "PEER") arg = std::to_string(peer.port());
      if (arg == "FILE") arg = (dir / "file").string();
      if (arg == "MISSING") arg = (dir / "missing").string();
      if (arg == "OUT") arg = (dir / "out").string();
    }
    Process program(row.program, args, dir / "stdout");
    std::string output = output_at_exit(program);
    if (row.expected_is_start) output = output.substr(0, row.expected.size());
    EXPECT_EQ(output, row.expected);
    EXPECT_TRUE(peer.silent_for(50ms)) << "sent a datagram";
    EXPECT_FALSE(std::filesystem::exists(dir / "out")) << "made its output file";
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  }
}

}  // namespace
