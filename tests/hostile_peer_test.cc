// Every program against a hostile peer that the test plays: 32-bit length
// fields at their maximum, empty datagrams, datagrams longer than any
// receive buffer, and id or password fields with no zero byte. Each must end the
// way the program ends any failure of that step (its failure line, exit
// status 0) or, where the datagram is harmless once cut, go on as usual;
// under the asan preset a read or write past a buffer kills the program
// instead, which fails the exit-status check. Boundary cases that the
// programs' own tests already send (a length one past its area, a 100-byte
// password field without a zero) are not repeated here, nor the ticket
// system's 16-bit lengths at 65535: the codec's length table holds every
// check at its bound and past it. The last tests
// bound the waits that no other test reaches with a silent peer.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "password/wire.h"
#include "tests/support/output.h"
#include "tests/support/password_peer.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/ticket_peer.h"
#include "tests/support/udp_peer.h"
#include "ticket/codec.h"
#include "ticket/wire.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// Longer than both receive buffers: the socket cuts it.
constexpr std::size_t oversized = 2000;

// datagram followed by junk up to the oversized length.
bytes padded(bytes datagram) {
  datagram.resize(oversized, 0xEE);
  return datagram;
}

// ---- Ticket system.

const std::string forty_x(ticket::id_len, 'x');

// A record under the session key of the tickets the test issues.
bytes prv(const Record& record) { return krb_prv(session_key, record); }

// A client run in debug mode, with the authentication server and the
// application server played by the test.
class ClientRun : public ClientPeers {
 public:
  TempDir dir;
  Process client{CLIENT_QUICK_PATH,
                 {"127.0.0.1", std::to_string(as.port()), client_key_text, "127.0.0.1", std::to_string(app.port()),
                  (dir / "out").string(), "alice", "srv", "-DDEBUG"},
                 dir / "stdout"};
};

TEST(HostileToClient, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    std::function<void(ClientRun&)> drive;
    std::string tail;  // the end of the debug output
    std::optional<bytes> file;
  };
  const bytes ab = {'a', 'b'};
  const bytes content = random_bytes(2 * ticket::prv_data_area + 10, 3);
  const bytes first(content.begin(), content.begin() + ticket::prv_data_area);
  const bytes second(content.begin() + ticket::prv_data_area, content.begin() + 2 * ticket::prv_data_area);
  const bytes third(content.begin() + 2 * ticket::prv_data_area, content.end());
  // Answers rightly up to the file request, then sends sent; pad cuts every
  // answer from oversized bytes.
  const auto at_transfer = [](std::vector<bytes> sent, bool pad = false) {
    return [=](ClientRun& run) {
      const auto cut = [pad](const bytes& datagram) { return pad ? padded(datagram) : datagram; };
      run.answer_as(cut(as_rep(good_as_rep())));
      run.send_app(cut(ap_rep(session_key, run.expect_ap_req().nonce)));
      run.expect_data_request();
      for (const bytes& datagram : sent) run.send_app(cut(datagram));
    };
  };
  const auto at_ap_rep = [](std::function<bytes(std::uint32_t)> answer) {
    return [=](ClientRun& run) { run.send_app(answer(run.reach_ap_req())); };
  };
  const Row rows[] = {
      {"server_id without a zero byte",
       [](ClientRun& run) {
         auto rep = good_as_rep();
         rep.server_id = id_of(forty_x);
         run.answer_as(as_rep(rep));
       },
       "Server ID of application server is worng = " + forty_x + "\nABORT\n", {}},
      {"empty AP_REP", at_ap_rep([](std::uint32_t) { return bytes{}; }),
       "Expecting AP_REP\nI'm receiving packet type = 0\nABORT\n", {}},
      {"empty datagram among the records", at_transfer({prv({.pid = 1, .data = ab}), bytes{}}),
       "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 0\nABORT\n", ab},
      {"every answer cut from 2000 bytes",
       at_transfer({prv({.pid = 1, .data = first}), prv({.pid = 2, .data = second}), prv({.pid = 3, .data = third}),
                    app_terminate(session_key, content)},
                   true),
       "checksum correct\nfile transmission completed\nOK\n", content},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ClientRun run;
    row.drive(run);
    ASSERT_EQ(run.client.wait(10s), std::optional<int>(0));
    EXPECT_TRUE(ends_with(run.client.output(), row.tail)) << run.client.output();
    if (row.file) {
      EXPECT_EQ(read_file(run.dir / "out"), *row.file);
    }
  }
}

// A server in debug mode serving a small file, and the client played by the
// test.
class ServerRun : public FileServerRun {
 public:
  ServerRun() : FileServerRun(SERVER_QUICK_PATH, server_key_text, random_bytes(1500, 5), "-DDEBUG") {}

  // Sends the request and checks that the AP_REP answers its nonce.
  void authenticate(const bytes& request) const { expect_ap_rep(client, port(), request); }
};

TEST(HostileToServer, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    bool authenticate_first;
    bytes sent;
    std::string tail;  // the end of the debug output
  };
  // Only the envelope's header arrives: the record decrypts from zero bytes
  // into some type other than APP_DATA_REQ.
  bytes header_only = file_request();
  header_only.resize(ticket::krb_prv_cipher_at);
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  ASSERT_TRUE(ticket::decrypt_krb_prv(rx_of(header_only), schedule_of(session_key), body));
  const std::uint16_t zero_type = ticket::decode_prv_body(body).prv_type;
  ASSERT_NE(zero_type, ticket::APP_DATA_REQ);
  const Row rows[] = {
      {"empty first datagram", false, {}, "First packet is not AP_REQ\nI'm receiving packet type = 0\nABORT\n"},
      {"empty datagram for the KRB_PRV", true, {}, "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 0\nABORT\n"},
      {"KRB_PRV of its header only", true, header_only,
       "Expecting APP_DATA_REQ\nI'm receiving packet type = " + std::to_string(zero_type) + "\nABORT\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ServerRun run;
    ASSERT_TRUE(run.bound());
    if (row.authenticate_first) run.authenticate(ap_req());
    run.send(row.sent);
    ASSERT_EQ(run.server->wait(10s), std::optional<int>(0));
    EXPECT_TRUE(ends_with(run.server->output(), row.tail)) << run.server->output();
    EXPECT_TRUE(run.client.silent_for(50ms)) << "answered a refused datagram";
  }
}

TEST(HostileToServer, DatagramsCutToTheBufferAreServed) {
  ServerRun run;
  ASSERT_TRUE(run.bound());
  run.authenticate(padded(ap_req()));
  run.send(padded(file_request()));
  expect_delivery_of(collect_delivery(run.client), run.input(), read_file(run.input()));
  EXPECT_TRUE(run.server->wait_for_output("OK\n"));
  EXPECT_TRUE(run.server->running());
}

TEST(HostileToAuthserver, AnswersOddRequestsAndGoesOnServing) {
  struct Row {
    const char* name;
    bytes sent;
    std::uint16_t answer_type;
    std::string ticket_client_id;  // for an AS_REP
  };
  bytes type_alone = as_req("alice", "srv");
  type_alone.resize(2);
  bytes no_server_id = as_req("alice", "srv");
  no_server_id.resize(ticket::as_req_server_id_at);
  const Row rows[] = {
      {"empty datagram", {}, ticket::AS_ERR, ""},
      {"type alone", type_alone, ticket::AS_ERR, ""},
      {"server_id without a zero byte", as_req("alice", forty_x), ticket::AS_ERR, ""},
      {"client_id without a zero byte", as_req(forty_x, "srv"), ticket::AS_REP, forty_x},
      {"request cut from 2000 bytes", padded(as_req("alice", "srv")), ticket::AS_REP, "alice"},
      // Right after a whole request: the missing server_id must read as
      // zeros, not as the one the buffer held.
      {"request that ends before server_id", no_server_id, ticket::AS_ERR, ""},
  };
  TempDir dir;
  ServerProcess auth(AUTHSERVER_PATH, {client_key_text, server_key_text, "srv", "-DDEBUG"}, dir / "stdout");
  ASSERT_TRUE(auth.bound());
  const UdpPeer client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    client.send_to(auth.port(), row.sent);
    const auto answer = client.receive();
    ASSERT_TRUE(answer.has_value()) << "no answer";
    const ticket::receive_buffer rx = rx_of(answer->bytes);
    ASSERT_EQ(ticket::decode_type(rx), row.answer_type);
    if (row.answer_type != ticket::AS_REP) continue;
    const auto rep = open_as_rep(rx);
    ASSERT_TRUE(rep);
    const auto tkt = open_ticket(*rep);
    ASSERT_TRUE(tkt);
    EXPECT_EQ(tkt->client_id, id_of(row.ticket_client_id));
  }
  EXPECT_TRUE(auth.running());
}

// ---- Password system.

constexpr char secret[] = "secret";

// A passfeed in debug mode, and the client played by the test.
class FeedRun : public FileServerRun {
 public:
  FeedRun() : FileServerRun(PASSFEED_QUICK_PATH, secret, random_bytes(1500, 6), "-DDEBUG") {}

  // Sends datagram and returns the type of the answer, 0 for none.
  std::uint16_t ask(const bytes& datagram) const {
    send(datagram);
    return next_type(client);
  }
};

TEST(HostileToPassfeed, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    std::vector<bytes> sent;  // each but the last answered with PASS_REQ
    std::string output;
  };
  const Row rows[] = {
      {"empty first datagram", {{}}, "First packet is not JOIN_REQ\nABORT\n"},
      {"empty first PASS_RESP", {bare(password::JOIN_REQ), {}}, "JOIN_REQ received\nIm expecting PASS_RESP\nABORT\n"},
      {"JOIN_REQ cut from 2000 bytes, PASS_RESP length 2^32 - 1",
       {padded(bare(password::JOIN_REQ)), pass_resp(secret, 0xFFFFFFFF)},
       "JOIN_REQ received\nIm expecting PASS_RESP\nABORT\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FeedRun run;
    ASSERT_TRUE(run.bound());
    for (std::size_t i = 0; i + 1 < row.sent.size(); ++i) ASSERT_EQ(run.ask(row.sent[i]), password::PASS_REQ);
    run.send(row.sent.back());
    ASSERT_EQ(run.server->wait(10s), std::optional<int>(0));
    EXPECT_EQ(run.server->output(), row.output);
  }
}

TEST(HostileToPassfeed, PasswordFieldWithoutZeroInAnOversizedDatagram) {
  FeedRun run;
  ASSERT_TRUE(run.bound());
  ASSERT_EQ(run.ask(bare(password::JOIN_REQ)), password::PASS_REQ);
  // The right six characters, then no zero byte up to the socket's cut.
  bytes resp = padded(pass_resp(secret));
  std::fill(resp.begin() + password::pass_resp_password_at + 6, resp.end(), 'x');
  ASSERT_EQ(run.ask(resp), password::PASS_ACCEPT);
  EXPECT_TRUE(run.server->wait_for_output("OK\n"));
  EXPECT_TRUE(run.server->running());
  EXPECT_EQ(run.server->output(), "JOIN_REQ received\nPASS_RESP received\nIm getting secret" +
                                      std::string(password::password_len - 6, 'x') +
                                      "\npassword correct\nsending file!\nsending file!\nfile sended!\nOK\n");
}

// A passfetch in debug mode offering the right password three times, and the
// server played by the test.
class FetchRun : public FetchServer {
 public:
  TempDir dir;
  Process client{PASSFETCH_QUICK_PATH,
                 {"127.0.0.1", std::to_string(server.port()), secret, secret, secret, (dir / "out").string(),
                  "-DDEBUG"},
                 dir / "stdout"};
};

TEST(HostileToPassfetch, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    bool accept;              // answer the JOIN_REQ up to PASS_ACCEPT first
    std::vector<bytes> sent;  // then send these
    std::string output;
    bytes file;
  };
  const bytes piece = random_bytes(password::data_bytes_len, 4);
  const bytes last = {1, 2, 3};
  bytes whole = piece;
  whole.insert(whole.end(), last.begin(), last.end());
  const std::string accepted = "PASS_REQ received\nPASS_ACCEPT received\n";
  const Row rows[] = {
      {"empty first reply", false, {{}}, "no PASS_REQ arrived\nABORT\n", {'o', 'l', 'd'}},
      {"empty datagram for the first DATA", true, {{}}, accepted + "Expecting DATA\nABORT\n", {}},
      {"DATA length 2^32 - 1", true, {data_msg(1, piece, 0xFFFFFFFF)}, accepted + "transmission error\nABORT\n", {}},
      // Nothing clears the buffer inside the stream: an empty datagram reads
      // as a repeat of the DATA before it.
      {"empty datagram after a DATA", true, {data_msg(1, piece), {}},
       accepted + "receiving file\ntransmission error\nABORT\n", piece},
      {"every datagram cut from 2000 bytes", true,
       {padded(data_msg(1, piece)), padded(data_msg(2, last)), padded(terminate_msg(whole))},
       accepted + "receiving file\nreceiving file\nTERMINATE received\nchecksum correct\n"
                  "file transmission completed\nOK\n",
       whole},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FetchRun run;
    write_file(run.dir / "out", {'o', 'l', 'd'});
    ASSERT_TRUE(run.joined());
    if (row.accept) {
      run.send(padded(bare(password::PASS_REQ)));
      ASSERT_EQ(run.next_password(), secret);
      run.send(padded(bare(password::PASS_ACCEPT)));
    }
    for (const bytes& datagram : row.sent) run.send(datagram);
    ASSERT_EQ(run.client.wait(10s), std::optional<int>(0));
    EXPECT_EQ(run.client.output(), row.output);
    EXPECT_EQ(read_file(run.dir / "out"), row.file);
  }
}

// ---- Bounded waits that the programs' own tests and the relay tests do not
// reach in debug mode: a peer that falls silent there ends the wait after
// the quick builds' 2-second bound, on the failed-receive path.

TEST(SilentPeer, EndsTheWaitAfterTheBound) {
  struct Row {
    const char* name;
    std::function<std::string()> run;  // returns the output
  };
  const auto timed = [](Process& program) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(program.wait(10s), std::optional<int>(0));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms) << "ended before the bound";
    return program.output();
  };
  const Row rows[] = {
      {"passfetch waiting for the answer to its PASS_RESP",
       [&] {
         FetchRun run;
         EXPECT_TRUE(run.joined());
         run.send(bare(password::PASS_REQ));
         EXPECT_EQ(run.next_password(), secret);
         const std::string output = timed(run.client);
         EXPECT_EQ(output, "PASS_REQ received\nerror receiving packet\nABORT\n");
         return output;
       }},
      {"passfeed waiting for a second try",
       [&] {
         FeedRun run;
         EXPECT_TRUE(run.bound());
         EXPECT_EQ(run.ask(bare(password::JOIN_REQ)), password::PASS_REQ);
         EXPECT_EQ(run.ask(pass_resp("wrong")), password::PASS_REQ);
         const std::string output = timed(*run.server);
         EXPECT_EQ(output, "JOIN_REQ received\nPASS_RESP received\nIm getting wrong\npassword not correct\n"
                           "error receiving packet\nABORT\n");
         return output;
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.run();
  }
}

}  // namespace
