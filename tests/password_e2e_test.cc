// The password system end to end: the real passfeed serving the real
// passfetch over 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <iterator>
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
  // Puts file in place as the input that the next client gets.
  void serve(const std::vector<std::uint8_t>& file) const { write_file(dir_ / "input", file); }

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

TEST(PasswordEndToEnd, FilesOfEverySizeArriveIdenticalClientAfterClient) {
  PasswordSystem system({});
  ASSERT_TRUE(system.bound());
  // Around the 1000-byte piece: none, one, all but one, exactly one whole
  // piece, one more byte; then several pieces and a few megabytes.
  const std::size_t sizes[] = {0, 1, 999, 1000, 1001, 2500, 3 * 1000 * 1000 + 123};
  std::string served;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    system.serve(random_bytes(sizes[i], static_cast<std::uint32_t>(sizes[i])));
    // The right password moves through the three places.
    std::vector<std::string> passwords{"x", "y"};
    passwords.insert(passwords.begin() + static_cast<long>(i % 3), "open sesame");
    EXPECT_EQ(system.fetch("output", passwords), "OK\n") << sizes[i];
    EXPECT_TRUE(system.fetched("output") == system.input()) << sizes[i] << " bytes differ";
    served += "OK\n";
    EXPECT_TRUE(system.server().wait_for_output(served, 10s)) << sizes[i];
  }
  EXPECT_EQ(system.server().output(), served);
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
