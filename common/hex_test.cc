#include "common/hex.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>

namespace {

struct HexRow {
  const char* text;
  std::array<std::uint8_t, 8> key;
};

TEST(HexToBytes, ConvertsPairsAndHandlesShortOrBadText) {
  const HexRow rows[] = {
      {"0123456789abcdef", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
      {"0123456789ABCDEF", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
      {"133457799BBCDFF1", {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1}},
      // Fifteen characters: the last pair is one digit and the terminating zero.
      {"0123456789abcde", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0x0E}},
      // Characters after the sixteenth are ignored.
      {"0123456789abcdef99", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
      // Two non-hexadecimal characters give 0; a digit then a non-digit gives the digit.
      {"zz23x5675z", {0x00, 0x23, 0x00, 0x67, 0x05, 0x00, 0x00, 0x00}},
      {"a", {0x0A, 0, 0, 0, 0, 0, 0, 0}},
      {"", {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& row : rows) {
    // An exact-size heap copy: under AddressSanitizer, a read past the
    // terminating zero fails the row.
    const std::size_t len = std::strlen(row.text);
    auto copy = std::make_unique<char[]>(len + 1);
    std::memcpy(copy.get(), row.text, len + 1);
    std::array<std::uint8_t, 8> key;
    key.fill(0x5A);
    hex_to_bytes(copy.get(), key);
    EXPECT_EQ(key, row.key) << "text \"" << row.text << "\"";
  }
}

}  // namespace
