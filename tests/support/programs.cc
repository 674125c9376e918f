#include "tests/support/programs.h"

#include <gtest/gtest.h>

#include <optional>

namespace testing_support {

static std::vector<std::string> around_port(const std::vector<std::string>& options, std::uint16_t port,
                                            const std::vector<std::string>& args) {
  std::vector<std::string> words = options;
  words.push_back(std::to_string(port));
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

ServerProcess::ServerProcess(const std::string& path, const std::vector<std::string>& args,
                             const std::filesystem::path& output, const std::vector<std::string>& options)
    : ServerProcess(free_udp_port(), path, args, output, options) {}

ServerProcess::ServerProcess(std::uint16_t port, const std::string& path, const std::vector<std::string>& args,
                             const std::filesystem::path& output, const std::vector<std::string>& options)
    : Process(path, around_port(options, port, args), output), port_(port), bound_(wait_udp_bound(port)) {}

FileServerRun::FileServerRun(const std::string& path, const std::string& secret, const bytes& file, const char* last) {
  write_file(input(), file);
  std::vector<std::string> args{secret, input().string()};
  if (last != nullptr) args.emplace_back(last);
  server.emplace(path, args, dir / "stdout");
}

std::string FileServerRun::ended(std::chrono::milliseconds deadline) { return output_at_exit(*server, deadline); }

std::string output_at_exit(Process& process, std::chrono::milliseconds deadline) {
  EXPECT_EQ(process.wait(deadline), std::optional<int>(0)) << "did not end by itself with status 0";
  const std::string printed = process.output();
  if (printed.ends_with("ABORT\n")) {
    std::string said = process.errors();
    if (said.ends_with('\n')) said.pop_back();
    const std::string last = said.substr(said.rfind('\n') + 1);
    EXPECT_TRUE(last.starts_with(process.name() + ": ") && last.size() > process.name().size() + 2)
        << "no reason for the failure on standard error: \"" << said << '"';
  }
  return printed;
}

}  // namespace testing_support
