// The password system end to end: the real passfeed serving the real
// passfetch over 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/programs.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// One passfeed serving input, and the clients run against it one by one.
class PasswordSystem {
 public:
  explicit PasswordSystem(const std::vector<std::uint8_t>& file) {
    write_file(dir_ / "input", file);
    const std::vector<std::string> args{"open sesame", (dir_ / "input").string()};
    server_ = std::make_unique<ServerProcess>(PASSFEED_PATH, args, dir_ / "server.out");
  }

  bool bound() const { return server_->bound(); }

  // Runs passfetch to its end and returns its output.
  std::string fetch(const std::string& name, const std::vector<std::string>& passwords) {
    std::vector<std::string> args{"127.0.0.1", std::to_string(server_->port())};
    args.insert(args.end(), passwords.begin(), passwords.end());
    args.push_back((dir_ / name).string());
    Process client(PASSFETCH_PATH, args, dir_ / (name + ".out"));
    return output_at_exit(client, 60s);
  }

  std::vector<std::uint8_t> input() const { return read_file(dir_ / "input"); }
  std::vector<std::uint8_t> fetched(const std::string& name) const { return read_file(dir_ / name); }
  Process& server() { return *server_; }

 private:
  TempDir dir_;
  std::unique_ptr<ServerProcess> server_;
};

TEST(PasswordEndToEnd, FilesArriveIdentical) {
  const std::size_t sizes[] = {0, 1, 999, 1000, 1001, 2500, 3 * 1000 * 1000 + 123};
  for (const std::size_t size : sizes) {
    PasswordSystem system(random_bytes(size, static_cast<std::uint32_t>(size)));
    ASSERT_TRUE(system.bound()) << size;
    EXPECT_EQ(system.fetch("output", {"open sesame", "x", "y"}), "OK\n") << size;
    EXPECT_TRUE(system.fetched("output") == system.input()) << size << " bytes differ";
    EXPECT_TRUE(system.server().wait_for_output("OK\n", 10s)) << size;
    EXPECT_EQ(system.server().output(), "OK\n") << size;
  }
}

TEST(PasswordEndToEnd, TwoClientsInARow) {
  PasswordSystem system(random_bytes(4321, 5));
  ASSERT_TRUE(system.bound());
  EXPECT_EQ(system.fetch("first", {"open sesame", "x", "y"}), "OK\n");
  EXPECT_EQ(system.fetch("second", {"x", "y", "open sesame"}), "OK\n");
  EXPECT_TRUE(system.fetched("first") == system.input());
  EXPECT_TRUE(system.fetched("second") == system.input());
  EXPECT_TRUE(system.server().wait_for_output("OK\nOK\n", 10s));
  EXPECT_EQ(system.server().output(), "OK\nOK\n");
  EXPECT_TRUE(system.server().running());
}

TEST(PasswordEndToEnd, WrongPasswordsEndBoth) {
  PasswordSystem system(random_bytes(10));
  ASSERT_TRUE(system.bound());
  EXPECT_EQ(system.fetch("output", {"a", "b", "c"}), "ABORT\n");
  EXPECT_EQ(system.server().wait(10s), 0);
  EXPECT_EQ(system.server().output(), "ABORT\n");
}

}  // namespace
