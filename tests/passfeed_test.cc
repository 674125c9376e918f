// The password file server run as a real program on 127.0.0.1, driven by a
// client that the tests play on the password library, faults included.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/sha1.h"
#include "password/wire.h"
#include "tests/support/output.h"
#include "tests/support/password_peer.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/udp_peer.h"

namespace {

using namespace std::chrono_literals;
using namespace password;
using namespace testing_support;

constexpr char secret[] = "secret";

// One passfeed serving a file from a temporary directory, with a client
// socket of the test's own. The destructor stops the server by its PID.
class Feed : public FileServerRun {
 public:
  // Runs program <port> <password> <input file> [last].
  explicit Feed(const bytes& file, const std::string& password = secret, const char* last = "-DDEBUG",
                const char* program = PASSFEED_PATH)
      : FileServerRun(program, password, file, last) {}

  std::uint16_t next_type() const { return testing_support::next_type(client); }

  // Checks a stream against the input file as it is now.
  void expect_file(const Stream& stream) const {
    const bytes content = read_file(input());
    EXPECT_EQ(stream.content, content);
    EXPECT_EQ(stream.digest, digest_of(content));
  }

  // The output of a server that should still be running after printing
  // text last.
  std::string printed(const std::string& text) {
    EXPECT_TRUE(server->wait_for_output(text, 10s));
    EXPECT_TRUE(server->running());
    return server->output();
  }
};

const std::string accepted_first = "JOIN_REQ received\nPASS_RESP received\nIm getting secret\npassword correct\n";

TEST(Passfeed, StreamsFilesInPiecesOfAThousand) {
  struct Row {
    std::size_t size;
    std::vector<std::uint32_t> lengths;
    const char* last = "-DDEBUG";  // anything else: a quiet run that prints only its OK
  };
  const Row rows[] = {
      {0, {0}}, {1, {1}}, {2500, {1000, 1000, 500}}, {3000, {1000, 1000, 1000, 0}}, {10, {10}, "-ddebug"},
  };
  for (const Row& row : rows) {
    Feed feed(random_bytes(row.size, static_cast<std::uint32_t>(row.size)), secret, row.last);
    ASSERT_TRUE(feed.bound());
    feed.send(join_req());
    ASSERT_EQ(feed.next_type(), PASS_REQ);
    feed.send(pass_resp(secret));
    ASSERT_EQ(feed.next_type(), PASS_ACCEPT);
    const Stream stream = receive_stream(feed.client);
    EXPECT_EQ(stream.lengths, row.lengths) << row.size << " bytes";
    feed.expect_file(stream);
    const bool debug = std::string_view(row.last) == "-DDEBUG";
    EXPECT_EQ(
        feed.printed("OK\n"),
        debug ? accepted_first + repeat("sending file!\n", static_cast<int>(row.lengths.size())) + "file sended!\nOK\n"
              : "OK\n")
        << row.size << " bytes";
  }
}

TEST(Passfeed, ThreeWrongPasswordsEndTheServer) {
  Feed feed(random_bytes(10), secret, nullptr);
  ASSERT_TRUE(feed.bound());
  feed.send(join_req());
  EXPECT_EQ(feed.next_type(), PASS_REQ);
  for (const char* wrong : {"one", "two"}) {
    feed.send(pass_resp(wrong));
    EXPECT_EQ(feed.next_type(), PASS_REQ);
  }
  feed.send(pass_resp("three"));
  EXPECT_EQ(feed.next_type(), PASS_REJECT);
  EXPECT_EQ(feed.ended(), "ABORT\n");
}

TEST(Passfeed, PasswordTestOnTheWire) {
  struct Row {
    const char* name;
    std::string own;
    bytes offered;
    bool accepted;
  };
  const std::string fifty(max_password_chars, 'f');
  // The right characters and length, then no zero byte up to where the
  // socket cuts the datagram.
  bytes right_then_no_zero = oversized(pass_resp(secret));
  std::fill(right_then_no_zero.begin() + pass_resp_password_at + 6, right_then_no_zero.end(), 'x');
  const Row rows[] = {
      {"right, then no zero byte in a datagram cut to the buffer", secret, right_then_no_zero, true},
      {"right", secret, pass_resp(secret), true},
      {"length one more", secret, pass_resp(secret, 7), false},
      {"length one less", secret, pass_resp(secret, 5), false},
      {"other case", secret, pass_resp("Secret"), false},
      {"empty own, length 0, junk bytes", "", pass_resp("junk", 0), true},
      {"empty own, length 1", "", pass_resp("j"), false},
      {"50 characters", fifty, pass_resp(fifty), true},
  };
  for (const Row& row : rows) {
    Feed feed(random_bytes(5), row.own);
    ASSERT_TRUE(feed.bound()) << row.name;
    feed.send(join_req());
    ASSERT_EQ(feed.next_type(), PASS_REQ) << row.name;
    feed.send(row.offered);
    EXPECT_EQ(feed.next_type(), row.accepted ? PASS_ACCEPT : PASS_REQ) << row.name;
  }
}

TEST(Passfeed, EndsOnAnUnexpectedDatagram) {
  struct Row {
    const char* name;
    // Each but the last is answered with a PASS_REQ.
    std::vector<bytes> sent;
    std::string output;
  };
  const Row rows[] = {
      {"empty first datagram", {bytes{}}, "First packet is not JOIN_REQ\nABORT\n"},
      {"first is a PASS_RESP", {pass_resp(secret)}, "First packet is not JOIN_REQ\nABORT\n"},
      {"JOIN_REQ with length 1", {bare(JOIN_REQ, 1)}, "First packet is not JOIN_REQ\nABORT\n"},
      {"JOIN_REQ with length 2^24", {bare(JOIN_REQ, 0x01000000)}, "First packet is not JOIN_REQ\nABORT\n"},
      {"empty first PASS_RESP", {join_req(), bytes{}}, "JOIN_REQ received\nIm expecting PASS_RESP\nABORT\n"},
      {"length 51", {join_req(), pass_resp(secret, 51)}, "JOIN_REQ received\nIm expecting PASS_RESP\nABORT\n"},
      {"JOIN_REQ cut from 2000 bytes, PASS_RESP length 2^32 - 1",
       {oversized(join_req()), pass_resp(secret, 0xFFFFFFFF)},
       "JOIN_REQ received\nIm expecting PASS_RESP\nABORT\n"},
      {"a second JOIN_REQ", {join_req(), join_req()}, "JOIN_REQ received\nIm expecting PASS_RESP\nABORT\n"},
      {"length 51 on the retry",
       {join_req(), pass_resp("wrong"), pass_resp(secret, 51)},
       "JOIN_REQ received\nPASS_RESP received\nIm getting wrong\npassword not correct\n"
       "Im expecting PASS_RESP\nABORT\n"},
  };
  for (const Row& row : rows) {
    Feed feed(random_bytes(5));
    ASSERT_TRUE(feed.bound()) << row.name;
    for (std::size_t i = 0; i + 1 < row.sent.size(); ++i) {
      feed.send(row.sent[i]);
      ASSERT_EQ(feed.next_type(), PASS_REQ) << row.name;
    }
    feed.send(row.sent.back());
    EXPECT_EQ(feed.ended(), row.output) << row.name;
  }
}

TEST(Passfeed, ClearsTheReceiveBufferOnlyBeforeAnExchangesFirstReceives) {
  Feed feed(random_bytes(5));
  ASSERT_TRUE(feed.bound());
  // A JOIN_REQ that carries the password where a PASS_RESP has it: the
  // buffer is cleared before the first PASS_RESP, so a bare header with the
  // right length is a wrong password.
  bytes join_with_password = pass_resp(secret);
  put_u16_net(join_with_password, type_at, JOIN_REQ);
  put_u32_net(join_with_password, length_at, 0);
  feed.send(join_with_password);
  ASSERT_EQ(feed.next_type(), PASS_REQ);
  feed.send(bare(PASS_RESP, 6));
  ASSERT_EQ(feed.next_type(), PASS_REQ);
  // The retries are not cleared: the bare header after a PASS_RESP that had
  // the right bytes and the wrong length is read with those bytes.
  feed.send(pass_resp(secret, 5));
  ASSERT_EQ(feed.next_type(), PASS_REQ);
  feed.send(bare(PASS_RESP, 6));
  ASSERT_EQ(feed.next_type(), PASS_ACCEPT);
  feed.expect_file(receive_stream(feed.client));
  ASSERT_TRUE(feed.server->wait_for_output("OK\n"));
  // Cleared before the JOIN_REQ: two bytes of type read with a zero length,
  // not the 6 that the last PASS_RESP left.
  feed.send(bytes{0x00, 0x01});
  EXPECT_EQ(feed.next_type(), PASS_REQ);
}

}  // namespace
