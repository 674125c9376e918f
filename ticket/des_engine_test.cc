#include "ticket/des_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "common/hex.h"
#include "tests/support/key_schedule.h"

// Test names and messages show a variant by its name; it has to sit beside
// the type for GoogleTest to find it.
void PrintTo(des_variant variant, std::ostream* out);
void PrintTo(des_variant variant, std::ostream* out) { *out << variant_name(variant); }

namespace {

using testing_support::bytes_of;

constexpr std::uint8_t guard = 0xA5;

engine_key key_of(const char* text) {
  des_key key{};
  hex_to_bytes(text, key);
  engine_key out{};
  EXPECT_EQ(make_engine_key(key, out), 0) << text;
  return out;
}

// Each test below runs once per variant, the bitsliced ones on small work too
// (which the engine would otherwise hand to OpenSSL).
class EveryVariant : public testing::TestWithParam<des_variant> {
 protected:
  void SetUp() override {
    if (!variant_available(GetParam()))
      GTEST_SKIP() << variant_name(GetParam()) << " cannot run here: this build, the CPU or the OS lacks it";
  }
  des_engine engine() const { return {GetParam(), false}; }
  std::string name() const { return std::string(variant_name(GetParam())); }
};

INSTANTIATE_TEST_SUITE_P(DesEngine, EveryVariant, testing::ValuesIn(des_variants),
                         [](const testing::TestParamInfo<des_variant>& info) {
                           return std::string(variant_name(info.param));
                         });

// A buffer that holds `count` parts of `width` bytes, `stride` apart, at an odd
// offset inside guard bytes, so that any byte written outside a part shows.
struct guarded {
  std::vector<std::uint8_t> bytes;
  std::size_t offset, width, stride, count;

  guarded(std::size_t count_, std::size_t width_, std::size_t stride_, std::size_t offset_)
      : bytes(offset_ + (count_ == 0 ? 0 : (count_ - 1) * stride_ + width_) + 16, guard),
        offset(offset_),
        width(width_),
        stride(stride_),
        count(count_) {}

  std::span<std::uint8_t> area() {
    return std::span(bytes).subspan(offset, count == 0 ? 0 : (count - 1) * stride + width);
  }
  std::span<std::uint8_t> part(std::size_t i) { return std::span(bytes).subspan(offset + i * stride, width); }

  // The first byte outside every part that is not a guard byte, if any.
  std::ptrdiff_t stray() const {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const bool inside = i >= offset && (i - offset) % stride < width && (i - offset) / stride < count;
      if (!inside && bytes[i] != guard) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
};

struct KnownAnswer {
  const char* key;
  const char* plain;  // hexadecimal
  std::size_t n;      // bytes of plain used; the rest of its last block is zero
  const char* cipher;
};

// The first row is the standard's single-block example: its plaintext is
// 0123456789ABCDEF xored with the fixed vector, so one CBC block is one plain
// DES block. The others were made with
//   openssl enc -des-cbc -provider legacy -provider default -nopad -K <key>
//     -iv 5A3C96E10F78B42D
// on the plaintext completed with zero bytes.
const KnownAnswer known_answers[] = {
    {"133457799BBCDFF1", "5b1fd38686d379c2", 8, "85e813540f0ab405"},
    {"133457799BBCDFF1", "303132333435363738394142434445466665646362613938", 24,
     "9d434c40d1389486482c0e04ad9aba510b287b08c75d1a08"},
    {"0E329232EA6D0D73", "4e6f77206973207468652074696d6520666f7220", 20,
     "9ddd8c97ff1811f17b71f233e06d3406b75cf4f9b6d8d988"},
};

TEST_P(EveryVariant, MatchesKnownAnswers) {
  const des_engine engine = this->engine();
  for (const KnownAnswer& row : known_answers) {
    const engine_key key = key_of(row.key);
    const auto plain = bytes_of(row.plain);
    const auto expected = bytes_of(row.cipher);
    // Three copies side by side: each part starts from the fixed vector.
    constexpr std::size_t copies = 3;
    std::vector<std::uint8_t> plains;
    for (std::size_t i = 0; i < copies; ++i)
      plains.insert(plains.end(), plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(row.n));
    std::vector<std::uint8_t> cipher(copies * expected.size(), guard);
    ASSERT_TRUE(encrypt_parts(key, row.n, copies, plains, row.n, cipher, expected.size(), engine));
    const std::string where = row.cipher;
    for (std::size_t i = 0; i < copies; ++i)
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                             cipher.begin() + static_cast<std::ptrdiff_t>(i * expected.size())))
          << where << " part " << i;
    std::vector<std::uint8_t> back(row.n, guard);
    ASSERT_TRUE(decrypt_part(key, expected, row.n, back, engine));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), plain.begin())) << where;
  }
}

// A random key the schedule accepts: odd parity in every byte, not weak.
engine_key random_key(std::mt19937_64& random, des_key& text) {
  engine_key key{};
  for (;;) {
    for (auto& byte : text) {
      byte = static_cast<std::uint8_t>(random() & 0xFE);
      byte = static_cast<std::uint8_t>(byte | ((std::popcount(static_cast<unsigned>(byte)) & 1) == 0 ? 1 : 0));
    }
    if (make_engine_key(text, key) == 0) return key;
  }
}

// Batch sizes on both sides of every lane count a core has: a batch that is
// one part or block short of, or past, a core's width takes another path.
std::vector<std::size_t> counts_around_lanes(std::mt19937_64& random) {
  std::vector<std::size_t> counts = {1, 2, 3};
  for (const std::size_t lanes : {64U, 128U, 256U, 512U})
    for (const std::size_t count : {lanes - 1, lanes, lanes + 1, 2 * lanes - 1, 2 * lanes, 2 * lanes + 1})
      counts.push_back(count);
  for (int i = 0; i < 4; ++i) counts.push_back(1 + random() % 1100);
  return counts;
}

// Encrypts and decrypts random parts in the engine and part by part through
// OpenSSL, on buffers at odd offsets with guard bytes between the parts.
TEST_P(EveryVariant, AgreesWithOpenSslOnRandomParts) {
  const std::uint64_t seed = 0x21DE5;
  SCOPED_TRACE("seed " + std::to_string(seed));
  const des_engine engine = this->engine();
  std::mt19937_64 random(seed);
  for (const std::size_t count : counts_around_lanes(random)) {
    des_key text{};
    const engine_key key = random_key(random, text);
    // Long parts in small batches, short ones in big batches, so that the
    // whole run stays quick: the lanes do not care about the length.
    const std::size_t longest = std::min<std::size_t>(1010, 160000 / count);
    const std::size_t n = random() % (longest + 1);
    const std::size_t plain_stride = n + random() % 9, cipher_stride = blocks(n) + random() % 9;
    const std::string where = "count " + std::to_string(count) + " n " + std::to_string(n);

    guarded plain(count, n, std::max<std::size_t>(plain_stride, 1), 1 + random() % 7);
    for (std::size_t i = 0; i < count; ++i)
      for (auto& byte : plain.part(i)) byte = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> expected(count * blocks(n));
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_TRUE(encrypt_part(key.schedule, plain.part(i), std::span(expected).subspan(i * blocks(n), blocks(n))));

    guarded cipher(count, blocks(n), std::max<std::size_t>(cipher_stride, 1), 1 + random() % 7);
    ASSERT_TRUE(encrypt_parts(key, n, count, plain.area(), plain.stride, cipher.area(), cipher.stride, engine))
        << where;
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_TRUE(std::equal(cipher.part(i).begin(), cipher.part(i).end(),
                             expected.begin() + static_cast<std::ptrdiff_t>(i * blocks(n))))
          << where << " encrypted part " << i;
    EXPECT_EQ(cipher.stray(), -1) << where << ": encryption wrote outside its parts";

    guarded back(count, n, std::max<std::size_t>(plain_stride, 1), 1 + random() % 7);
    ASSERT_TRUE(decrypt_parts(key, n, count, cipher.area(), cipher.stride, back.area(), back.stride, engine)) << where;
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_TRUE(std::equal(back.part(i).begin(), back.part(i).end(), plain.part(i).begin()))
          << where << " decrypted part " << i;
    EXPECT_EQ(back.stray(), -1) << where << ": decryption wrote outside its parts";
  }
}

// With small work going to OpenSSL, as the programs run the engine: a batch
// of a few parts, or the few left after full batches, must come out the same.
TEST_P(EveryVariant, GivesTheSameBytesWhenSmallWorkGoesToOpenSsl) {
  std::mt19937_64 random(0x21DE7);
  const des_engine engine{GetParam(), true};
  for (const std::size_t count : {1U, 5U, 64U + 3U, 128U + 5U, 256U + 7U, 512U + 8U, 1024U + 9U}) {
    des_key text{};
    const engine_key key = random_key(random, text);
    const std::size_t n = 1 + random() % 40;
    std::vector<std::uint8_t> plain(count * n), expected(count * blocks(n)), cipher(count * blocks(n));
    for (auto& byte : plain) byte = static_cast<std::uint8_t>(random());
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_TRUE(encrypt_part(key.schedule, std::span(plain).subspan(i * n, n),
                               std::span(expected).subspan(i * blocks(n), blocks(n))));
    ASSERT_TRUE(encrypt_parts(key, n, count, plain, n, cipher, blocks(n), engine));
    EXPECT_EQ(cipher, expected) << "count " << count;
    std::vector<std::uint8_t> back(count * n);
    ASSERT_TRUE(decrypt_parts(key, n, count, cipher, blocks(n), back, n, engine));
    EXPECT_EQ(back, plain) << "count " << count;
  }
}

// One part's blocks fill the decrypting lanes: lengths around every core
// width, counted in blocks, with a last block cut short by up to 7 bytes.
TEST_P(EveryVariant, DecryptsOneLongPartAcrossLaneCounts) {
  std::mt19937_64 random(0x21DE6);
  const des_engine engine = this->engine();
  for (const std::size_t lanes : {64U, 128U, 256U, 512U}) {
    for (const std::size_t part_blocks : {lanes - 1, lanes, lanes + 1, 2 * lanes + 1}) {
      des_key text{};
      const engine_key key = random_key(random, text);
      const std::size_t n = part_blocks * 8 - random() % 8;
      std::vector<std::uint8_t> plain(n);
      for (auto& byte : plain) byte = static_cast<std::uint8_t>(random());
      std::vector<std::uint8_t> cipher(blocks(n));
      ASSERT_TRUE(encrypt_part(key.schedule, plain, cipher));
      std::vector<std::uint8_t> back(n + 8, guard);
      ASSERT_TRUE(decrypt_part(key, cipher, n, back, engine));
      const std::string where = "n " + std::to_string(n);
      EXPECT_TRUE(std::equal(plain.begin(), plain.end(), back.begin())) << where;
      EXPECT_TRUE(std::all_of(back.begin() + static_cast<std::ptrdiff_t>(n), back.end(), [](auto b) {
        return b == guard;
      })) << where;
    }
  }
}

struct BoundsRow {
  const char* what;
  std::size_t n, count, plain_stride, plain_size, cipher_stride, cipher_size;
  bool fits;
};

// Sizes in encryption terms; decryption swaps the roles of the two areas.
const BoundsRow bounds_rows[] = {
    {"exact fit", 978, 3, 978, 3 * 978, 988, 2 * 988 + 984, true},
    {"plain one byte short", 978, 3, 978, 3 * 978 - 1, 988, 2 * 988 + 984, false},
    {"cipher one byte short", 978, 3, 978, 3 * 978, 988, 2 * 988 + 983, false},
    {"plain parts overlap", 978, 3, 977, 3 * 978, 988, 2 * 988 + 984, false},
    {"cipher parts overlap", 978, 3, 978, 3 * 978, 983, 2 * 988 + 984, false},
    {"one part ignores strides", 10, 1, 0, 10, 0, 16, true},
    {"one part, cipher short", 10, 1, 0, 10, 0, 15, false},
    {"count overflows the offsets", 8, std::numeric_limits<std::size_t>::max(), 1U << 20, 1U << 21, 1U << 20, 1U << 21,
     false},
    {"no parts", 978, 0, 0, 0, 0, 0, true},
    {"empty parts in one place", 0, 3, 0, 0, 0, 0, true},
};

TEST_P(EveryVariant, RefusesPartsOutsideTheirAreasAndWritesNothing) {
  const engine_key key = key_of("0E329232EA6D0D73");
  const des_engine engine = this->engine();
  for (const BoundsRow& row : bounds_rows) {
    const std::string where = row.what;
    std::vector<std::uint8_t> plain(row.plain_size, 0x11), cipher(row.cipher_size, guard);
    EXPECT_EQ(encrypt_parts(key, row.n, row.count, plain, row.plain_stride, cipher, row.cipher_stride, engine),
              row.fits)
        << where;
    if (!row.fits) {
      EXPECT_TRUE(std::all_of(cipher.begin(), cipher.end(), [](auto b) { return b == guard; })) << where;
    }
    std::vector<std::uint8_t> back(row.plain_size, guard);
    EXPECT_EQ(decrypt_parts(key, row.n, row.count, cipher, row.cipher_stride, back, row.plain_stride, engine), row.fits)
        << where;
    if (!row.fits) {
      EXPECT_TRUE(std::all_of(back.begin(), back.end(), [](auto b) { return b == guard; })) << where;
    }
  }
}

TEST(MakeEngineKey, RefusesExactlyAsTheScheduleDoes) {
  const struct {
    const char* text;
    int result;
  } rows[] = {{"133457799BBCDFF1", 0}, {"133457799BBCDFF0", -1}, {"0101010101010101", -2}, {"01FE01FE01FE01FE", -2}};
  for (const auto& row : rows) {
    des_key key{};
    hex_to_bytes(row.text, key);
    engine_key out{};
    EXPECT_EQ(make_engine_key(key, out), row.result) << row.text;
  }
}

TEST(ChooseVariant, TakesAnAvailableNameAndFallsBackOtherwise) {
  const des_variant best = choose_variant(nullptr).variant;
  EXPECT_TRUE(variant_available(best));
  EXPECT_EQ(choose_variant(nullptr).source, variant_source::best_available);
  EXPECT_EQ(choose_variant("").source, variant_source::best_available);
  const auto unknown = choose_variant("avx1024");
  EXPECT_EQ(unknown.variant, best);
  EXPECT_EQ(unknown.source, variant_source::unknown_name);
  for (const des_variant variant : des_variants) {
    const std::string name(variant_name(variant));
    const variant_choice choice = choose_variant(name.c_str());
    if (variant_available(variant)) {
      EXPECT_EQ(choice.variant, variant) << name;
      EXPECT_EQ(choice.source, variant_source::forced) << name;
    } else {
      EXPECT_EQ(choice.variant, best) << name;
      EXPECT_EQ(choice.source, variant_source::unavailable) << name;
    }
  }
  // A bitsliced variant is never worse than none: the best is one of them.
  EXPECT_NE(best, des_variant::openssl);
}

}  // namespace
