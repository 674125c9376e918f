// The password file client run as a real program, driven by a server that
// the tests play on the password library over 127.0.0.1, faults included.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
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

const bytes old_content = {'o', 'l', 'd', '\n'};

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// One passfetch run against a server socket of the test's own. Its output
// file exists beforehand with old_content.
class Fetch : public FetchServer {
 public:
  // output, when given, is where the run stores the file instead.
  Fetch(std::array<std::string, 3> passwords = {"first", "second", "third"}, const char* last = "-DDEBUG",
        const char* program = PASSFETCH_PATH, const std::filesystem::path& output = {})
      : output_(output.empty() ? dir_ / "output" : output) {
    if (output.empty()) write_file(output_, old_content);
    std::vector<std::string> args{
        "127.0.0.1", std::to_string(server.port()), passwords[0], passwords[1], passwords[2], output_.string()};
    if (last != nullptr) args.push_back(last);
    client_ = std::make_unique<Process>(program, args, dir_ / "stdout");
  }

  std::filesystem::path output() const { return output_; }
  bytes stored() const { return read_file(output()); }

  // Sends the first PASS_REQ, takes the first password and accepts it.
  void accept_first() {
    ASSERT_TRUE(joined());
    send(bare(PASS_REQ));
    EXPECT_EQ(next_password(), "first");
    send(bare(PASS_ACCEPT));
  }

  bool silent() const { return server.silent_for(50ms); }

  // Waits for the exit with status 0 and returns everything printed.
  std::string ended() { return output_at_exit(*client_, 10s); }

 private:
  TempDir dir_;
  std::filesystem::path output_;
  std::unique_ptr<Process> client_;
};

const std::string accepted = "PASS_REQ received\nPASS_ACCEPT received\n";
const std::string good_end = "TERMINATE received\nchecksum correct\nfile transmission completed\nOK\n";

TEST(Passfetch, StoresAThousandBytePieces) {
  const bytes file = random_bytes(2500, 3);
  const bytes pieces[] = {bytes(file.begin(), file.begin() + 1000), bytes(file.begin() + 1000, file.begin() + 2000),
                          bytes(file.begin() + 2000, file.end())};
  struct Row {
    const char* last;
    std::string output;
  };
  const Row rows[] = {
      {"-DDEBUG", accepted + repeat("receiving file\n", 3) + good_end},
      {"-DDEBUGX", "OK\n"},
      {nullptr, "OK\n"},
  };
  for (const Row& row : rows) {
    Fetch fetch({"first", "second", "third"}, row.last);
    fetch.accept_first();
    for (std::uint32_t pid = 1; pid <= 3; ++pid) fetch.send(data_msg(pid, pieces[pid - 1]));
    fetch.send(terminate_msg(file));
    EXPECT_EQ(fetch.ended(), row.output);
    EXPECT_EQ(fetch.stored(), file);
  }
}

TEST(Passfetch, OffersTheNextPasswordForEachPassReq) {
  Fetch fetch;
  ASSERT_TRUE(fetch.joined());
  fetch.send(bare(PASS_REQ));
  EXPECT_EQ(fetch.next_password(), "first");
  // Only the first PASS_REQ of an exchange must have a zero length. The
  // socket cuts longer datagrams to the buffer, and the rest is read as usual.
  fetch.send(oversized(bare(PASS_REQ, 7)));
  EXPECT_EQ(fetch.next_password(), "second");
  fetch.send(oversized(bare(PASS_ACCEPT)));
  const bytes file = {'h', 'i'};
  fetch.send(data_msg(1, file));
  fetch.send(terminate_msg(file));
  EXPECT_EQ(fetch.ended(), "PASS_REQ received\nPASS_REQ received\nPASS_ACCEPT received\nreceiving file\n" + good_end);
  EXPECT_TRUE(fetch.silent()) << "no third PASS_RESP";
  EXPECT_EQ(fetch.stored(), file);
}

TEST(Passfetch, EndsThePasswordDialogue) {
  const std::string field_full(password_len, 'z');
  struct Row {
    const char* name;
    // The server's messages after the JOIN_REQ; the first `answered`
    // PASS_REQ are answered with a PASS_RESP each.
    std::vector<bytes> sent;
    int answered;
    std::string output;
  };
  const Row rows[] = {
      {"PASS_REJECT after three",
       {bare(PASS_REQ), bare(PASS_REQ), bare(PASS_REQ), bare(PASS_REJECT)},
       3,
       repeat("PASS_REQ received\n", 3) + "Please restart session and introduce the correct password\nABORT\n"},
      {"fourth PASS_REQ",
       {bare(PASS_REQ), bare(PASS_REQ), bare(PASS_REQ), bare(PASS_REQ)},
       3,
       repeat("PASS_REQ received\n", 4) + "No password left to offer\nABORT\n"},
      {"PASS_ACCEPT with length 1",
       {bare(PASS_REQ), bare(PASS_ACCEPT, 1)},
       1,
       "PASS_REQ received\nno PASS_ACCEPT arrived\nABORT\n"},
      {"PASS_REJECT with length 1",
       {bare(PASS_REQ), bare(PASS_REJECT, 1)},
       1,
       "PASS_REQ received\nno PASS_ACCEPT arrived\nABORT\n"},
      {"DATA instead of PASS_ACCEPT",
       {bare(PASS_REQ), data_msg(1, {1})},
       1,
       "PASS_REQ received\nno PASS_ACCEPT arrived\nABORT\n"},
      {"empty first reply", {bytes{}}, 0, "no PASS_REQ arrived\nABORT\n"},
      {"first PASS_REQ with length 1", {bare(PASS_REQ, 1)}, 0, "no PASS_REQ arrived\nABORT\n"},
      {"PASS_ACCEPT before any PASS_REQ", {bare(PASS_ACCEPT)}, 0, "no PASS_REQ arrived\nABORT\n"},
  };
  for (const Row& row : rows) {
    // A third password that fills the field exactly is still offered.
    Fetch fetch({"first", "second", field_full});
    ASSERT_TRUE(fetch.joined()) << row.name;
    const std::string offered[] = {"first", "second", field_full};
    int next = 0;
    for (const bytes& message : row.sent) {
      fetch.send(message);
      if (message.size() >= header_size && get_u16_net(message, type_at) == PASS_REQ && next < row.answered) {
        EXPECT_EQ(fetch.next_password(), offered[next++]) << row.name;
      }
    }
    EXPECT_EQ(fetch.ended(), row.output) << row.name;
    EXPECT_TRUE(fetch.silent()) << row.name;
    EXPECT_EQ(fetch.stored(), old_content) << row.name << ": the output file is opened only at PASS_ACCEPT";
  }
}

TEST(Passfetch, ChecksTheStream) {
  const bytes a(1000, 'a'), b(1000, 'b'), c = {'c', 'c', 'c'};
  // Nonzero bytes after length in the data field must not reach the file.
  bytes c_with_junk = data_msg(2, bytes(data_bytes_len, 'j'));
  put_u32_net(c_with_junk, length_at, 3);
  std::fill_n(c_with_junk.begin() + data_bytes_at, 3, 'c');
  bytes too_long = data_msg(1, bytes(data_bytes_len, 'x'));
  put_u32_net(too_long, length_at, data_bytes_len + 1);
  struct Row {
    const char* name;
    std::vector<bytes> sent;  // after PASS_ACCEPT
    std::string output;       // after "PASS_ACCEPT received\n"
    bytes stored;
  };
  const Row rows[] = {
      {"only length bytes written",
       {data_msg(1, a), c_with_junk, terminate_msg(concat({a, c}))},
       repeat("receiving file\n", 2) + good_end,
       concat({a, c})},
      {"empty file", {data_msg(1, {}), terminate_msg({})}, "receiving file\n" + good_end, {}},
      {"every datagram cut from 2000 bytes",
       {oversized(data_msg(1, a)), oversized(data_msg(2, c)), oversized(terminate_msg(concat({a, c})))},
       repeat("receiving file\n", 2) + good_end,
       concat({a, c})},
      {"empty datagram for the first DATA", {bytes{}}, "Expecting DATA\nABORT\n", {}},
      // Nothing clears the buffer inside the stream: an empty datagram reads
      // as a repeat of the DATA before it.
      {"empty datagram after a DATA", {data_msg(1, a), bytes{}}, "receiving file\ntransmission error\nABORT\n", a},
      {"pid 1, 2, 2",
       {data_msg(1, a), data_msg(2, b), data_msg(2, c)},
       "receiving file\nreceiving file\ntransmission error\nABORT\n",
       concat({a, b})},
      {"pid 1, 3", {data_msg(1, a), data_msg(3, b)}, "receiving file\ntransmission error\nABORT\n", a},
      {"first pid 2", {data_msg(2, a)}, "transmission error\nABORT\n", {}},
      {"length 1001", {too_long}, "transmission error\nABORT\n", {}},
      {"length 2^32 - 1", {data_msg(1, a, 0xFFFFFFFF)}, "transmission error\nABORT\n", {}},
      {"TERMINATE straight after PASS_ACCEPT", {terminate_msg({})}, "Expecting DATA\nABORT\n", {}},
      {"PASS_REQ in the stream", {data_msg(1, a), bare(PASS_REQ)}, "receiving file\nExpecting TERMINATE\nABORT\n", a},
      {"TERMINATE with length 21",
       {data_msg(1, a), terminate_msg(a, 21)},
       "receiving file\nTERMINATE received\nincorrect checksum\nABORT\n",
       a},
      {"wrong digest",
       {data_msg(1, a), terminate_msg(b)},
       "receiving file\nTERMINATE received\nincorrect checksum\nABORT\n",
       a},
  };
  for (const Row& row : rows) {
    Fetch fetch;
    fetch.accept_first();
    for (const bytes& message : row.sent) fetch.send(message);
    EXPECT_EQ(fetch.ended(), accepted + row.output) << row.name;
    // The old content is gone in every case: the file is truncated at
    // PASS_ACCEPT and keeps what was stored before a failure.
    EXPECT_EQ(fetch.stored(), row.stored) << row.name;
  }
}

TEST(Passfetch, ClearsTheReceiveBufferOnlyAtPassAccept) {
  Fetch fetch;
  ASSERT_TRUE(fetch.joined());
  // A PASS_REQ of full size with bytes where DATA has its data field.
  bytes long_pass_req(receive_size, 'q');
  put_u16_net(long_pass_req, type_at, PASS_REQ);
  put_u32_net(long_pass_req, length_at, 0);
  fetch.send(long_pass_req);
  EXPECT_EQ(fetch.next_password(), "first");
  fetch.send(bare(PASS_ACCEPT));
  // Short DATA datagrams: header and pid only. The first reads zero bytes,
  // since the buffer was cleared after PASS_ACCEPT; the third reads what the
  // second left, since nothing clears it inside the stream.
  const bytes pattern = random_bytes(data_bytes_len, 9);
  bytes short_one = data_msg(1, bytes(10, 0xFF));
  short_one.resize(data_bytes_at);
  bytes short_three = data_msg(3, pattern);
  short_three.resize(data_bytes_at);
  fetch.send(short_one);
  fetch.send(data_msg(2, pattern));
  fetch.send(short_three);
  const bytes expected = concat({bytes(10, 0), pattern, pattern});
  fetch.send(terminate_msg(expected));
  EXPECT_EQ(fetch.ended(), accepted + repeat("receiving file\n", 3) + good_end);
  EXPECT_EQ(fetch.stored(), expected);
}

// A full disk ends the run in its failure line: a file that was not stored
// is never reported as received.
TEST(Passfetch, FullDiskEndsTheRunInItsFailureLine) {
  Fetch fetch({"first", "second", "third"}, "-DDEBUG", PASSFETCH_PATH, "/dev/full");
  fetch.accept_first();
  const bytes content = {'a', 'b', 'c'};
  fetch.send(data_msg(1, content));
  fetch.send(terminate_msg(content));
  EXPECT_EQ(fetch.ended(), accepted + "receiving file\nTERMINATE received\nError writing output file\nABORT\n");
}

}  // namespace
