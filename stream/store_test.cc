// The receiving path as a whole, against a socket the test plays: what
// reaches the file, and how each ending is told.

#include "stream/store.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stream/test_source.h"

namespace {

// Test datagrams: a first byte that says what it is ('D' data, 'E' the end,
// anything else refused), then the file bytes.
std::vector<std::uint8_t> data(std::size_t i, std::size_t size = 50) {
  std::vector<std::uint8_t> bytes(size + 1, static_cast<std::uint8_t>(i));
  bytes[0] = 'D';
  return bytes;
}

class test_unwrapper final : public record_unwrapper {
 public:
  explicit test_unwrapper(std::size_t buffer_size) : buffer_size_(buffer_size) {}
  unwrapped unwrap(const std::uint8_t* datagram) override {
    if (datagram[0] == 'E') return {unwrapped::verdict::end, {}};
    if (datagram[0] != 'D') return {};
    // A test datagram is never cut: its length is the buffer's up to the
    // last byte that is not zero.
    std::size_t end = buffer_size_;
    while (end > 1 && datagram[end - 1] == 0) --end;
    return {unwrapped::verdict::data, std::span(datagram + 1, end - 1)};
  }
  void stored(std::size_t bytes) override { stored_bytes += bytes; }
  std::size_t stored_bytes = 0;

 private:
  std::size_t buffer_size_;
};

std::string temporary_path() {
  return ::testing::TempDir() + "store-" + std::to_string(getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::vector<std::uint8_t> read_back(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct EndingRow {
  const char* name;
  std::vector<std::vector<std::uint8_t>> datagrams;
  receive_status when_empty;
  stream_end ends;
  std::size_t kept;  // data datagrams whose bytes the file holds
};

TEST(ReceiveFile, TellsEachEndingAndKeepsWhatWasAcceptedBeforeIt) {
  const EndingRow rows[] = {
      {"closed", {data(1), data(2), data(3), {'E'}}, receive_status::timed_out, stream_end::ended, 3},
      {"refused", {data(1), data(2), {'X'}, data(3)}, receive_status::timed_out, stream_end::refused, 2},
      {"silent", {data(1), data(2)}, receive_status::timed_out, stream_end::timed_out, 2},
      {"socket error", {data(1)}, receive_status::failed, stream_end::receive_failed, 1},
      {"closed at once", {{'E'}}, receive_status::timed_out, stream_end::ended, 0},
  };
  for (const EndingRow& row : rows) {
    for (const leftover rest : {leftover::zeroed, leftover::kept}) {
      test_source source;
      source.when_empty = row.when_empty;
      for (const auto& datagram : row.datagrams) source.queued.push_back(datagram);
      std::vector<std::uint8_t> area(std::size_t{1} << 20);
      stream_receiver stream(source, area, 100);
      const std::string path = temporary_path();
      file_output output;
      ASSERT_TRUE(output.open(path.c_str()));
      std::array<std::uint8_t, 100> buffer{};
      test_unwrapper unwrapper(buffer.size());
      EXPECT_EQ(receive_file(stream, output, buffer, rest, unwrapper), row.ends) << row.name;
      // Every ending but the closing record has finished the output itself.
      if (row.ends == stream_end::ended) (void)output.finish();
      std::vector<std::uint8_t> want;
      for (std::size_t i = 0; i < row.kept; ++i)
        want.insert(want.end(), row.datagrams[i].begin() + 1, row.datagrams[i].end());
      EXPECT_EQ(read_back(path), want) << row.name;
      EXPECT_EQ(unwrapper.stored_bytes, want.size()) << row.name;
      std::remove(path.c_str());
    }
  }
}

TEST(ReceiveFile, EndsWhenTheOutputCannotTakeTheBytes) {
  test_source source;
  // More than the output holds in memory, so that its writes must fail.
  for (std::size_t i = 0; i < 2 * file_output::pieces * file_output::piece_size / 90; ++i)
    source.queued.push_back(data(i + 1, 90));
  source.queued.push_back({'E'});
  std::vector<std::uint8_t> area(std::size_t{4} << 20);
  stream_receiver stream(source, area, 100);
  file_output output(file_output::writes::plain);
  ASSERT_TRUE(output.open("/dev/full"));
  std::array<std::uint8_t, 100> buffer{};
  test_unwrapper unwrapper(buffer.size());
  EXPECT_EQ(receive_file(stream, output, buffer, leftover::zeroed, unwrapper), stream_end::write_failed);
}

}  // namespace
