// Every program against a hostile peer that the test plays: length fields
// at their maximum, empty datagrams, datagrams longer than any receive
// buffer, and id or password fields with no zero byte. Each must end the
// way the program ends any failure of that step (its failure line, exit
// status 0) or, where the datagram is harmless once cut, go on as usual;
// under the asan preset a read or write past a buffer kills the program
// instead, which fails the exit-status check. Boundary cases that the
// programs' own tests already send (a length one past its area, a 100-byte
// password field without a zero) are not repeated here. The last tests
// bound the waits that no other test reaches with a silent peer.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/hex.h"
#include "common/sha1.h"
#include "password/codec.h"
#include "password/wire.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/udp_peer.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/nonce.h"
#include "ticket/validity.h"
#include "ticket/wire.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Process;
using testing_support::ServerProcess;
using testing_support::TempDir;
using testing_support::UdpPeer;
using bytes = std::vector<std::uint8_t>;

// Longer than both receive buffers: the socket cuts it.
constexpr std::size_t oversized = 2000;

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// datagram followed by junk up to the oversized length.
bytes padded(bytes datagram) {
  datagram.resize(oversized, 0xEE);
  return datagram;
}

sha1_digest digest_of(const TempDir& dir, const bytes& content) {
  testing_support::write_file(dir / "digest-input", content);
  sha1_digest digest{};
  EXPECT_TRUE(mysha1((dir / "digest-input").c_str(), digest));
  return digest;
}

template <std::size_t N>
ticket::receive_buffer received_of(const std::array<std::uint8_t, N>& sent) {
  ticket::receive_buffer rx{};
  std::copy(sent.begin(), sent.end(), rx.begin());
  return rx;
}

ticket::receive_buffer received_of(const bytes& datagram) {
  ticket::receive_buffer rx{};
  std::copy_n(datagram.begin(), std::min(datagram.size(), rx.size()), rx.begin());
  return rx;
}

// ---- Ticket system.

constexpr char client_key_text[] = "133457799BBCDFF1";
constexpr char server_key_text[] = "0E329232EA6D0D73";
constexpr des_key client_key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
constexpr des_key server_key = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};
constexpr des_key session_key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

key_schedule schedule_of(const des_key& key) {
  key_schedule schedule{};
  EXPECT_EQ(make_key_schedule(key, schedule), 0);
  return schedule;
}

ticket::id_field id_of(const std::string& text) {
  ticket::id_field id{};
  EXPECT_TRUE(ticket::make_id(text.c_str(), id));
  return id;
}

const std::string forty_x(ticket::id_len, 'x');

ticket::as_rep_fields good_rep() {
  ticket::as_rep_fields rep{session_key, id_of("srv"), ticket::clock_now(), 300, ticket::ticket_area_len, {}};
  rep.ticket.fill(0x42);
  return rep;
}

bytes as_rep(const ticket::as_rep_fields& fields, std::optional<std::uint16_t> length = {}) {
  std::array<std::uint8_t, ticket::as_rep_size> out;
  ticket::encode_as_rep(out, schedule_of(client_key), fields);
  if (length) put_u16_net(out, ticket::as_rep_length_at, *length);
  return {out.begin(), out.end()};
}

bytes ap_rep(std::uint32_t nonce, std::optional<std::uint16_t> length = {}) {
  std::array<std::uint8_t, ticket::ap_rep_size> out;
  ticket::encode_ap_rep(out, schedule_of(session_key), nonce);
  if (length) put_u16_net(out, ticket::ap_rep_length_at, *length);
  return {out.begin(), out.end()};
}

struct Record {
  std::uint16_t prv_type = ticket::APP_DATA;
  std::uint16_t pid = 1;
  bytes data{};
  std::optional<std::uint16_t> data_len{};
  std::optional<std::uint16_t> length{};
};

bytes krb_prv(const Record& r) {
  std::array<std::uint8_t, ticket::prv_body_size> body;
  EXPECT_TRUE(ticket::encode_prv_body(body, r.prv_type, r.pid, r.data));
  if (r.data_len) put_u16_net(body, ticket::prv_data_len_at, *r.data_len);
  std::array<std::uint8_t, ticket::krb_prv_size> out;
  ticket::encode_krb_prv(out, schedule_of(session_key), body);
  if (r.length) put_u16_net(out, ticket::krb_prv_length_at, *r.length);
  return {out.begin(), out.end()};
}

// A client run in debug mode, with the authentication server and the
// application server played by the test; pad cuts every answer from
// oversized bytes.
class ClientRun {
 public:
  TempDir dir;
  UdpPeer as;
  UdpPeer app;
  Process client{CLIENT_QUICK_PATH,
                 {"127.0.0.1", std::to_string(as.port()), client_key_text, "127.0.0.1", std::to_string(app.port()),
                  (dir / "out").string(), "alice", "srv", "-DDEBUG"},
                 dir / "stdout"};
  bool pad = false;

  void answer_as(const bytes& answer) {
    const auto request = as.receive();
    ASSERT_TRUE(request.has_value()) << "no AS_REQ";
    as.send_to(request->from, pad ? padded(answer) : answer);
  }

  // Answers the AS_REQ rightly and returns the nonce of the AP_REQ.
  std::uint32_t reach_ap_req() {
    answer_as(as_rep(good_rep()));
    const auto request = app.receive();
    EXPECT_TRUE(request.has_value()) << "no AP_REQ";
    if (!request) return 0;
    client_app_ = request->from;
    std::array<std::uint8_t, ticket::authenticator_size> area{};
    EXPECT_TRUE(ticket::decrypt_authenticator(received_of(request->bytes), schedule_of(session_key), area));
    return ticket::decode_authenticator(area).nonce;
  }

  // ... and the nonce, up to the file request.
  void reach_transfer() {
    send_app(ap_rep(reach_ap_req()));
    EXPECT_TRUE(app.receive().has_value()) << "no APP_DATA_REQ";
  }

  void send_app(const bytes& datagram) const { app.send_to(client_app_, pad ? padded(datagram) : datagram); }

 private:
  sockaddr_in client_app_{};
};

TEST(HostileToClient, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    std::function<void(ClientRun&)> drive;
    std::string tail;  // the end of the debug output
    std::optional<bytes> file;
  };
  const bytes ab = {'a', 'b'};
  const bytes content = testing_support::random_bytes(2 * ticket::prv_data_area + 10, 3);
  const bytes first(content.begin(), content.begin() + ticket::prv_data_area);
  const bytes second(content.begin() + ticket::prv_data_area, content.begin() + 2 * ticket::prv_data_area);
  const bytes third(content.begin() + 2 * ticket::prv_data_area, content.end());
  TempDir scratch;
  const sha1_digest digest = digest_of(scratch, content);
  const auto at_transfer = [](std::vector<bytes> sent, bool pad = false) {
    return [=](ClientRun& run) {
      run.pad = pad;
      run.reach_transfer();
      for (const bytes& datagram : sent) run.send_app(datagram);
    };
  };
  const auto at_ap_rep = [](std::function<bytes(std::uint32_t)> answer) {
    return [=](ClientRun& run) { run.send_app(answer(run.reach_ap_req())); };
  };
  const Row rows[] = {
      {"AS_REP length 65535", [](ClientRun& run) { run.answer_as(as_rep(good_rep(), 65535)); },
       "AS_REP received\nAS_REP length 65535 too long for the reply area\nABORT\n", {}},
      {"ticket_len 65535",
       [](ClientRun& run) {
         auto rep = good_rep();
         rep.ticket_len = 65535;
         run.answer_as(as_rep(rep));
       },
       "ticket_len 65535 too long for the ticket area\nABORT\n", {}},
      {"server_id without a zero byte",
       [](ClientRun& run) {
         auto rep = good_rep();
         rep.server_id = id_of(forty_x);
         run.answer_as(as_rep(rep));
       },
       "Server ID of application server is worng = " + forty_x + "\nABORT\n", {}},
      {"AP_REP length 65535", at_ap_rep([](std::uint32_t nonce) { return ap_rep(nonce, 65535); }),
       "AP_REP length 65535 too long for the nonce reply area\nABORT\n", {}},
      {"empty AP_REP", at_ap_rep([](std::uint32_t) { return bytes{}; }),
       "Expecting AP_REP\nI'm receiving packet type = 0\nABORT\n", {}},
      {"KRB_PRV length 65535", at_transfer({krb_prv({.data = ab}), krb_prv({.pid = 2, .length = 65535})}),
       "KRB_PRV length 65535 too long for the record area\nABORT\n", ab},
      {"data_len 65535", at_transfer({krb_prv({.data = ab}), krb_prv({.pid = 2, .data_len = 65535})}),
       "data_len 65535 too long for the data area\nABORT\n", ab},
      {"empty datagram among the records", at_transfer({krb_prv({.data = ab}), bytes{}}),
       "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 0\nABORT\n", ab},
      {"every answer cut from 2000 bytes",
       at_transfer({krb_prv({.data = first}), krb_prv({.pid = 2, .data = second}), krb_prv({.pid = 3, .data = third}),
                    krb_prv({.prv_type = ticket::APP_TERMINATE, .pid = 0, .data = {digest.begin(), digest.end()}})},
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
      EXPECT_EQ(testing_support::read_file(run.dir / "out"), *row.file);
    }
  }
}

// A server in debug mode serving a small file, and the client played by the
// test.
class ServerRun {
 public:
  TempDir dir;
  UdpPeer client;
  bytes input = testing_support::random_bytes(1500, 5);
  std::optional<ServerProcess> server;

  ServerRun() {
    testing_support::write_file(dir / "in", input);
    server.emplace(SERVER_QUICK_PATH, std::vector<std::string>{server_key_text, (dir / "in").string(), "-DDEBUG"},
                   dir / "stdout");
  }

  bool bound() const { return server->bound(); }
  void send(const bytes& datagram) const { client.send_to(server->port(), datagram); }

  static bytes ap_req() {
    const ticket::ticket_fields tkt{session_key, id_of("alice"), {127, 0, 0, 1}, ticket::clock_now(), 300};
    std::array<std::uint8_t, ticket::ticket_area_len> ticket_bytes;
    ticket::make_ticket(ticket_bytes, schedule_of(server_key), tkt);
    std::array<std::uint8_t, ticket::authenticator_size> auth;
    ticket::encode_authenticator(auth, {id_of("alice"), {127, 0, 0, 1}, nonce});
    std::array<std::uint8_t, ticket::ap_req_size> out;
    EXPECT_TRUE(ticket::encode_ap_req(out, ticket::ticket_area_len, ticket_bytes, schedule_of(session_key), auth));
    return {out.begin(), out.end()};
  }
  static constexpr std::uint32_t nonce = 1700000000;

  // Sends the request and checks that the AP_REP answers nonce + 1.
  void authenticate(const bytes& request) const {
    send(request);
    const auto answer = client.receive();
    ASSERT_TRUE(answer.has_value()) << "no AP_REP";
    const ticket::receive_buffer rx = received_of(answer->bytes);
    ASSERT_EQ(ticket::decode_type(rx), ticket::AP_REP);
    std::array<std::uint8_t, ticket::nonce_reply_area> area{};
    ASSERT_TRUE(ticket::decrypt_ap_rep(rx, schedule_of(session_key), area));
    EXPECT_EQ(ticket::decode_nonce_reply(area), nonce + 1);
  }

  // Receives a whole delivery and returns the file it carries, its digest
  // checked.
  bytes delivery() const {
    bytes file;
    for (std::uint16_t pid = 1;; ++pid) {
      const auto got = client.receive();
      if (!got) {
        ADD_FAILURE() << "delivery stopped";
        return file;
      }
      std::array<std::uint8_t, ticket::prv_body_size> body{};
      EXPECT_TRUE(ticket::decrypt_krb_prv(received_of(got->bytes), schedule_of(session_key), body));
      const ticket::prv_fields fields = ticket::decode_prv_body(body);
      if (fields.prv_type == ticket::APP_TERMINATE) {
        EXPECT_EQ(ticket::terminate_digest(body), digest_of(dir, file));
        return file;
      }
      EXPECT_EQ(fields.pid, pid);
      const auto data = ticket::app_data_bytes(body, fields);
      if (!data) return file;
      file.insert(file.end(), data->begin(), data->end());
    }
  }
};

bytes request_record() { return krb_prv({.prv_type = ticket::APP_DATA_REQ, .pid = 0}); }

TEST(HostileToServer, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    bool authenticate_first;
    bytes sent;
    std::string tail;  // the end of the debug output
  };
  bytes auth_len_max = ServerRun::ap_req();
  put_u16_net(auth_len_max, ticket::ap_req_auth_len_at, 65535);
  // Only the envelope's header arrives: the record decrypts from zero bytes
  // into some type other than APP_DATA_REQ.
  bytes header_only = request_record();
  header_only.resize(ticket::krb_prv_cipher_at);
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  ASSERT_TRUE(ticket::decrypt_krb_prv(received_of(header_only), schedule_of(session_key), body));
  const std::uint16_t zero_type = ticket::decode_prv_body(body).prv_type;
  ASSERT_NE(zero_type, ticket::APP_DATA_REQ);
  const Row rows[] = {
      {"empty first datagram", false, {}, "First packet is not AP_REQ\nI'm receiving packet type = 0\nABORT\n"},
      {"auth_len 65535", false, auth_len_max,
       "Session key still valid\nAuthenticator length too long for the authenticator area\nABORT\n"},
      {"empty datagram for the KRB_PRV", true, {}, "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 0\nABORT\n"},
      {"KRB_PRV of its header only", true, header_only,
       "Expecting APP_DATA_REQ\nI'm receiving packet type = " + std::to_string(zero_type) + "\nABORT\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ServerRun run;
    ASSERT_TRUE(run.bound());
    if (row.authenticate_first) run.authenticate(ServerRun::ap_req());
    run.send(row.sent);
    ASSERT_EQ(run.server->wait(10s), std::optional<int>(0));
    EXPECT_TRUE(ends_with(run.server->output(), row.tail)) << run.server->output();
    EXPECT_TRUE(run.client.silent_for(50ms)) << "answered a refused datagram";
  }
}

TEST(HostileToServer, DatagramsCutToTheBufferAreServed) {
  ServerRun run;
  ASSERT_TRUE(run.bound());
  run.authenticate(padded(ServerRun::ap_req()));
  run.send(padded(request_record()));
  EXPECT_EQ(run.delivery(), run.input);
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
  const auto request = [](const std::string& client_id, const std::string& server_id) {
    std::array<std::uint8_t, ticket::as_req_size> out;
    ticket::encode_as_req(out, id_of(client_id), id_of(server_id));
    return bytes(out.begin(), out.end());
  };
  bytes type_alone = request("alice", "srv");
  type_alone.resize(2);
  const Row rows[] = {
      {"empty datagram", {}, ticket::AS_ERR, ""},
      {"type alone", type_alone, ticket::AS_ERR, ""},
      {"server_id without a zero byte", request("alice", forty_x), ticket::AS_ERR, ""},
      {"client_id without a zero byte", request(forty_x, "srv"), ticket::AS_REP, forty_x},
      {"request cut from 2000 bytes", padded(request("alice", "srv")), ticket::AS_REP, "alice"},
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
    const ticket::receive_buffer rx = received_of(answer->bytes);
    ASSERT_EQ(ticket::decode_type(rx), row.answer_type);
    if (row.answer_type != ticket::AS_REP) continue;
    std::array<std::uint8_t, ticket::as_rep_body_area> body{};
    ASSERT_TRUE(ticket::decrypt_as_rep(rx, schedule_of(client_key), body));
    const ticket::as_rep_fields rep = ticket::decode_as_rep_body(body);
    std::array<std::uint8_t, ticket::ticket_area_len> ticket_area{};
    ASSERT_TRUE(decrypt_part(schedule_of(server_key), rep.ticket, rep.ticket_len, ticket_area));
    EXPECT_EQ(ticket::decode_ticket_body(ticket_area).client_id, id_of(row.ticket_client_id));
  }
  EXPECT_TRUE(auth.running());
}

// ---- Password system.

constexpr char secret[] = "secret";

bytes bare(std::uint16_t type, std::uint32_t length = 0) {
  bytes out(password::header_size);
  put_u16_net(out, password::type_at, type);
  put_u32_net(out, password::length_at, length);
  return out;
}

bytes pass_resp(const char* text, std::optional<std::uint32_t> length = {}) {
  std::array<std::uint8_t, password::pass_resp_size> out;
  EXPECT_TRUE(password::encode_pass_resp(out, text));
  if (length) put_u32_net(out, password::length_at, *length);
  return {out.begin(), out.end()};
}

bytes data_msg(std::uint32_t pid, const bytes& content, std::optional<std::uint32_t> length = {}) {
  std::array<std::uint8_t, password::data_size> out;
  EXPECT_TRUE(password::encode_data(out, pid, content));
  if (length) put_u32_net(out, password::length_at, *length);
  return {out.begin(), out.end()};
}

bytes terminate_msg(const TempDir& dir, const bytes& content) {
  std::array<std::uint8_t, password::terminate_size> out;
  password::encode_terminate(out, digest_of(dir, content));
  return {out.begin(), out.end()};
}

// A passfeed in debug mode, and the client played by the test.
class FeedRun {
 public:
  TempDir dir;
  UdpPeer client;
  bytes input = testing_support::random_bytes(1500, 6);
  std::optional<ServerProcess> server;

  FeedRun() {
    testing_support::write_file(dir / "in", input);
    server.emplace(PASSFEED_QUICK_PATH, std::vector<std::string>{secret, (dir / "in").string(), "-DDEBUG"},
                   dir / "stdout");
  }

  bool bound() const { return server->bound(); }
  // Sends datagram and returns the type of the answer, 0 for none.
  std::uint16_t ask(const bytes& datagram) const {
    client.send_to(server->port(), datagram);
    const auto answer = client.receive(5s);
    return answer && answer->bytes.size() >= 2 ? get_u16_net(answer->bytes, password::type_at) : 0;
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
    run.client.send_to(run.server->port(), row.sent.back());
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
class FetchRun {
 public:
  TempDir dir;
  UdpPeer server;
  Process client{PASSFETCH_QUICK_PATH,
                 {"127.0.0.1", std::to_string(server.port()), secret, secret, secret, (dir / "out").string(),
                  "-DDEBUG"},
                 dir / "stdout"};

  bool joined() {
    const auto got = server.receive();
    if (got) client_ = got->from;
    return got.has_value();
  }
  void send(const bytes& datagram) const { server.send_to(client_, datagram); }

 private:
  sockaddr_in client_{};
};

TEST(HostileToPassfetch, EndsEveryStepCleanly) {
  struct Row {
    const char* name;
    bool accept;              // answer the JOIN_REQ up to PASS_ACCEPT first
    std::vector<bytes> sent;  // then send these
    std::string output;
    bytes file;
  };
  const bytes piece = testing_support::random_bytes(password::data_bytes_len, 4);
  const bytes last = {1, 2, 3};
  bytes whole = piece;
  whole.insert(whole.end(), last.begin(), last.end());
  TempDir scratch;
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
       {padded(data_msg(1, piece)), padded(data_msg(2, last)), padded(terminate_msg(scratch, whole))},
       accepted + "receiving file\nreceiving file\nTERMINATE received\nchecksum correct\n"
                  "file transmission completed\nOK\n",
       whole},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FetchRun run;
    testing_support::write_file(run.dir / "out", {'o', 'l', 'd'});
    ASSERT_TRUE(run.joined());
    if (row.accept) {
      run.send(padded(bare(password::PASS_REQ)));
      ASSERT_TRUE(run.server.receive().has_value()) << "no PASS_RESP";
      run.send(padded(bare(password::PASS_ACCEPT)));
    }
    for (const bytes& datagram : row.sent) run.send(datagram);
    ASSERT_EQ(run.client.wait(10s), std::optional<int>(0));
    EXPECT_EQ(run.client.output(), row.output);
    EXPECT_EQ(testing_support::read_file(run.dir / "out"), row.file);
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
      {"client waiting for the AP_REP",
       [&] {
         ClientRun run;
         run.reach_ap_req();
         const std::string output = timed(run.client);
         EXPECT_TRUE(ends_with(output, "AP_REQ sent\nerror receiving packet\nABORT\n")) << output;
         return output;
       }},
      {"passfetch waiting for the answer to its PASS_RESP",
       [&] {
         FetchRun run;
         EXPECT_TRUE(run.joined());
         run.send(bare(password::PASS_REQ));
         EXPECT_TRUE(run.server.receive().has_value());
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
