// The application server run as a real program on 127.0.0.1. The tests play
// the client on the ticket library; they hold the server key, so they issue
// their own tickets.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "tests/support/junk.h"
#include "tests/support/output.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/ticket_peer.h"
#include "tests/support/udp_peer.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/validity.h"
#include "ticket/wire.h"

namespace {

using namespace std::chrono_literals;
using namespace ticket;
using namespace testing_support;

constexpr des_key weak_session_key = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};

// One run of the server on a fresh port, serving the file input(); last_arg
// nullptr for three arguments.
class ServerRun : public FileServerRun {
 public:
  explicit ServerRun(const bytes& file = {}, const char* last_arg = "-DDEBUG")
      : FileServerRun(SERVER_PATH, server_key_text, file, last_arg) {}
};

// Plays the client up to an accepted AP_REP.
void authenticate(const ServerRun& run, const ApRequest& request = {}) {
  expect_ap_rep(run.client, run.port(), ap_req(request), request.nonce, request.session_key);
}

void expect_server_ap_err(const UdpPeer& peer) {
  const auto answer = peer.receive(10s);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->bytes.size(), ap_err_size);
  EXPECT_EQ(get_u16_net(answer->bytes, type_at), AP_ERR);
  EXPECT_TRUE(all_zero(std::span(answer->bytes).subspan(ap_err_client_id_at)));
}

std::string authenticated_trace(std::int32_t nonce = static_cast<std::int32_t>(default_nonce)) {
  return "AP_REQ received\nSession key still valid\nClient name is correct\nClient IP address is correct\n"
         "nonce received = " +
         std::to_string(nonce) + "\nSending AP_REP\n";
}

const std::string requested_trace = "KRB_PRV received\nSession key still valid\nAPP_DATA_REQ received\n";

std::string delivery_trace(std::size_t file_size) {
  return repeat("sending file!\n", static_cast<int>(file_size / prv_data_area + 1)) +
         "file sended!\nfile digest sent!\nOK\n";
}

TEST(ServerExchange, AnswersNonceAndDeliversWholeFile) {
  struct Row {
    const char* name;
    std::size_t file_size;
    std::uint32_t nonce;
    std::uint16_t reply_len;
    std::string reply_text;
    const char* last_arg = "-DDEBUG";  // anything else: a quiet run that prints only its OK
    bool cut = false;                  // both requests sent cut from datagrams longer than the server's buffer
  };
  const Row rows[] = {
      {"empty file, ten-digit reply", 0, 1700000000, 14, "1700000001"},
      {"one whole piece, reply wraps to negative", 972, 2147483647, 15, "-2147483648"},
      {"one byte past a piece, eight-digit reply", 973, 12345677, 8, "12345678"},
      {"many pieces, short reply", 200000, 41, 6, "42"},
      {"quiet", 1500, 41, 6, "42", "-ddebug"},
      {"requests cut to the buffer", 1500, 41, 6, "42", "-DDEBUG", true},
  };
  const auto maybe_cut = [](bool cut, const bytes& datagram) { return cut ? oversized(datagram) : datagram; };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto file = random_bytes(row.file_size);
    ServerRun run(file, row.last_arg);
    ASSERT_TRUE(run.bound());

    run.send(maybe_cut(row.cut, ap_req({.nonce = row.nonce})));
    const auto answer = run.client.receive(10s);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->bytes.size(), ap_rep_size);
    const receive_buffer rx = rx_of(answer->bytes);
    EXPECT_EQ(decode_type(rx), AP_REP);
    EXPECT_EQ(get_u16_net(rx, ap_rep_length_at), row.reply_len);
    EXPECT_TRUE(all_zero(std::span(rx).subspan(ap_rep_cipher_at + blocks(row.reply_len))));
    std::array<std::uint8_t, nonce_reply_area> reply{};
    ASSERT_TRUE(decrypt_ap_rep(rx, schedule_of(session_key), reply));
    std::array<std::uint8_t, nonce_reply_area> expected_reply{};
    std::copy(row.reply_text.begin(), row.reply_text.end(), expected_reply.begin());
    EXPECT_EQ(reply, expected_reply);

    run.send(maybe_cut(row.cut, file_request()));
    expect_delivery_of(collect_delivery(run.client), file);
    const std::string trace = std::string_view(row.last_arg) == "-DDEBUG"
                                  ? authenticated_trace(static_cast<std::int32_t>(row.nonce)) + requested_trace +
                                        delivery_trace(row.file_size)
                                  : "OK\n";
    ASSERT_TRUE(run.server->wait_for_output(trace));
    EXPECT_EQ(run.server->output(), trace);
    EXPECT_TRUE(run.server->running());
  }
}

TEST(ServerExchange, SendsFileToSenderOfKrbPrv) {
  const auto file = random_bytes(5000);
  ServerRun run(file);
  ASSERT_TRUE(run.bound());
  authenticate(run);
  UdpPeer other;
  other.send_to(run.port(), file_request());
  expect_delivery_of(collect_delivery(other), file);
  EXPECT_TRUE(run.client.silent_for(50ms));
}

TEST(ServerFailures, EndsOnEveryRefusal) {
  struct Row {
    const char* name;
    const char* last_arg;
    std::function<void(ServerRun&)> drive;
    std::string expected;  // the whole standard output
  };
  const auto send_request = [](ApRequest request) { return [=](ServerRun& run) { run.send(ap_req(request)); }; };
  const auto send_length = [](std::size_t length_at, std::uint16_t length) {
    return [=](ServerRun& run) {
      auto datagram = ap_req();
      put_u16_net(datagram, length_at, length);
      run.send(datagram);
    };
  };
  const auto after_ap_rep = [](const std::function<void(ServerRun&)>& next) {
    return [=](ServerRun& run) {
      authenticate(run);
      next(run);
    };
  };
  const auto send_krb_prv = [](std::uint16_t prv_type, std::uint16_t length = prv_body_size) {
    return [=](ServerRun& run) {
      auto datagram = krb_prv(session_key, {.prv_type = prv_type});
      put_u16_net(datagram, krb_prv_length_at, length);
      run.send(datagram);
    };
  };
  const auto without_input = [](bool as_directory) {
    return [=](ServerRun& run) {
      std::filesystem::remove(run.input());
      if (as_directory) std::filesystem::create_directory(run.input());
      run.send(file_request());
    };
  };
  // Only the envelope's header arrives: the record decrypts from zero bytes.
  // Its type, 0x4E96, is the first two bytes of a zero block decrypted under
  // the session key with the fixed IV:
  //   openssl enc -d -des-cbc -provider legacy -provider default -nopad
  //     -K 0123456789ABCDEF -iv 5A3C96E10F78B42D
  bytes header_only = file_request();
  header_only.resize(krb_prv_cipher_at);
  const std::string a40(40, 'a');
  const std::string b40(40, 'b');
  const std::string authenticated = authenticated_trace();
  const std::string requested = authenticated + requested_trace;

  const Row rows[] = {
      {"first datagram of type 2", "-DDEBUG", [](ServerRun& run) { run.send(type_only(AS_REP)); },
       "First packet is not AP_REQ\nI'm receiving packet type = 2\nABORT\n"},
      {"empty first datagram", "-DDEBUG", [](ServerRun& run) { run.send(bytes{}); },
       "First packet is not AP_REQ\nI'm receiving packet type = 0\nABORT\n"},
      {"first datagram of type 65535", "-DDEBUG", [](ServerRun& run) { run.send(type_only(65535)); },
       "First packet is not AP_REQ\nI'm receiving packet type = 65535\nABORT\n"},
      {"2-byte AP_REQ, quiet", nullptr, [](ServerRun& run) { run.send(type_only(AP_REQ)); }, "key error -1\n"},
      {"weak session key", "-DDEBUG", send_request({.session_key = weak_session_key}),
       "AP_REQ received\nkey error -2\n"},
      {"ticket_len 105", "-DDEBUG", send_length(ap_req_ticket_len_at, 105),
       "AP_REQ received\nTicket length too long for the ticket area\nABORT\n"},
      {"auth_len 49", "-DDEBUG", send_length(ap_req_auth_len_at, 49),
       "AP_REQ received\nSession key still valid\nAuthenticator length too long for the authenticator area\nABORT\n"},
      {"wrong client name", "-DDEBUG",
       [&](ServerRun& run) {
         send_request({.auth_id = "mallory"})(run);
         expect_server_ap_err(run.client);
       },
       "AP_REQ received\nSession key still valid\nClient name is wrong. Im expecting alice but receiving mallory\n"
       "Sending AP_ERR back to client\nABORT\n"},
      {"wrong client name of 40 characters", "-DDEBUG",
       [&](ServerRun& run) {
         send_request({.ticket_id = a40.c_str(), .auth_id = b40.c_str()})(run);
         expect_server_ap_err(run.client);
       },
       "AP_REQ received\nSession key still valid\nClient name is wrong. Im expecting " + a40 + " but receiving " + b40 +
           "\nSending AP_ERR back to client\nABORT\n"},
      {"wrong client name, quiet", nullptr,
       [&](ServerRun& run) {
         send_request({.auth_id = "mallory"})(run);
         expect_server_ap_err(run.client);
       },
       "ABORT\n"},
      {"wrong client address", "-DDEBUG",
       [&](ServerRun& run) {
         send_request({.auth_addr = {10, 0, 0, 2}})(run);
         expect_server_ap_err(run.client);
       },
       "AP_REQ received\nSession key still valid\nClient name is correct\nClient IP address is wrong\n"
       "Expecting 16777343 but receiving 33554442\nABORT\n"},
      {"AP_ERR instead of KRB_PRV", "-DDEBUG", after_ap_rep([](ServerRun& run) { run.send(type_only(AP_ERR)); }),
       authenticated + "AP_ERR received - aborting\nABORT\n"},
      {"AP_REQ instead of KRB_PRV", "-DDEBUG", after_ap_rep([](ServerRun& run) { run.send(ap_req()); }),
       authenticated + "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 4\nABORT\n"},
      {"empty datagram instead of KRB_PRV", "-DDEBUG", after_ap_rep([](ServerRun& run) { run.send(bytes{}); }),
       authenticated + "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 0\nABORT\n"},
      {"KRB_PRV of its header only", "-DDEBUG", after_ap_rep([&](ServerRun& run) { run.send(header_only); }),
       authenticated + "KRB_PRV received\nSession key still valid\nExpecting APP_DATA_REQ\n"
                       "I'm receiving packet type = 20118\nABORT\n"},
      {"APP_DATA instead of APP_DATA_REQ", "-DDEBUG", after_ap_rep(send_krb_prv(APP_DATA)),
       authenticated + "KRB_PRV received\nSession key still valid\nExpecting APP_DATA_REQ\n"
                       "I'm receiving packet type = 15\nABORT\n"},
      {"KRB_PRV length 979", "-DDEBUG", after_ap_rep(send_krb_prv(APP_DATA_REQ, 979)),
       authenticated + "KRB_PRV received\nSession key still valid\nKRB_PRV length too long for the record area\n"
                       "ABORT\n"},
      {"input file missing", "-DDEBUG", after_ap_rep(without_input(false)),
       requested + "Input file cannot be opened\nABORT\n"},
      {"input file unreadable", "-DDEBUG", after_ap_rep(without_input(true)),
       requested + "Error reading the input file\nABORT\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ServerRun run(random_bytes(100), row.last_arg);
    ASSERT_TRUE(run.bound());
    row.drive(run);
    EXPECT_EQ(run.ended(), row.expected);
    EXPECT_TRUE(run.client.silent_for(50ms)) << "sent more than the row expects";
  }
}

TEST(ServerFailures, EndsWithoutAbortOnExpiredTicket) {
  struct Row {
    const char* name;
    const char* last_arg;
    std::uint32_t timestamp;
    std::uint16_t lifetime;
    std::uint32_t valid_until;  // as the debug line shows it
  };
  const std::uint32_t now = clock_now();
  const Row rows[] = {
      {"validity equal to the clock", "-DDEBUG", now, 0, now},
      {"validity wrapping past 2^32", "-DDEBUG", 0xFFFFFFFFu, 2, 1},
      {"quiet", nullptr, now - 100, 50, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ServerRun run({}, row.last_arg);
    ASSERT_TRUE(run.bound());
    const std::uint32_t before = clock_now();
    run.send(ap_req({.timestamp = row.timestamp, .lifetime = row.lifetime}));
    const std::string output = run.ended();
    EXPECT_TRUE(printed_at_some_second(output, before, clock_now(), [&](std::uint32_t t) {
      if (row.last_arg == nullptr) return std::string();
      return "AP_REQ received\nSession key has expired\ncurrtime = " + std::to_string(t) +
             ", validity = " + std::to_string(row.valid_until) + " \n";
    })) << output;
    EXPECT_TRUE(run.client.silent_for(50ms));
  }
}

TEST(ServerFailures, EndsWithoutAbortWhenKeyExpiresBeforeKrbPrv) {
  ServerRun run;
  ASSERT_TRUE(run.bound());
  const std::uint32_t issued = clock_now();
  const std::uint32_t valid_until = issued + 2;
  authenticate(run, {.timestamp = issued, .lifetime = 2});
  wait_for_second(valid_until);
  const std::uint32_t before = clock_now();
  run.send(file_request());
  const std::string output = run.ended();
  EXPECT_TRUE(printed_at_some_second(output, before, clock_now(), [&](std::uint32_t t) {
    return authenticated_trace() + "KRB_PRV received\nSession key has expired\ncurrtime = " + std::to_string(t) +
           ", expiration = " + std::to_string(valid_until) + " \n";
  })) << output;
  EXPECT_TRUE(run.client.silent_for(50ms));
}

}  // namespace
