#include "common/options.h"

#include <gtest/gtest.h>

#include <string>
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
    const program_options options =
        read_options(static_cast<int>(argv.size()), argv.data(), takes_credentials | takes_rate);
    EXPECT_EQ(options.credentials, row.credentials) << name;
    EXPECT_EQ(options.first_positional, row.first_positional) << name;
  }
}

TEST(ReadOptions, TakesValuesInBothFormsAndOnlyValuesItCanUse) {
  struct Row {
    std::vector<const char*> args;  // after the program name
    unsigned accepted;
    std::uint64_t rate;
    int retries;
    int first_positional;
  };
  constexpr unsigned server = takes_credentials | takes_rate;
  const Row rows[] = {
      {{"--rate", "90M", "9001"}, server, 90'000'000, 0, 3},
      {{"--rate=900M", "9001"}, server, 900'000'000, 0, 2},
      {{"--rate", "1500k", "--credentials", "9001"}, server, 1'500'000, 0, 4},
      {{"--rate=1G"}, server, 1'000'000'000, 0, 2},
      {{"--rate", "64000", "x"}, server, 64'000, 0, 3},
      // No cap, as without the option: what a service's configuration
      // gives when it names no rate.
      {{"--rate=0", "9001"}, server, 0, 0, 2},
      // A value it cannot take ends the options where it stands.
      {{"--rate", "fast", "9001"}, server, 0, 0, 1},
      {{"--rate=", "9001"}, server, 0, 0, 1},
      {{"--rate", "-5M"}, server, 0, 0, 1},
      {{"--rate", "5m"}, server, 0, 0, 1},
      {{"--rate", "101G"}, server, 0, 0, 1},
      {{"--rate"}, server, 0, 0, 1},
      {{"--rates", "5M"}, server, 0, 0, 1},
      // Only the programs it belongs to take it.
      {{"--rate", "5M", "x"}, takes_retries, 0, 0, 1},
      {{"--retries", "2", "x"}, takes_retries, 0, 2, 3},
      {{"--retries=0", "x"}, takes_retries, 0, 0, 2},
      {{"--retries", "100", "x"}, takes_retries, 0, 100, 3},
      {{"--retries", "101", "x"}, takes_retries, 0, 0, 1},
      {{"--retries", "two", "x"}, takes_retries, 0, 0, 1},
      {{"--retries", "2", "x"}, server, 0, 0, 1},
  };
  for (const Row& row : rows) {
    std::vector<const char*> argv = {"program"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    std::string name;
    for (const char* arg : row.args) name += std::string(" [") + arg + "]";
    const program_options options = read_options(static_cast<int>(argv.size()), argv.data(), row.accepted);
    EXPECT_EQ(options.rate, row.rate) << name;
    EXPECT_EQ(options.retries, row.retries) << name;
    EXPECT_EQ(options.first_positional, row.first_positional) << name;
  }
}

TEST(ReadOptions, HelpAndVersionAreEveryProgramsAndEachHelpLineItsOwn) {
  const char* argv[] = {"program", "--version", "--help", "x"};
  const program_options options = read_options(4, argv, 0);
  EXPECT_TRUE(options.help);
  EXPECT_TRUE(options.version);
  EXPECT_EQ(options.first_positional, 3);
  // A client's help names --retries and not --rate.
  std::string client;
  for (int i = 0; option_help(takes_retries, i) != nullptr; ++i) client += option_help(takes_retries, i);
  EXPECT_NE(client.find("--retries"), std::string::npos);
  EXPECT_EQ(client.find("--rate"), std::string::npos);
  EXPECT_NE(client.find("--version"), std::string::npos);
}

}  // namespace
