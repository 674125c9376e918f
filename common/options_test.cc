#include "common/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ReadOptions, TakesOnlyExactLeadingOptionsAndLeavesAnyOtherListAsItIs) {
  struct Row {
    std::vector<const char*> args;  // after the program name
    bool credentials;
    int first_positional;
  };
  const Row rows[] = {
      {{}, false, 1},
      {{"9001", "key", "file"}, false, 1},
      {{"--credentials", "9001", "key", "file"}, true, 2},
      {{"--credentials"}, true, 2},
      {{"--credentials", "9001", "key", "file", "-DDEBUG"}, true, 2},
      // Only before the positional arguments.
      {{"9001", "--credentials", "file"}, false, 1},
      // Exact spellings only: anything else is the first positional argument.
      {{"-DDEBUG"}, false, 1},
      {{"--credential", "9001"}, false, 1},
      {{"--credentials=yes", "9001"}, false, 1},
      {{"--Credentials", "9001"}, false, 1},
      {{"-credentials", "9001"}, false, 1},
      {{"--unknown", "--credentials"}, false, 1},
      {{"", "--credentials"}, false, 1},
      // Once only: a second one is a positional argument.
      {{"--credentials", "--credentials", "9001"}, true, 2},
  };
  for (const Row& row : rows) {
    std::vector<const char*> argv = {"program"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    std::string name;
    for (const char* arg : row.args) name += std::string(" [") + arg + "]";
    const program_options options = read_options(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(options.credentials, row.credentials) << name;
    EXPECT_EQ(options.first_positional, row.first_positional) << name;
  }
}

}  // namespace
