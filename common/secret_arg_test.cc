#include "common/secret_arg.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

// text between two guards, as one argument sits between its neighbours in
// the argument area. Built by appending: g++ 12 at -O3 takes a chain of
// string additions for an overlapping copy and warns (-Wrestrict).
std::string between_guards(const std::string& text) {
  std::string area = "A";
  area.push_back('\0');
  area.append(text);
  area.push_back('\0');
  area.push_back('B');
  return area;
}

TEST(HideArgument, OverwritesEveryCharacterAndNothingElse) {
  for (const std::string text : {"", "a", "sesame", "0E329232EA6D0D73"}) {
    std::string area = between_guards(text);
    hide_argument(area.data() + 2);
    EXPECT_EQ(area, between_guards(std::string(text.size(), 'x'))) << "text \"" << text << "\"";
  }
}

TEST(TakeArgument, CopiesUpToTheCopySizeAndHidesTheOriginal) {
  struct Row {
    std::string text;
    std::string copied;
  };
  // The copy holds at most five characters.
  const Row rows[] = {
      {"", ""}, {"abc", "abc"}, {"abcde", "abcde"}, {"abcdef", "abcde"}, {"abcdefghijk", "abcde"},
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
