#include "stream/file_output.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
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
  for (const auto how : {file_output::writes::handed_off, file_output::writes::plain}) {
    // Pieces of an odd size straddle the ends of the pieces it writes.
    for (const std::size_t piece : {std::size_t{972}, std::size_t{1}, std::size_t{0}}) {
      const std::string path = temporary_path("file_output");
      {
        std::ofstream old(path);
        old << "an older file, longer than nothing";
      }
      file_output out(how);
      ASSERT_TRUE(out.open(path.c_str()));
      // Truncated at once: a run that ends here leaves no old bytes.
      struct stat opened {};
      ASSERT_EQ(stat(path.c_str(), &opened), 0);
      EXPECT_EQ(opened.st_size, 0);
      const auto& want = piece == 0 ? std::vector<std::uint8_t>{} : bytes;
      ASSERT_TRUE(store(out, want, std::max<std::size_t>(piece, 1)));
      EXPECT_TRUE(out.finish());
      EXPECT_EQ(read_back(path), want) << (how == file_output::writes::plain ? "plain" : "handed off") << ", pieces of "
                                       << piece;
      std::remove(path.c_str());
    }
  }
}

TEST(FileOutput, ReportsAFullDiskAndAFileItCannotOpen) {
  for (const auto how : {file_output::writes::handed_off, file_output::writes::plain}) {
    file_output full(how);
    ASSERT_TRUE(full.open("/dev/full"));
    const std::vector<std::uint8_t> bytes(3 * file_output::piece_size, 7);
    // The failure may show at an append or only once every write is done;
    // either way it never ends as a success.
    const bool stored = store(full, bytes, 1000);
    EXPECT_FALSE(stored && full.finish());
    EXPECT_FALSE(full.finish());

    file_output nowhere(how);
    EXPECT_FALSE(nowhere.open("/nonexistent-directory/file"));
  }
}

TEST(FileOutput, NeverWaitsForAReaderOfAFifo) {
  const std::string path = temporary_path("fifo");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  file_output out;
  // Refused at once; a blocking open would hang here for ever.
  EXPECT_FALSE(out.open(path.c_str()));
  std::remove(path.c_str());
}

// A file system of 1 MiB, mounted for one test and removed after it.
class SmallDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    std::filesystem::create_directories(dir);
    if (mount("small", dir.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "tmpfs cannot be mounted here";
    mounted = true;
  }
  void TearDown() override {
    if (mounted) umount(dir.c_str());
    std::filesystem::remove(dir);
  }
  std::filesystem::path dir = temporary_path("small-disk");
  bool mounted = false;
};

TEST_F(SmallDisk, LeavesAPrefixOfWhatWasAppendedAndNothingElse) {
  std::vector<std::uint8_t> bytes(3 * 1024 * 1024);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 977 + 1);
  for (const auto how : {file_output::writes::handed_off, file_output::writes::plain}) {
    const std::string path = (dir / "out").string();
    file_output out(how);
    ASSERT_TRUE(out.open(path.c_str()));
    const bool stored = store(out, bytes, 972);
    // Finished whatever the appends said: the writes in flight end first.
    const bool finished = out.finish();
    EXPECT_FALSE(stored && finished);
    const std::vector<std::uint8_t> kept = read_back(path);
    ASSERT_LE(kept.size(), bytes.size());
    EXPECT_GT(kept.size(), 0u);
    // No zeros standing in for bytes that never reached the disk.
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), bytes.begin()))
        << (how == file_output::writes::plain ? "plain" : "handed off") << ": " << kept.size() << " bytes";
    std::remove(path.c_str());
  }
}

}  // namespace
