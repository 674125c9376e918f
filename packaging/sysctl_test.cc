// The sysctl.d file installed with the programs must let an unprivileged
// receiver have the whole receive buffer it asks for.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <string>

#include "common/udp.h"

namespace {

// text without the white space at either end.
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The value the file sets for key, when it sets it once to a decimal number.
std::optional<long long> setting(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::optional<long long> value;
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos || trimmed(line.substr(0, equals)) != key) continue;
    const std::string number = trimmed(line.substr(equals + 1));
    bool digits = !number.empty() && number.size() < 19;
    for (const char c : number) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    if (!digits) return std::nullopt;
    value = std::stoll(number);
    ++count;
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
