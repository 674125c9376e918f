#include "ticket/nonce.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using ticket::nonce_reply_area;

struct ReplyRow {
  std::uint32_t nonce;
  const char* text;
  std::uint16_t length;
};

TEST(EncodeNonceReply, WritesTheSuccessorAndTheLengthRule) {
  const ReplyRow rows[] = {
      {1700000000u, "1700000001", 14},   // ten characters: 4 more, not rounded to 16
      {2147483647u, "-2147483648", 15},  // the successor wraps to the smallest signed value
      {9999999u, "10000000", 8},         // a whole block keeps its length, no zero inside
      {0u, "1", 5},
      {4294967295u, "0", 5},
      {4294967294u, "-1", 6},
      {99999999u, "100000000", 13},
  };
  for (const auto& row : rows) {
    std::array<std::uint8_t, nonce_reply_area> area;
    area.fill(0xAA);
    const auto length = ticket::encode_nonce_reply(area, row.nonce);
    EXPECT_EQ(length, row.length) << row.nonce;
    const std::size_t text_len = std::strlen(row.text);
    EXPECT_EQ(std::string(area.begin(), area.begin() + static_cast<long>(text_len)), row.text) << row.nonce;
    for (std::size_t i = text_len; i < area.size(); ++i) EXPECT_EQ(area[i], 0) << row.nonce << " byte " << i;
    EXPECT_EQ(ticket::decode_nonce_reply(area), row.nonce + 1u) << row.nonce;
  }
}

TEST(NonceReplyLength, AddsFourUnlessAWholeBlock) {
  const std::uint16_t expected[] = {0, 5, 6, 7, 8, 9, 10, 11, 8, 13, 14, 15, 16, 17, 18, 19, 16};
  for (std::size_t t = 0; t < std::size(expected); ++t) EXPECT_EQ(ticket::nonce_reply_length(t), expected[t]) << t;
}

struct ReadRow {
  std::string text;
  std::uint32_t value;
};

TEST(DecodeNonceReply, ReadsLikeAtoiWithinTheArea) {
  const ReadRow rows[] = {
      {"1700000001", 1700000001u},
      {"-2147483648", 2147483648u},
      {"  \t+42xyz", 42u},
      {"-1", 4294967295u},
      {"", 0u},
      {"abc", 0u},
      {"12 34", 12u},
      // The area holds no zero byte: reading stops at its end, and the value wraps.
      {std::string(32, '9'), static_cast<std::uint32_t>(0u - 1u)},
  };
  for (const auto& row : rows) {
    std::array<std::uint8_t, nonce_reply_area> area{};
    std::memcpy(area.data(), row.text.data(), row.text.size());
    EXPECT_EQ(ticket::decode_nonce_reply(area), row.value) << "\"" << row.text << "\"";
  }
}

}  // namespace
