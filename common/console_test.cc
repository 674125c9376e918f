#include "common/console.h"

#include <gtest/gtest.h>

namespace {

struct SwitchRow {
  std::vector<const char*> argv;
  int fixed;
  bool debug;
};

TEST(DebugSwitch, IsOnOnlyForAnExactLastArgument) {
  const SwitchRow rows[] = {
      {{"server", "8080", "key", "file"}, 3, false},
      {{"server", "8080", "key", "file", "-DDEBUG"}, 3, true},
      {{"server", "8080", "key", "file", "-ddebug"}, 3, false},
      {{"server", "8080", "key", "file", "-DDEBU"}, 3, false},
      {{"server", "8080", "key", "file", "-DDEBUGX"}, 3, false},
      {{"server", "8080", "key", "file", ""}, 3, false},
      // In place of a fixed argument it is only that argument's value.
      {{"server", "8080", "key", "-DDEBUG"}, 3, false},
  };
  for (const auto& row : rows) {
    const int argc = static_cast<int>(row.argv.size());
    EXPECT_EQ(debug_switch(argc, row.argv.data(), row.fixed), row.debug)
        << "argc " << argc << ", last \"" << row.argv.back() << "\"";
  }
}

TEST(DebugPrint, PrintsOnlyInDebugMode) {
  ::testing::internal::CaptureStdout();
  debug_print(false, "hidden %d\n", 1);
  debug_print(true, "shown %d\n", 2);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "shown 2\n");
}

TEST(AbortRun, PrintsAbortAndExitsZero) {
  EXPECT_EXIT(abort_run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
