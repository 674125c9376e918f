#include "common/secret_arg.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

TEST(HideArgument, OverwritesEveryCharacterAndNothingElse) {
  for (const std::string text : {"", "a", "sesame", "0E329232EA6D0D73"}) {
    // The text between two guards, as one argument sits between its
    // neighbours in the argument area.
    std::string area = "A" + std::string(1, '\0') + text + std::string(1, '\0') + "B";
    hide_argument(area.data() + 2);
    EXPECT_EQ(area, "A" + std::string(1, '\0') + std::string(text.size(), 'x') + std::string(1, '\0') + "B")
        << "text \"" << text << "\"";
  }
}

TEST(TakeArgument, CopiesUpToTheCopySizeAndHidesTheOriginal) {
  struct Row {
    std::string text;
    std::string copied;
  };
  // The copy holds at most five characters.
  const Row rows[] = {
      {"", ""},
      {"abc", "abc"},
      {"abcde", "abcde"},
      {"abcdef", "abcde"},
      {"abcdefghijk", "abcde"},
  };
  for (const Row& row : rows) {
    std::string argument = row.text;
    std::array<char, 6> copy;
    copy.fill('#');
    const char* taken = take_argument(argument.data(), copy);
    ASSERT_EQ(taken, copy.data()) << row.text;
    EXPECT_EQ(std::string(taken), row.copied) << row.text;
    // Terminated, and nothing left of an earlier content after the text.
    for (std::size_t i = row.copied.size(); i < copy.size(); ++i) EXPECT_EQ(copy[i], '\0') << row.text << " at " << i;
    EXPECT_EQ(argument, std::string(row.text.size(), 'x')) << row.text;
  }
}

}  // namespace
