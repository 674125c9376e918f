// How long each program waits, run as the quick builds, whose bound on a
// receive inside an exchange is 2 s. A peer that falls silent inside an
// exchange ends the run after that bound, and not before, on the
// failed-receive path. A server's wait between exchanges has no bound, and
// it serves the next client afresh.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "password/wire.h"
#include "tests/support/output.h"
#include "tests/support/password_peer.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/ticket_peer.h"
#include "tests/support/udp_peer.h"
#include "ticket/wire.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// Everything a row may play against its program, and where that program
// stores what it receives.
struct Peers {
  TempDir dir;
  std::uint16_t port = free_udp_port();  // a server program's own
  UdpPeer client;                        // the client of a server program
  ClientPeers servers;                   // the two servers of a ticket client
  FetchServer feed;                      // the server of a passfetch
};

TEST(Waits, SilentPeerEndsTheRunAfterTheBoundedWait) {
  struct Row {
    const char* name;
    const char* program;
    // PORT, FILE, OUT, AS, APP and FEED stand for the port to serve on, an
    // input file, an output file, and the ports of the peers played.
    std::vector<std::string> args;
    std::function<void(Peers&)> reach;  // brings the program to where its peer falls silent
    std::string last_lines;             // how the output ends; the steps before are each program's own tests'
  };
  const std::vector<std::string> passfetch_args = {"127.0.0.1", "FEED", "first", "second", "third", "OUT", "-DDEBUG"};
  // Silent after the JOIN_REQ, or inside the stream: every answer in the
  // dialogue comes through the same receive as the first.
  const auto passfetch_silent = [](bool in_stream) {
    return [in_stream](Peers& p) {
      EXPECT_TRUE(p.feed.joined());
      if (!in_stream) return;
      p.feed.send(bare(password::PASS_REQ));
      EXPECT_EQ(p.feed.next_password(), "first");
      p.feed.send(bare(password::PASS_ACCEPT));
      p.feed.send(data_msg(1, {1, 2, 3}));
    };
  };
  const std::string failed = "error receiving packet\nABORT\n";
  const Row rows[] = {
      {"server: client silent after the AP_REP",
       SERVER_QUICK_PATH,
       {"PORT", server_key_text, "FILE", "-DDEBUG"},
       [](Peers& p) { expect_ap_rep(p.client, p.port, ap_req()); },
       "Sending AP_REP\n" + failed},
      {"client: authentication server silent",
       CLIENT_QUICK_PATH,
       {"127.0.0.1", "AS", client_key_text, "127.0.0.1", "APP", "OUT", "alice", "srv", "-DDEBUG"},
       [](Peers& p) { p.servers.expect_as_req(); },
       failed},
      {"client: application server silent inside the stream",
       CLIENT_QUICK_PATH,
       {"127.0.0.1", "AS", client_key_text, "127.0.0.1", "APP", "OUT", "alice", "srv", "-DDEBUG"},
       [](Peers& p) {
         p.servers.reach_transfer();
         p.servers.send_app(krb_prv(session_key, {.pid = 1, .data = {'a', 'b'}}));
       },
       "APP_DATA Received - pid = 1\n" + failed},
      {"passfeed: client silent after a wrong password",
       PASSFEED_QUICK_PATH,
       {"PORT", "secret", "FILE", "-DDEBUG"},
       [](Peers& p) {
         for (const bytes& datagram : {join_req(), pass_resp("wrong")}) {
           p.client.send_to(p.port, datagram);
           EXPECT_EQ(next_type(p.client), password::PASS_REQ);
         }
       },
       "Im getting wrong\npassword not correct\n" + failed},
      {"passfetch: server silent after the JOIN_REQ", PASSFETCH_QUICK_PATH, passfetch_args, passfetch_silent(false),
       failed},
      {"passfetch: server silent inside the stream", PASSFETCH_QUICK_PATH, passfetch_args, passfetch_silent(true),
       "receiving file\n" + failed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Peers p;
    write_file(p.dir / "in", bytes(5, 'x'));
    std::vector<std::string> args = row.args;
    for (std::string& arg : args) {
      if (arg == "PORT") arg = std::to_string(p.port);
      if (arg == "FILE") arg = (p.dir / "in").string();
      if (arg == "OUT") arg = (p.dir / "out").string();
      if (arg == "AS") arg = std::to_string(p.servers.as.port());
      if (arg == "APP") arg = std::to_string(p.servers.app.port());
      if (arg == "FEED") arg = std::to_string(p.feed.server.port());
    }
    Process program(row.program, args, p.dir / "stdout");
    if (row.args[0] == "PORT") {
      ASSERT_TRUE(wait_udp_bound(p.port));
    }
    row.reach(p);
    const auto silent_since = std::chrono::steady_clock::now();
    const std::string output = output_at_exit(program, 10s);
    EXPECT_GE(std::chrono::steady_clock::now() - silent_since, 1500ms) << "ended before the bound";
    EXPECT_TRUE(output.ends_with(row.last_lines)) << output;
    EXPECT_NE(program.errors().find(": no answer from 127.0.0.1:"), std::string::npos) << program.errors();
  }
}

// One whole ticket exchange from client; the server's debug lines for it.
std::string ticket_exchange(const UdpPeer& client, std::uint16_t port, const bytes& file, int) {
  expect_ap_rep(client, port, ap_req());
  client.send_to(port, file_request());
  expect_delivery_of(collect_delivery(client), file);
  return "AP_REQ received\nSession key still valid\nClient name is correct\nClient IP address is correct\n"
         "nonce received = 1700000000\nSending AP_REP\n"
         "KRB_PRV received\nSession key still valid\nAPP_DATA_REQ received\n" +
         repeat("sending file!\n", static_cast<int>(file.size() / ticket::prv_data_area + 1)) +
         "file sended!\nfile digest sent!\nOK\n";
}

// One whole password exchange from client, the right password offered after
// two wrong ones in the first exchange and one in the next: the count of
// wrong tries must not carry over to make it three. passfeed's debug lines
// for it.
std::string password_exchange(const UdpPeer& client, std::uint16_t port, const bytes& file, int exchange) {
  // A longer PASS_RESP with no zero byte after the header: its debug line
  // stops at the end of the password field.
  bytes no_zero(100, 'x');
  put_u16_net(no_zero, password::type_at, password::PASS_RESP);
  put_u32_net(no_zero, password::length_at, 50);
  put_u16_net(no_zero, password::reserved_at, 0x7777);
  const std::vector<std::pair<bytes, std::string>> wrong =
      exchange == 0 ? std::vector<std::pair<bytes, std::string>>{{no_zero, std::string(password::password_len, 'x')},
                                                                 {pass_resp("two"), "two"}}
                    : std::vector<std::pair<bytes, std::string>>{{pass_resp("one"), "one"}};
  std::string trace = "JOIN_REQ received\n";
  client.send_to(port, join_req());
  EXPECT_EQ(next_type(client), password::PASS_REQ);
  for (const auto& [datagram, line] : wrong) {
    client.send_to(port, datagram);
    EXPECT_EQ(next_type(client), password::PASS_REQ) << line;
    trace += "PASS_RESP received\nIm getting " + line + "\npassword not correct\n";
  }
  client.send_to(port, pass_resp("secret"));
  EXPECT_EQ(next_type(client), password::PASS_ACCEPT);
  const Stream stream = receive_stream(client);
  EXPECT_EQ(stream.content, file);
  EXPECT_EQ(stream.digest, digest_of(file));
  return trace + "PASS_RESP received\nIm getting secret\npassword correct\n" +
         repeat("sending file!\n", static_cast<int>(file.size() / password::data_bytes_len + 1)) + "file sended!\nOK\n";
}

// After its OK a server waits for the next client as long as it takes, longer
// than the bound on a wait inside an exchange, and serves it afresh: on its
// own socket, records from pid 1, the file as it is then.
TEST(Waits, ServersServeTheNextClientAfreshWheneverItComes) {
  struct Row {
    const char* name;
    const char* program;
    const char* secret;
    // Plays the n-th whole exchange (from 0); the server's debug lines for it.
    std::string (*exchange)(const UdpPeer&, std::uint16_t, const bytes&, int n);
    // A third client's first datagram and what the server then prints, if
    // the row has one.
    std::optional<bytes> third;
    std::string third_lines;
  };
  const Row rows[] = {
      // An AP_REQ cut to its type: the buffer still held the last KRB_PRV, so
      // only a cleared one reads the missing ticket as zeros, as a fresh
      // server does.
      {"ticket", SERVER_QUICK_PATH, server_key_text, ticket_exchange, type_only(ticket::AP_REQ),
       "AP_REQ received\nkey error -1\n"},
      {"password", PASSFEED_QUICK_PATH, "secret", password_exchange, std::nullopt, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bytes first = random_bytes(2100, 1);
    const bytes second = random_bytes(3000, 2);
    FileServerRun run(row.program, row.secret, first, "-DDEBUG");
    ASSERT_TRUE(run.bound());
    std::string trace = row.exchange(run.client, run.port(), first, 0);
    ASSERT_TRUE(run.server->wait_for_output(trace));
    EXPECT_FALSE(run.server->wait(3s)) << "waits for the next client as long as it takes";
    ASSERT_TRUE(run.server->running());

    write_file(run.input(), second);
    const UdpPeer next;
    trace += row.exchange(next, run.port(), second, 1);
    ASSERT_TRUE(run.server->wait_for_output(trace));
    EXPECT_EQ(run.server->output(), trace);
    EXPECT_TRUE(run.client.silent_for(50ms)) << "nothing goes to the first client";
    if (row.third) {
      next.send_to(run.port(), *row.third);
      EXPECT_EQ(run.ended(), trace + row.third_lines);
    }
  }
}

}  // namespace
