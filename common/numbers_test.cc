#include "common/numbers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NumRow {
  std::string text;
  std::uint16_t value;
};

TEST(ToNum, TakesDecimalTextModulo65536) {
  const NumRow rows[] = {
      {"8080", 8080},
      {"65535", 65535},
      {"65536", 0},
      {"70000", 4464},
      {"", 0},
      {"0", 0},
      {"007", 7},
      // Every other character counts as its code minus 48: 'a' is 49.
      {"1a", 59},
      // A space in the units place counts 65520, that is -16.
      {"20 ", 200 - 16},
      // Nine digits: every term stays below 2^31 and the value wraps exactly.
      {"999999999", static_cast<std::uint16_t>(999999999u % 65536u)},
      // Ten or more digits: each term contributes its exact value modulo 65536.
      {"4294967296", static_cast<std::uint16_t>(4294967296ull % 65536ull)},
      {"12345678901234567890", static_cast<std::uint16_t>(12345678901234567890ull % 65536ull)},
  };
  for (const auto& row : rows) EXPECT_EQ(to_num(row.text.c_str()), row.value) << "text \"" << row.text << "\"";
}

TEST(PortNumber, ReadsLikeAtoiKeptToSixteenBits) {
  const NumRow rows[] = {
      {"8080", 8080},
      {"70000", 4464},
      {"abc", 0},
      {"12ab", 12},
      {" 42", 42},
      {"-1", 65535},
      {"", 0},
      // Far beyond a long: defined, where atoi's result is not.
      {"99999999999999999999", 65535},
  };
  for (const auto& row : rows) EXPECT_EQ(port_number(row.text.c_str()), row.value) << "text \"" << row.text << "\"";
}

TEST(IsPortText, IsOnlyWhatAnOperatorMeansByAPort) {
  for (const char* text : {"0", "9001", "65535", "00080"}) EXPECT_TRUE(is_port_text(text)) << text;
  for (const char* text : {"", "65536", "70000", "123456", "9001x", " 9001", "-1", "0x10"})
    EXPECT_FALSE(is_port_text(text)) << text;
}

}  // namespace
