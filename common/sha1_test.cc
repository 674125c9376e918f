#include "common/sha1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::string hex(const sha1_digest& digest) {
  std::string text;
  char pair[3];
  for (auto byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

class FileDigest : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("file-digest-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path write(const std::string& name, const std::string& bytes) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
};

TEST_F(FileDigest, GivesTheStandardDigests) {
  sha1_digest digest{};
  ASSERT_EQ(file_digest(write("empty", "").c_str(), digest), digest_status::ok);
  EXPECT_EQ(hex(digest), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  ASSERT_EQ(file_digest(write("abc", "abc").c_str(), digest), digest_status::ok);
  EXPECT_EQ(hex(digest), "a9993e364706816aba3e25717850c26c9cd0d89d");
  ASSERT_EQ(
      file_digest(write("two-blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq").c_str(), digest),
      digest_status::ok);
  EXPECT_EQ(hex(digest), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST_F(FileDigest, AgreesWithSha1sumOnALargeFile) {
  // A few MB, not a multiple of the read piece, so the last read is partial.
  std::mt19937 generator(7);
  std::string bytes(3 * 1024 * 1024 + 12345, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  const auto path = write("large", bytes);
  sha1_digest digest{};
  ASSERT_EQ(file_digest(path.c_str(), digest), digest_status::ok);

  const std::string command = "sha1sum " + path.string();
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char expected[41] = {};
  ASSERT_EQ(std::fread(expected, 1, 40, pipe), 40u);
  pclose(pipe);
  EXPECT_EQ(hex(digest), expected);
}

TEST_F(FileDigest, TellsAMissingFileFromAFailedRead) {
  sha1_digest digest{};
  EXPECT_EQ(file_digest((dir / "missing").c_str(), digest), digest_status::open_failed);
  // A directory opens for reading but every read fails.
  EXPECT_EQ(file_digest(dir.c_str(), digest), digest_status::read_failed);
}

}  // namespace
