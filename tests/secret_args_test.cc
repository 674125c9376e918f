// Keys and passwords leave the process list: once a program has read its
// arguments, /proc/PID/cmdline (what ps shows) holds 'x's in place of each
// secret, and every other argument as it was given.

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/udp_peer.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// The words of /proc/PID/cmdline, program path first.
std::vector<std::string> cmdline_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> words;
  std::string::size_type at = 0;
  while (at < text.size()) {
    const auto end = text.find('\0', at);
    words.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return words;
}

// args as the process list must show them: the secrets (argv indexes)
// replaced by 'x's of the same length.
std::vector<std::string> hidden(const std::string& path, std::vector<std::string> args, const std::set<int>& secrets) {
  for (const int index : secrets) {
    std::string& secret = args[static_cast<std::size_t>(index - 1)];
    secret.assign(secret.size(), 'x');
  }
  args.insert(args.begin(), path);
  return args;
}

TEST(SecretArguments, ServersHideTheirKeysAndPasswordOnceListening) {
  struct Row {
    const char* name;
    std::string path;
    std::vector<std::string> args;  // after the port
    std::set<int> secrets;          // argv indexes
  };
  const TempDir dir;
  write_file(dir / "input", {1, 2, 3});
  const std::string input = (dir / "input").string();
  const Row rows[] = {
      {"server", SERVER_PATH, {"0E329232EA6D0D73", input}, {2}},
      {"server, debug", SERVER_PATH, {"0E329232EA6D0D73", input, "-DDEBUG"}, {2}},
      {"passfeed", PASSFEED_PATH, {"open sesame", input}, {2}},
      {"passfeed, debug", PASSFEED_PATH, {"open sesame", input, "-DDEBUG"}, {2}},
      {"authserver", AUTHSERVER_PATH, {"133457799BBCDFF1", "0E329232EA6D0D73", "fileserver"}, {2, 3}},
      {"authserver, all arguments", AUTHSERVER_PATH,
       {"133457799BBCDFF1", "0E329232EA6D0D73", "fileserver", "300", "127.0.0.1", "-DDEBUG"}, {2, 3}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ServerProcess server(row.path, row.args, dir / "stdout");
    // The servers bind only after they have read every argument.
    ASSERT_TRUE(server.bound());
    std::vector<std::string> given{std::to_string(server.port())};
    given.insert(given.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(cmdline_of(server.pid()), hidden(row.path, given, row.secrets));
    EXPECT_TRUE(server.running()) << server.output();
  }
}

TEST(SecretArguments, ClientsHideTheirKeyAndPasswordsBeforeTheyFirstSend) {
  struct Row {
    const char* name;
    std::string path;
    std::vector<std::string> args;  // "PEER" is the port of the test's silent peer
    std::set<int> secrets;
  };
  const TempDir dir;
  const std::string out = (dir / "out").string();
  const Row rows[] = {
      {"client", CLIENT_PATH,
       {"127.0.0.1", "PEER", "133457799BBCDFF1", "127.0.0.1", "PEER", out, "alice", "fileserver"}, {3}},
      {"passfetch", PASSFETCH_PATH, {"127.0.0.1", "PEER", "guess", "open sesame", "", out, "-DDEBUG"}, {3, 4, 5}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const UdpPeer peer;
    std::vector<std::string> given = row.args;
    for (std::string& word : given)
      if (word == "PEER") word = std::to_string(peer.port());
    Process program(row.path, given, dir / "stdout");
    // The first datagram comes only after every argument has been read.
    ASSERT_TRUE(peer.receive(10s).has_value()) << program.output();
    EXPECT_EQ(cmdline_of(program.pid()), hidden(row.path, given, row.secrets));
  }
}

}  // namespace
