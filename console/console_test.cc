#include "console/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
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

// What each form prints on standard output, kept in a file since a death
// test sees only standard error, and the reason it says there.
TEST(AbortRun, SaysWhyOnStandardErrorAndTheDiagnosticOnlyInDebugMode) {
  const std::string printed_path = ::testing::TempDir() + "abort_run_stdout";
  struct Row {
    const char* name;
    std::function<void()> run;
    std::string printed;
    std::string said;
  };
  const Row rows[] = {
      {"no diagnostic", [] { abort_run(); }, "ABORT\n", "the exchange failed\n"},
      {"debug", [] { abort_run(true, "step %d failed\nmore\n", 7); }, "step 7 failed\nmore\nABORT\n",
       "step 7 failed\n"},
      {"quiet", [] { abort_run(false, "step %d failed\n", 7); }, "ABORT\n", "step 7 failed\n"},
      {"a reason given",
       [] {
         because("no answer from %s", "192.0.2.1:9");
         abort_run(true, "error\n");
       },
       "error\nABORT\n", "no answer from 192.0.2.1:9\n"},
      // Lines printed before stay in front of it, none lost in a buffer.
      {"after a line",
       [] {
         std::printf("before\n");
         abort_run(true, "why\n");
       },
       "before\nwhy\nABORT\n", "why\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto run = [&] {
      if (std::freopen(printed_path.c_str(), "w", stdout) == nullptr) std::_Exit(3);
      row.run();
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), ::testing::Matcher<const std::string&>(row.said));
    std::ifstream printed(printed_path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(printed), {}), row.printed);
  }
}

TEST(Mysha1, SaysAMissingFileInEveryModeAndGivesNoDigest) {
  sha1_digest digest{};
  ::testing::internal::CaptureStdout();
  const bool ok = mysha1("/nonexistent-directory/file", digest);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nerror opening file1\n");
  EXPECT_FALSE(ok);
}

}  // namespace
