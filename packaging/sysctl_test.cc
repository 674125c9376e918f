// The sysctl.d file installed with the programs must let an unprivileged
// receiver have the whole receive buffer it asks for.

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <regex>
#include <string>

#include "common/udp.h"

namespace {

// The value the file sets for key, when it sets it once.
std::optional<long long> setting(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  const std::regex line_pattern("^\\s*" + std::regex_replace(key, std::regex("\\."), "\\.") + "\\s*=\\s*(\\d+)\\s*$");
  std::optional<long long> value;
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    if (std::regex_match(line, match, line_pattern)) {
      value = std::stoll(match[1]);
      ++count;
    }
  }
  return count == 1 ? value : std::nullopt;
}

TEST(SysctlFile, RaisesTheReceiveBufferLimitToWhatTheReceiversAskFor) {
  // The kernel cuts a request to net.core.rmem_max and then doubles it: the
  // limit has to be the request itself. Less cuts the buffer; more lets any
  // local process pin more kernel memory than these programs need.
  EXPECT_EQ(setting(SYSCTL_FILE, "net.core.rmem_max"), std::optional<long long>(large_receive_buffer));
}

}  // namespace
