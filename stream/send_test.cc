// Sending: batches as they arrive, and a file as a stream of records.

#include "stream/send.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/bytes.h"
#include "stream/loopback_test.h"

namespace {

TEST(SendBatch, SendsEveryDatagramWholeAndInOrderWhicheverWayIsUsed) {
  for (const auto& [name, probed] : feature_rows()) {
    loopback_socket sender, receiver;
    ASSERT_GE(sender.fd, 0);
    ASSERT_GE(receiver.fd, 0);
    constexpr std::size_t size = 988;
    std::array<std::uint8_t, max_batch * size> area{};
    for (std::size_t i = 0; i < max_batch; ++i)
      for (std::size_t at = 0; at < size; ++at) area[i * size + at] = byte_of(i, at);
    batch_features features = probed;
    // A whole batch, then one alone, then a count beyond what the area holds.
    EXPECT_EQ(send_batch(sender.fd, features, area, size, max_batch, receiver.self), max_batch) << name;
    EXPECT_EQ(send_batch(sender.fd, features, std::span(area).first(size), size, 1, receiver.self), 1u) << name;
    EXPECT_EQ(send_batch(sender.fd, features, std::span(area).first(2 * size), size, 5, receiver.self), 2u) << name;
    std::array<std::uint8_t, 2000> got{};
    for (std::size_t i = 0; i < max_batch + 3; ++i) {
      const std::size_t want = i < max_batch ? i : i - max_batch - (i == max_batch ? 0 : 1);
      const ssize_t n = recv(receiver.fd, got.data(), got.size(), 0);
      ASSERT_EQ(n, static_cast<ssize_t>(size)) << name << " datagram " << i;
      ASSERT_EQ(std::memcmp(got.data(), &area[want * size], size), 0) << name << " datagram " << i;
    }
  }
}

// Test records: a u32 net count of file bytes, then the bytes, in datagrams
// of 4 + 100 bytes.
constexpr std::size_t record_data = 100;
constexpr std::size_t record_size = 4 + record_data;

class test_sealer final : public record_sealer {
 public:
  std::span<std::uint8_t> data_area(std::span<std::uint8_t> datagram) override {
    return datagram.subspan(4, record_data);
  }
  void seal(std::span<std::uint8_t> datagram, std::size_t got) override {
    put_u32_net(datagram, 0, static_cast<std::uint32_t>(got));
    ++sealed;
  }
  // A stand-in for a cipher that works on many records at once: every
  // data byte of the fill is flipped, and must be flipped exactly once.
  void seal_all(std::span<std::uint8_t> area, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i)
      for (std::uint8_t& byte : area.subspan(i * record_size + 4, record_data)) byte ^= 0xFF;
  }
  void sent(std::size_t count) override { reported += count; }
  std::size_t sealed = 0;
  std::size_t reported = 0;
};

TEST(SendFile, SendsTheFileAsRecordsEndedByAShortOne) {
  const auto dir = std::filesystem::path(::testing::TempDir());
  // Sizes around a record, a batch of them and a fill.
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, record_data, 3 * record_data + 5, max_batch * record_data,
        (max_batch + 1) * record_data + 1, (max_fill + 1) * record_data + 7}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = byte_of(i, i / 251);
    const auto path = dir / ("send-file-" + std::to_string(getpid()));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    loopback_socket sender, receiver;
    ASSERT_GE(receiver.fd, 0);
    std::FILE* input = std::fopen(path.c_str(), "rb");
    ASSERT_NE(input, nullptr);
    stream_sender stream(sender.fd, batch_features{}, receiver.self);
    test_sealer sealer;
    static std::array<std::uint8_t, max_fill * record_size> area{};
    const send_report report = send_file(stream, input, sealer, area, record_size);
    EXPECT_EQ(report.status, send_status::sent) << size;
    EXPECT_EQ(report.bytes, size);
    std::fclose(input);
    std::filesystem::remove(path);

    const std::size_t records = size / record_data + 1;
    EXPECT_EQ(sealer.sealed, records) << size;
    EXPECT_EQ(sealer.reported, records) << size;
    EXPECT_EQ(report.records, records) << size;
    std::vector<std::uint8_t> got;
    for (std::size_t i = 0; i < records; ++i) {
      std::array<std::uint8_t, 2 * record_size> datagram{};
      ASSERT_EQ(recv(receiver.fd, datagram.data(), datagram.size(), 0), static_cast<ssize_t>(record_size)) << size;
      const std::uint32_t length = get_u32_net(datagram, 0);
      // Only the last record is short, and it always is.
      ASSERT_EQ(length, i + 1 < records ? record_data : size % record_data) << size << ", record " << i;
      for (std::size_t at = 4; at < 4 + length; ++at) got.push_back(static_cast<std::uint8_t>(datagram[at] ^ 0xFF));
    }
    EXPECT_EQ(got, bytes) << size;
  }
}

TEST(SendFile, NeverOutrunsItsRateCap) {
  // 2000 records of 104 bytes, 146 on the wire: 2,336,000 bits, which take
  // 0.292 s at 8 Mbit, less the first burst's 2 ms. Sleeps are never short,
  // so this is a floor whatever the machine's load.
  const auto path = std::filesystem::path(::testing::TempDir()) / ("capped-" + std::to_string(getpid()));
  std::ofstream(path, std::ios::binary) << std::string(2000 * record_data - 1, 'x');
  loopback_socket sender, receiver;
  std::FILE* input = std::fopen(path.c_str(), "rb");
  ASSERT_NE(input, nullptr);
  stream_sender stream(sender.fd, batch_features{}, receiver.self, pace::settings{8'000'000});
  test_sealer sealer;
  static std::array<std::uint8_t, max_fill * record_size> area{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(send_file(stream, input, sealer, area, record_size).records, 2000u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  std::fclose(input);
  std::filesystem::remove(path);
}

TEST(SendFile, StopsAtAReadErrorWithoutAClosingRecord) {
  // A directory opens for reading, but every read fails.
  std::FILE* input = std::fopen(::testing::TempDir().c_str(), "r");
  ASSERT_NE(input, nullptr);
  loopback_socket sender, receiver;
  stream_sender stream(sender.fd, batch_features{}, receiver.self);
  test_sealer sealer;
  static std::array<std::uint8_t, max_fill * record_size> area{};
  EXPECT_EQ(send_file(stream, input, sealer, area, record_size).status, send_status::read_failed);
  EXPECT_EQ(sealer.sealed, 0u);
  std::fclose(input);
}

}  // namespace
