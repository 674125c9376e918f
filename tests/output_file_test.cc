// What a client leaves in its output file, and how long it may wait for it,
// when a run does not end well: the real programs of each system.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/systems.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr system_kind both[] = {system_kind::ticket, system_kind::password};

// Whether a client has begun on path, which held size bytes of old_byte:
// the file is shorter, or a new byte stands where an old one was. Cheap, so
// that it is seen long before the stream ends.
bool begun_on(const std::filesystem::path& path, std::size_t size, std::uint8_t old_byte) {
  struct stat now {};
  if (stat(path.c_str(), &now) != 0 || static_cast<std::size_t>(now.st_size) != size) return true;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return true;
  const int first = std::fgetc(file);
  std::fclose(file);
  return first != old_byte;
}

TEST(OutputFile, AClientKilledMidStreamLeavesNoOldBytes) {
  const bytes input = random_bytes(std::size_t{40} * 1000 * 1000, 3);
  constexpr std::uint8_t old_byte = 0xEE;
  const bytes old_file(std::size_t{80} * 1000 * 1000, old_byte);
  for (const system_kind kind : both) {
    SCOPED_TRACE(system_name(kind));
    const auto run = start_system(kind, input);
    ASSERT_TRUE(run->ready());
    const auto out = run->dir / "out";
    write_file(out, old_file);
    const auto client = run->start_client(out);
    // Killed as soon as it has begun on the file: the file is shorter, or
    // a new byte stands where an old one was.
    ASSERT_TRUE(wait_until([&] { return begun_on(out, old_file.size(), old_byte); }, 20s));
    client->stop();
    const bytes kept = read_file(out);
    ASSERT_LE(kept.size(), input.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), input.begin())) << kept.size() << " bytes kept";
  }
}

TEST(OutputFile, AFifoWithoutAReaderEndsTheRunInsteadOfHoldingIt) {
  for (const system_kind kind : both) {
    SCOPED_TRACE(system_name(kind));
    const auto run = start_system(kind, random_bytes(5000));
    ASSERT_TRUE(run->ready());
    const auto out = run->dir / "fifo";
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    const auto client = run->start_client(out);
    EXPECT_EQ(output_at_exit(*client, 10s), "ABORT\n");
  }
}

}  // namespace
