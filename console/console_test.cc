#include "console/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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

// What each form prints on standard output, seen on standard error, which
// is what the death test captures.
TEST(AbortRun, PrintsTheDiagnosticOnlyInDebugModeThenAbortAndExitsZero) {
  const auto to_stderr = [] {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
  };
  using Seen = ::testing::Matcher<const std::string&>;
  EXPECT_EXIT((to_stderr(), abort_run()), ::testing::ExitedWithCode(0), Seen("ABORT\n"));
  EXPECT_EXIT((to_stderr(), abort_run(true, "step %d failed\n", 7)), ::testing::ExitedWithCode(0),
              Seen("step 7 failed\nABORT\n"));
  EXPECT_EXIT((to_stderr(), abort_run(false, "step %d failed\n", 7)), ::testing::ExitedWithCode(0), Seen("ABORT\n"));
  // Lines printed before stay in front of it, none lost in a buffer.
  EXPECT_EXIT((to_stderr(), std::printf("before\n"), abort_run(true, "why\n")), ::testing::ExitedWithCode(0),
              Seen("before\nwhy\nABORT\n"));
}

TEST(Mysha1, SaysAMissingFileInEveryModeAndGivesNoDigest) {
  sha1_digest digest{};
  ::testing::internal::CaptureStdout();
  const bool ok = mysha1("/nonexistent-directory/file", digest);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nerror opening file1\n");
  EXPECT_FALSE(ok);
}

}  // namespace
