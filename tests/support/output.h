#ifndef TESTS_SUPPORT_OUTPUT_H
#define TESTS_SUPPORT_OUTPUT_H

// Building and matching what a program is expected to print.

#include <cstdint>
#include <functional>
#include <string>

namespace testing_support {

// line, times times over.
std::string repeat(const std::string& line, int times);

// True when output is expected(t) for some second t from first to last: a
// line that shows the program's clock can only be pinned to the seconds
// around the run.
bool printed_at_some_second(const std::string& output, std::uint32_t first, std::uint32_t last,
                            const std::function<std::string(std::uint32_t)>& expected);

}  // namespace testing_support

#endif
