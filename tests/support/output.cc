#include "tests/support/output.h"

namespace testing_support {

std::string repeat(const std::string& line, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += line;
  return out;
}

bool printed_at_some_second(const std::string& output, std::uint32_t first, std::uint32_t last,
                            const std::function<std::string(std::uint32_t)>& expected) {
  for (std::uint32_t t = first; t <= last; ++t)
    if (output == expected(t)) return true;
  return false;
}

}  // namespace testing_support
