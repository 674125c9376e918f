#include "ticket/des.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "common/hex.h"
#include "tests/support/key_schedule.h"

namespace {

using testing_support::bytes_of;

using testing_support::schedule_of;

// A reference ciphertext made with the command-line tool (the ticket codec's
// AP_REP test holds another, of a part whose last block is completed with
// zero bytes):
//   openssl enc -des-cbc -provider legacy -provider default -nopad
//     -K 133457799BBCDFF1 -iv 5A3C96E10F78B42D
TEST(EncryptPart, MatchesAnIndependentImplementation) {
  const auto key = schedule_of("133457799BBCDFF1");
  const char plain[] = "0123456789ABCDEFfedcba98";
  std::array<std::uint8_t, 24> cipher{};
  ASSERT_TRUE(encrypt_part(key, std::span(reinterpret_cast<const std::uint8_t*>(plain), 24), cipher));
  EXPECT_EQ(std::vector<std::uint8_t>(cipher.begin(), cipher.end()),
            bytes_of("9d434c40d1389486482c0e04ad9aba510b287b08c75d1a08"));
}

TEST(EncryptPart, StartsEveryPartFromTheFixedVector) {
  const auto key = schedule_of("0E329232EA6D0D73");
  std::array<std::uint8_t, 978> plain{};
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
  std::array<std::uint8_t, 984> first{}, second{};
  ASSERT_TRUE(encrypt_part(key, plain, first));
  ASSERT_TRUE(encrypt_part(key, plain, second));
  EXPECT_EQ(first, second);
}

TEST(DecryptPart, RoundTripsAtTheProtocolsByteCounts) {
  const auto key = schedule_of("0E329232EA6D0D73");
  for (const std::size_t n : {1u, 8u, 10u, 14u, 15u, 16u, 48u, 100u, 164u, 978u}) {
    std::vector<std::uint8_t> plain(n);
    for (std::size_t i = 0; i < n; ++i) plain[i] = static_cast<std::uint8_t>(0x30 + i % 61);
    std::vector<std::uint8_t> cipher(blocks(n) + 8, 0xEE);
    ASSERT_TRUE(encrypt_part(key, plain, cipher)) << n;
    EXPECT_EQ(cipher[blocks(n)], 0xEE) << "wrote past blocks(" << n << ")";

    // Exactly n bytes come back; the bytes after them are untouched.
    std::vector<std::uint8_t> back(n + 8, 0xAA);
    ASSERT_TRUE(decrypt_part(key, cipher, n, back)) << n;
    EXPECT_EQ(std::vector<std::uint8_t>(back.begin(), back.begin() + static_cast<long>(n)), plain) << n;
    for (std::size_t i = n; i < back.size(); ++i) EXPECT_EQ(back[i], 0xAA) << "n " << n << " byte " << i;
  }
}

TEST(DecryptPart, RefusesCountsBeyondEitherArea) {
  const auto key = schedule_of("0E329232EA6D0D73");
  std::array<std::uint8_t, 16> cipher{};
  std::array<std::uint8_t, 15> plain;
  plain.fill(0xAA);
  // 15 fits the plaintext area and reads the 16 cipher bytes.
  EXPECT_TRUE(decrypt_part(key, cipher, 15, plain));
  plain.fill(0xAA);
  EXPECT_FALSE(decrypt_part(key, cipher, 16, plain));                     // writes past plain
  EXPECT_FALSE(decrypt_part(key, std::span(cipher).first(8), 9, plain));  // reads past cipher
  for (auto byte : plain) EXPECT_EQ(byte, 0xAA);
  std::array<std::uint8_t, 8> small_cipher{};
  EXPECT_FALSE(encrypt_part(key, std::span(cipher).first(9), small_cipher));
}

struct KeyRow {
  const char* text;
  int result;
};

TEST(MakeKeySchedule, AcceptsOddParityAndRefusesBadKeys) {
  const KeyRow rows[] = {
      {"133457799BBCDFF1", 0},  {"0123456789ABCDEF", 0},   // every byte happens to have odd parity
      {"0000000000000000", -1}, {"133457799BBCDFF0", -1},  // last byte loses its parity bit
      {"0101010101010101", -2},                            // weak
      {"FEFEFEFEFEFEFEFE", -2},                            // weak
      {"01FE01FE01FE01FE", -2},                            // semi-weak
      {"1FE01FE00EF10EF1", -2},                            // semi-weak
  };
  for (const auto& row : rows) {
    des_key key{};
    hex_to_bytes(row.text, key);
    key_schedule schedule{};
    EXPECT_EQ(make_key_schedule(key, schedule), row.result) << row.text;
  }
}

}  // namespace
