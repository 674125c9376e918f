#include "common/file_output.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string temporary_path(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/" + name + "." + std::to_string(getpid());
}

std::vector<std::uint8_t> read_back(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Appends pieces the way a receiver does: as many as fit, waiting for the
// disk whenever there is no room.
bool store(file_output& out, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    while (!out.room_for(n)) out.wait(std::chrono::milliseconds(100));
    if (!out.append(std::span(bytes).subspan(at, n))) return false;
  }
  return true;
}

TEST(FileOutput, WritesEveryByteInOrderWithTheKernelsWritesAndWithout) {
  std::vector<std::uint8_t> bytes(5 * file_output::pieces * file_output::piece_size + 123);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 977);
  for (const bool use_ring : {true, false}) {
    // Pieces of an odd size straddle the ends of the pieces it writes.
    for (const std::size_t piece : {std::size_t{972}, std::size_t{1}, std::size_t{0}}) {
      const std::string path = temporary_path("file_output");
      {
        std::ofstream old(path);
        old << "an older file, longer than nothing";
      }
      file_output out(use_ring);
      ASSERT_TRUE(out.open(path.c_str()));
      const auto& want = piece == 0 ? std::vector<std::uint8_t>{} : bytes;
      ASSERT_TRUE(store(out, want, std::max<std::size_t>(piece, 1)));
      EXPECT_TRUE(out.finish());
      EXPECT_EQ(read_back(path), want) << (use_ring ? "ring" : "plain") << ", pieces of " << piece;
      std::remove(path.c_str());
    }
  }
}

TEST(FileOutput, ReportsAFullDiskAndAFileItCannotOpen) {
  for (const bool use_ring : {true, false}) {
    file_output full(use_ring);
    ASSERT_TRUE(full.open("/dev/full"));
    const std::vector<std::uint8_t> bytes(3 * file_output::piece_size, 7);
    // The failure may show at an append or only once every write is done;
    // either way it never ends as a success.
    const bool stored = store(full, bytes, 1000);
    EXPECT_FALSE(stored && full.finish()) << (use_ring ? "ring" : "plain");
    EXPECT_FALSE(full.finish());

    file_output nowhere(use_ring);
    EXPECT_FALSE(nowhere.open("/nonexistent-directory/file"));
  }
}

}  // namespace
