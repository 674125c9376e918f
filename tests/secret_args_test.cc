// Keys and passwords leave the process list: once a program has read its
// arguments, /proc/PID/cmdline (what ps shows) holds 'x's in place of each
// secret, and every other argument as it was given. With --credentials the
// servers take their secrets from the service manager's credentials and the
// command line never holds them at all.

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
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
      {"authserver, all arguments",
       AUTHSERVER_PATH,
       {"133457799BBCDFF1", "0E329232EA6D0D73", "fileserver", "300", "127.0.0.1", "-DDEBUG"},
       {2, 3}},
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
      {"client",
       CLIENT_PATH,
       {"127.0.0.1", "PEER", "133457799BBCDFF1", "127.0.0.1", "PEER", out, "alice", "fileserver"},
       {3}},
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

// Secrets that a service manager hands over as credentials: files in the
// directory named by $CREDENTIALS_DIRECTORY, which every program started
// meanwhile inherits.
class Credentials {
 public:
  Credentials() {
    std::filesystem::create_directory(dir_ / "credentials");
    setenv("CREDENTIALS_DIRECTORY", (dir_ / "credentials").c_str(), 1);
  }
  ~Credentials() { unsetenv("CREDENTIALS_DIRECTORY"); }
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;

  void add(const std::string& name, const std::string& secret) const {
    std::ofstream(dir_ / "credentials" / name) << secret << '\n';
  }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

 private:
  TempDir dir_;
};

// A server started as `path --credentials <port> args...`, bound before use.
struct CredentialServer {
  CredentialServer(const std::string& path, const std::vector<std::string>& args, const std::filesystem::path& out)
      : port(free_udp_port()), process(path, with_port(port, args), out), bound(wait_udp_bound(port)) {}

  static std::vector<std::string> with_port(std::uint16_t port, const std::vector<std::string>& args) {
    std::vector<std::string> words{"--credentials", std::to_string(port)};
    words.insert(words.end(), args.begin(), args.end());
    return words;
  }
  // The command line holds the names as given, and no word holds a secret.
  void expect_no_secret(const std::string& path, const std::vector<std::string>& args,
                        const std::vector<std::string>& secrets) const {
    std::vector<std::string> given = with_port(port, args);
    given.insert(given.begin(), path);
    const std::vector<std::string> shown = cmdline_of(process.pid());
    EXPECT_EQ(shown, given);
    for (const std::string& word : shown)
      for (const std::string& secret : secrets) EXPECT_EQ(word.find(secret), std::string::npos) << word;
  }

  std::uint16_t port;
  Process process;
  bool bound;
};

constexpr char client_key[] = "133457799BBCDFF1";
constexpr char server_key[] = "0E329232EA6D0D73";

TEST(CredentialsOption, TicketSystemTakesBothKeysFromCredentials) {
  const Credentials credentials;
  credentials.add("client-key", client_key);
  credentials.add("server-key", server_key);
  const auto content = random_bytes(30000);
  write_file(credentials / "input", content);
  const std::vector<std::string> auth_args{"client-key", "server-key", "srv"};
  const std::vector<std::string> server_args{"server-key", (credentials / "input").string(), "-DDEBUG"};
  const CredentialServer authserver(AUTHSERVER_PATH, auth_args, credentials / "authserver.out");
  const CredentialServer server(SERVER_PATH, server_args, credentials / "server.out");
  ASSERT_TRUE(authserver.bound) << authserver.process.output();
  ASSERT_TRUE(server.bound) << server.process.output();
  authserver.expect_no_secret(AUTHSERVER_PATH, auth_args, {client_key, server_key});
  server.expect_no_secret(SERVER_PATH, server_args, {server_key});

  Process client(CLIENT_PATH,
                 {"127.0.0.1", std::to_string(authserver.port), client_key, "127.0.0.1", std::to_string(server.port),
                  (credentials / "output").string(), "alice", "srv"},
                 credentials / "client.out");
  EXPECT_EQ(output_at_exit(client, 60s), "OK\n");
  EXPECT_TRUE(read_file(credentials / "output") == content);
  EXPECT_TRUE(server.process.wait_for_output("OK\n")) << server.process.output();
}

TEST(CredentialsOption, PasswordServerTakesItsPasswordFromACredential) {
  const Credentials credentials;
  credentials.add("password", "open sesame");
  const auto content = random_bytes(30000);
  write_file(credentials / "input", content);
  const std::vector<std::string> args{"password", (credentials / "input").string()};
  const CredentialServer passfeed(PASSFEED_PATH, args, credentials / "passfeed.out");
  ASSERT_TRUE(passfeed.bound) << passfeed.process.output();
  passfeed.expect_no_secret(PASSFEED_PATH, args, {"open sesame"});

  Process client(
      PASSFETCH_PATH,
      {"127.0.0.1", std::to_string(passfeed.port), "password", "open sesame", "x", (credentials / "output").string()},
      credentials / "passfetch.out");
  EXPECT_EQ(output_at_exit(client, 60s), "OK\n");
  EXPECT_TRUE(read_file(credentials / "output") == content);
}

// A credential that cannot be read ends the program as any unusable argument
// does, with "ABORT" on standard output (after the reason in debug mode) and
// the reason on standard error in every mode.
TEST(CredentialsOption, CredentialsThatCannotBeReadEndTheRun) {
  struct Row {
    const char* name;
    std::string path;
    std::vector<std::string> args;  // after --credentials
    bool directory;                 // $CREDENTIALS_DIRECTORY set
    std::string reason;             // the line on standard error, without the program's name
  };
  const Credentials credentials;
  credentials.add("key", server_key);
  const std::string input = (credentials / "input").string();
  write_file(input, {1, 2, 3});
  const std::string no_name = "not a credential name (empty, or holds '/' or '..')";
  const Row rows[] = {
      {"server, parent", SERVER_PATH, {"9", "../key", input}, true, "credential ../key: " + no_name},
      {"server, path", SERVER_PATH, {"9", "/etc/passwd", input, "-DDEBUG"}, true, "credential /etc/passwd: " + no_name},
      {"server, missing", SERVER_PATH, {"9", "nothing", input}, true, "credential nothing: cannot be read"},
      {"server, no directory",
       SERVER_PATH,
       {"9", "key", input},
       false,
       "credential key: no credentials directory ($CREDENTIALS_DIRECTORY is not set)"},
      {"passfeed, empty name", PASSFEED_PATH, {"9", "", input}, true, "credential : " + no_name},
      {"authserver, server key missing",
       AUTHSERVER_PATH,
       {"9", "key", "other", "srv"},
       true,
       "credential other: cannot be read"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.directory) unsetenv("CREDENTIALS_DIRECTORY");
    std::vector<std::string> args{"--credentials"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    Process program(row.path, args, credentials / "out");
    const bool debug = args.back() == "-DDEBUG";
    // Standard output as without the option: the reason only in debug mode.
    EXPECT_EQ(output_at_exit(program), (debug ? row.reason + "\n" : "") + "ABORT\n");
    const std::string program_name = std::filesystem::path(row.path).filename().string();
    EXPECT_EQ(program.errors(), program_name + ": " + row.reason + "\n");
    if (!row.directory) setenv("CREDENTIALS_DIRECTORY", (credentials / "credentials").c_str(), 1);
  }
}

}  // namespace
