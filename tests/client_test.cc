// The ticket client run as a real program on 127.0.0.1. The tests play the
// authentication server and the application server on the ticket library,
// so they can answer every step rightly or wrongly on purpose, and compare
// the client's exact output and the file it leaves.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/utsname.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
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

// The session key that the played authentication server issues. Its bytes
// below 0x10 print as one digit each.
constexpr des_key issued_key = {0x01, 0x02, 0x04, 0x07, 0x08, 0x0B, 0x0D, 0x0E};
constexpr char session_key_line[] = "Session key received:\t12478bde\n";
constexpr char id_40_bytes[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmn";

bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// The command line of one client run; empty ports mean the test's peers.
struct Args {
  std::string auth_name = "127.0.0.1";
  std::string auth_port{};
  std::string key = client_key_text;
  std::string server_name = "127.0.0.1";
  std::string server_port{};
  std::string output{};  // empty: "out" in the run's directory
  std::string client_id = "alice";
  std::string server_id = "srv";
  std::string last = "-DDEBUG";  // empty: eight arguments only
};

// The AS_REP fields of an answer the client accepts.
as_rep_fields good_rep() { return good_as_rep(issued_key); }

// An APP_DATA record of text.
bytes record(std::uint16_t pid, const std::string& text) {
  return krb_prv(issued_key, {.pid = pid, .data = bytes_of(text)});
}

// The APP_TERMINATE that closes a delivery of content.
bytes term_of(const std::string& content) { return app_terminate(issued_key, bytes_of(content)); }

std::string number(std::uint64_t value) { return std::to_string(value); }

// The address the client is to put into its authenticator, found without
// the client's code: the first IPv4 address of the host's name, or, on a
// host whose name has none, 127.0.0.1, the address its datagrams to the
// played servers leave from.
struct ExpectedAddr {
  ipv4_addr addr = {127, 0, 0, 1};
  bool by_name = false;
};

ExpectedAddr expected_addr() {
  ExpectedAddr expected;
  utsname names{};
  if (uname(&names) != 0) return expected;
  const hostent* entry = gethostbyname(names.nodename);
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) return expected;
  std::memcpy(expected.addr.data(), entry->h_addr_list[0], expected.addr.size());
  expected.by_name = true;
  return expected;
}

// The debug lines that say which local address the client took: the
// address's bytes read as a little-endian number, and a line on the
// fallback.
std::string local_addr_lines() {
  const ExpectedAddr expected = expected_addr();
  const ipv4_addr& a = expected.addr;
  const std::uint32_t as_number = a[0] | a[1] << 8 | a[2] << 16 | static_cast<std::uint32_t>(a[3]) << 24;
  return std::string(expected.by_name
                         ? ""
                         : "The local host name has no IPv4 address: using the source address toward the server\n") +
         "local ip address in network byte order = " + number(as_number) + "\n";
}

// Debug output from the AS_REP up to the nonce line.
std::string ticket_trace(std::uint32_t nonce) {
  return std::string("AS_REP received\n") + session_key_line +
         "Server ID of application server is correct\nSession key still valid\n" + local_addr_lines() +
         "nonce generated for server = " + number(nonce) + "\n";
}

// ... up to the file request.
std::string request_trace(std::uint32_t nonce) {
  return ticket_trace(nonce) +
         "AP_REQ sent\nAP_REP received\nSession key still valid\nNonce answered correctly\nAPP_DATA_REQ sent\n";
}

std::string data_trace(int pid) {
  return "KRB_PRV received\nSession key still valid\nAPP_DATA Received - pid = " + number(pid) + "\n";
}

constexpr char terminate_trace[] = "KRB_PRV received\nSession key still valid\nAPP_TERMINATE received\n";
constexpr char ok_trace[] = "checksum correct\nfile transmission completed\nOK\n";

// One client run against the two peers that the test plays.
class ClientRun : public ClientPeers {
 public:
  ClientRun() : ClientPeers(issued_key) {}

  TempDir dir;
  std::optional<Process> client;
  std::uint32_t started_at = 0;

  std::filesystem::path out() const { return dir / "out"; }

  void start(const Args& args = {}) {
    std::vector<std::string> argv = {args.auth_name,
                                     args.auth_port.empty() ? number(as.port()) : args.auth_port,
                                     args.key,
                                     args.server_name,
                                     args.server_port.empty() ? number(app.port()) : args.server_port,
                                     args.output.empty() ? out().string() : args.output,
                                     args.client_id,
                                     args.server_id};
    if (!args.last.empty()) argv.push_back(args.last);
    started_at = clock_now();
    client.emplace(CLIENT_PATH, argv, dir / "stdout");
  }

  // Waits for the exit, which must be status 0, and returns the output.
  std::string finish() { return output_at_exit(*client); }
};

// SHA-1 of "abc" and of no bytes, as "%x" prints them byte by byte.
constexpr char abc_digest_text[] = "a9993e36476816aba3e25717850c26c9cd0d89d";
constexpr char empty_digest_text[] = "da39a3ee5e6b4bd3255bfef95601890afd879";

TEST(ClientTicket, SendsAsReqToThePortModulo65536WithFullIdentifier) {
  ClientRun run;
  run.start({.auth_port = number(run.as.port() + 65536u), .client_id = id_40_bytes});
  const Datagram request = run.expect_as_req();
  EXPECT_EQ(request.bytes.size(), as_req_size);
  const receive_buffer rx = rx_of(request.bytes);
  EXPECT_EQ(decode_type(rx), AS_REQ);
  const as_req_fields fields = decode_as_req(rx);
  id_field full{};
  std::memcpy(full.data(), id_40_bytes, id_len);
  EXPECT_EQ(fields.client_id, full);
  EXPECT_EQ(fields.server_id, id_of("srv"));
  for (std::size_t at = as_req_server_id_at + id_len; at < as_req_size; ++at) EXPECT_EQ(rx[at], 0) << at;
  run.as.send_to(request.from, type_only(AS_ERR));
  EXPECT_EQ(run.finish(), "AS_ERR received - from Authentication Server\nABORT\n");
}

TEST(ClientTicket, ChecksTheAnswerOfTheAuthenticationServer) {
  struct Row {
    const char* name;
    std::function<bytes()> answer;
    std::string expected;
    std::string last = "-DDEBUG";
  };
  const std::string key_ok = std::string("AS_REP received\n") + session_key_line;
  const std::vector<Row> rows = {
      {"AS_ERR", [] { return type_only(AS_ERR); }, "AS_ERR received - from Authentication Server\nABORT\n"},
      {"AS_ERR quietly", [] { return type_only(AS_ERR); }, "ABORT\n", "-ddebug"},
      {"type 5", [] { return type_only(AP_REP, ap_rep_size); },
       "Expecting AS_REP or AS_ERR\nI'm receiving packet type = 5\nABORT\n"},
      {"empty datagram", [] { return bytes{}; }, "Expecting AS_REP or AS_ERR\nI'm receiving packet type = 0\nABORT\n"},
      {"length 0", [] { return as_rep(good_rep(), 0); },
       "AS_REP received\nWrong session key received\nSession key received:\t00000000\nABORT\n"},
      {"length beyond the reply area", [] { return as_rep(good_rep(), as_rep_body_area + 1); },
       "AS_REP received\nAS_REP length 169 too long for the reply area\nABORT\n"},
      {"weak session key",
       [] {
         as_rep_fields rep = good_rep();
         rep.session_key.fill(0x01);
         return as_rep(rep);
       },
       "AS_REP received\nWrong session key received\nSession key received:\t11111111\nABORT\n"},
      {"server ID differs after its letters",
       [] {
         as_rep_fields rep = good_rep();
         rep.server_id[3] = 'x';
         return as_rep(rep);
       },
       key_ok + "Server ID of application server is worng = srvx\nABORT\n"},
      {"server ID differs in its last byte",
       [] {
         as_rep_fields rep = good_rep();
         rep.server_id[id_len - 1] = 'z';
         return as_rep(rep);
       },
       key_ok + "Server ID of application server is worng = srv\nABORT\n"},
      {"server ID of 40 bytes without a zero byte",
       [] {
         as_rep_fields rep = good_rep();
         rep.server_id = id_of(id_40_bytes);
         return as_rep(rep);
       },
       key_ok + "Server ID of application server is worng = " + id_40_bytes + "\nABORT\n"},
  };
  for (const Row& row : rows) {
    ClientRun run;
    run.start({.last = row.last});
    run.answer_as(row.answer());
    EXPECT_EQ(run.finish(), row.expected) << row.name;
    EXPECT_TRUE(run.app.silent_for(100ms)) << row.name;
  }
}

TEST(ClientTicket, SessionKeyEndingNowHasExpired) {
  ClientRun run;
  run.start();
  as_rep_fields rep = good_rep();
  const std::uint32_t now = clock_now();
  rep.timestamp = now - 300;
  rep.lifetime = 300;
  run.answer_as(as_rep(rep));
  const std::string output = run.finish();
  EXPECT_TRUE(printed_at_some_second(output, now, clock_now(), [&](std::uint32_t t) {
    return std::string("AS_REP received\n") + session_key_line +
           "Server ID of application server is correct\nSession key has expired\ntimestamp = " + number(now - 300) +
           ", lifetime = 300, currtime = " + number(t) + " \nABORT\n";
  })) << output;
}

TEST(ClientAuthentication, SendsTicketAsIssuedAndAuthenticatorUnderSessionKey) {
  ClientRun run;
  run.start();
  // A ticket shorter than its area, in an AS_REP whose length covers the
  // last whole block: only ticket_len bytes travel on.
  as_rep_fields rep = good_rep();
  rep.ticket_len = 96;
  run.answer_as(as_rep(rep, as_rep_body_area));
  auto request = run.app.receive();
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->bytes.size(), ap_req_size);
  const receive_buffer rx = rx_of(request->bytes);
  EXPECT_EQ(decode_type(rx), AP_REQ);
  EXPECT_EQ(get_u16_net(rx, ap_req_ticket_len_at), 96);
  EXPECT_EQ(get_u16_net(rx, ap_req_auth_len_at), authenticator_size);
  for (std::size_t i = 0; i < ticket_area_len; ++i)
    EXPECT_EQ(rx[ap_req_ticket_at + i], i < 96 ? rep.ticket[i] : 0) << i;
  std::array<std::uint8_t, authenticator_size> area{};
  ASSERT_TRUE(decrypt_authenticator(rx, schedule_of(issued_key), area));
  const authenticator_fields auth = decode_authenticator(area);
  EXPECT_EQ(auth.client_id, id_of("alice"));
  EXPECT_EQ(auth.client_addr, expected_addr().addr);
  EXPECT_GE(auth.nonce, run.started_at);
  EXPECT_LE(auth.nonce, clock_now());

  // An AP_ERR in place of the AP_REP.
  run.app.send_to(request->from, type_only(AP_ERR, ap_err_size));
  EXPECT_EQ(run.finish(),
            ticket_trace(auth.nonce) + "AP_REQ sent\nExpecting AP_REP\nI'm receiving packet type = 6\nABORT\n");
}

TEST(ClientAuthentication, WrongNonceAnswerIsReportedWithApErr) {
  ClientRun run;
  run.start();
  const std::uint32_t nonce = run.reach_ap_req();
  run.answer_ap(nonce + 1);  // answers nonce + 2
  const auto report = run.app.receive();
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->bytes.size(), ap_err_size);
  EXPECT_EQ(decode_type(rx_of(report->bytes)), AP_ERR);
  EXPECT_EQ(get_array<id_len>(report->bytes, ap_err_client_id_at), id_of("alice"));
  EXPECT_EQ(run.finish(), ticket_trace(nonce) +
                              "AP_REQ sent\nAP_REP received\nSession key still valid\nNonce answer is wrong\n"
                              "Nonce answer received is = " +
                              number(nonce + 2u) + ", but expecting " + number(nonce + 1u) + "\nABORT\n");
}

TEST(ClientAuthentication, RefusesTicketLenBeyondItsArea) {
  ClientRun run;
  run.start();
  as_rep_fields rep = good_rep();
  rep.ticket_len = ticket_area_len + 1;
  run.answer_as(as_rep(rep));
  const std::string output = run.finish();
  EXPECT_TRUE(printed_at_some_second(output, run.started_at, clock_now(), [](std::uint32_t t) {
    return ticket_trace(t) + "ticket_len 105 too long for the ticket area\nABORT\n";
  })) << output;
  EXPECT_TRUE(run.app.silent_for(100ms));
}

TEST(ClientAuthentication, EndsOnAnApRepItCannotUse) {
  struct Row {
    const char* name;
    std::function<bytes(std::uint32_t nonce)> answer;
    std::string expected;  // after "AP_REQ sent"
  };
  const Row rows[] = {
      {"length beyond the nonce reply area",
       [](std::uint32_t nonce) { return ap_rep(issued_key, nonce, nonce_reply_area + 1); },
       "AP_REP received\nSession key still valid\nAP_REP length 33 too long for the nonce reply area\nABORT\n"},
      {"empty datagram", [](std::uint32_t) { return bytes{}; },
       "Expecting AP_REP\nI'm receiving packet type = 0\nABORT\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ClientRun run;
    run.start();
    const std::uint32_t nonce = run.reach_ap_req();
    run.send_app(row.answer(nonce));
    EXPECT_EQ(run.finish(), ticket_trace(nonce) + "AP_REQ sent\n" + row.expected);
  }
}

TEST(ClientAuthentication, SessionKeyRunningOutIsCheckedBeforeDecrypting) {
  enum class When { before_ap_rep, during_transfer };
  for (const When when : {When::before_ap_rep, When::during_transfer}) {
    ClientRun run;
    write_file(run.out(), bytes_of("stale"));
    run.start();
    as_rep_fields rep = good_rep();
    rep.lifetime = 3;
    const std::uint32_t validity = rep.timestamp + 3;
    const std::uint32_t nonce = run.reach_ap_req(rep);
    std::string before;
    if (when == When::during_transfer) {
      run.answer_ap(nonce);
      run.expect_data_request();
      run.send_app(record(1, "ab"));
      before = request_trace(nonce) + data_trace(1) + "KRB_PRV received\n";
    } else {
      before = ticket_trace(nonce) + "AP_REQ sent\nAP_REP received\n";
    }
    wait_for_second(validity);
    // A length that could not be decrypted: the expiry must come first.
    run.send_app(when == When::during_transfer ? krb_prv(issued_key, {.pid = 2, .length = 5000})
                                               : ap_rep(issued_key, nonce, 5000));
    const std::string output = run.finish();
    EXPECT_TRUE(printed_at_some_second(output, validity, clock_now(), [&](std::uint32_t t) {
      return before + "Session key has expired\ncurrtime = " + number(t) + ", validity = " + number(validity) +
             " \nABORT\n";
    })) << output;
    EXPECT_EQ(read_file(run.out()), bytes_of(when == When::during_transfer ? "ab" : "stale"));
  }
}

TEST(ClientReception, StoresRecordsInPidOrderAndChecksTheDigest) {
  struct Row {
    const char* name;
    std::vector<bytes> sent;
    std::string expected;  // after the file request
    std::string file;
    bool debug = true;
  };
  const std::string term = terminate_trace;
  const std::string ok = ok_trace;
  const std::string zeros_970(970, '\0');
  const std::vector<Row> rows = {
      {"records with an empty one",
       {record(1, "abc"), record(2, ""), record(3, "de"), term_of("abcde")},
       data_trace(1) + data_trace(2) + data_trace(3) + term + ok,
       "abcde"},
      {"terminate at once", {term_of("")}, term + ok, ""},
      {"terminate at once with another digest",
       {term_of("abc")},
       term + "incorrect checksum\nExpecting checksum =\t" + empty_digest_text + "\nReceiving checksum = \t" +
           abc_digest_text + "\nABORT\n",
       ""},
      {"quiet", {record(1, "xyz"), term_of("xyz")}, "OK\n", "xyz", false},
      {"data_len filling the data area",
       {krb_prv(issued_key, {.pid = 1, .data = bytes_of("ab"), .data_len = prv_data_area}), term_of("ab" + zeros_970)},
       data_trace(1) + term + ok,
       "ab" + zeros_970},
      {"first pid 2",
       {record(2, "ab")},
       data_trace(2) + "transmission error, pid sequence incorrect\nExpecting pid = 1 but receiving pid = 2ABORT\n",
       ""},
      {"repeated pid",
       {record(1, "ab"), record(1, "cd")},
       data_trace(1) + data_trace(1) +
           "transmission error, pid sequence incorrect\nExpecting pid = 2 but receiving pid = 1ABORT\n",
       "ab"},
      {"empty datagram among the records",
       {record(1, "ab"), bytes{}},
       data_trace(1) + "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 0\nABORT\n",
       "ab"},
      {"AP_ERR",
       {record(1, "ab"), type_only(AP_ERR, krb_prv_size)},
       data_trace(1) + "AP_ERR received - aborting\nABORT\n",
       "ab"},
      {"other datagram type",
       {type_only(AP_REP, krb_prv_size)},
       "Expecting KRB_PRV or AP_ERR\nI'm receiving packet type = 5\nABORT\n",
       ""},
      {"other record type",
       {krb_prv(issued_key, {.prv_type = APP_DATA_REQ})},
       "KRB_PRV received\nSession key still valid\nExpecting APP_DATA or APP_TERMINATE\n"
       "I'm receiving packet type = 14\nABORT\n",
       ""},
      {"length beyond the record area",
       {krb_prv(issued_key, {.pid = 1, .length = prv_body_size + 1})},
       "KRB_PRV received\nSession key still valid\nKRB_PRV length 979 too long for the record area\nABORT\n",
       ""},
      {"data_len beyond the data area",
       {record(1, "ab"), krb_prv(issued_key, {.pid = 2, .data = bytes_of("cd"), .data_len = prv_data_area + 1})},
       data_trace(1) + data_trace(2) + "data_len 973 too long for the data area\nABORT\n",
       "ab"},
      {"digest mismatch",
       {record(1, "abc"), term_of("")},
       data_trace(1) + term + "incorrect checksum\nExpecting checksum =\t" + abc_digest_text +
           "\nReceiving checksum = \t" + empty_digest_text + "\nABORT\n",
       "abc"},
      {"digest mismatch quietly", {record(1, "abc"), term_of("")}, "\nABORT\n", "abc", false},
  };
  for (const Row& row : rows) {
    ClientRun run;
    write_file(run.out(), bytes_of("stale content"));
    run.start({.last = row.debug ? "-DDEBUG" : "-DDEBUGX"});
    const std::uint32_t nonce = run.reach_transfer();
    for (const bytes& datagram : row.sent) run.send_app(datagram);
    EXPECT_EQ(run.finish(), (row.debug ? request_trace(nonce) : "") + row.expected) << row.name;
    EXPECT_EQ(read_file(run.out()), bytes_of(row.file)) << row.name;
  }
}

// Every datagram the peers send is cut by the client's sockets to the buffer
// it receives into; what fits is used as if it had come alone.
TEST(ClientReception, TakesDatagramsCutToItsBuffers) {
  ClientRun run;
  run.start();
  run.answer_as(oversized(as_rep(good_rep())));
  const std::uint32_t nonce = run.expect_ap_req().nonce;
  run.send_app(oversized(ap_rep(issued_key, nonce)));
  run.expect_data_request();
  const std::string content = std::string(prv_data_area, 'p') + "q";
  run.send_app(oversized(record(1, content.substr(0, prv_data_area))));
  run.send_app(oversized(record(2, "q")));
  run.send_app(oversized(term_of(content)));
  EXPECT_EQ(run.finish(), request_trace(nonce) + data_trace(1) + data_trace(2) + terminate_trace + ok_trace);
  EXPECT_EQ(read_file(run.out()), bytes_of(content));
}

// An output file that cannot be opened, or a disk that is full, ends the
// run in its failure line: a file that was not stored is never reported as
// received.
TEST(ClientReception, OutputFileThatCannotBeWritten) {
  struct Row {
    const char* name;
    bool opens;            // the file opens, and the whole delivery arrives
    std::string expected;  // after the file request
    std::string said;      // how the reason on standard error ends
  };
  const Row rows[] = {
      {"missing directory", false, "Output file cannot be opened\nABORT\n",
       "/missing/out for writing: No such file or directory\n"},
      {"/dev/full", true, data_trace(1) + terminate_trace + "Error writing the output file\nABORT\n",
       "client: cannot write /dev/full: No space left on device\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ClientRun run;
    run.start({.output = row.opens ? "/dev/full" : (run.dir / "missing" / "out").string()});
    const std::uint32_t nonce = run.reach_transfer();
    if (row.opens) {
      run.send_app(record(1, "abc"));
      run.send_app(term_of("abc"));
    }
    EXPECT_EQ(run.finish(), request_trace(nonce) + row.expected);
    EXPECT_TRUE(run.client->errors().ends_with(row.said)) << run.client->errors();
  }
}

TEST(ClientReception, ExpectsPidZeroAfter65535) {
  ClientRun run;
  run.start({.last = ""});
  run.reach_transfer();
  const std::uint16_t client_port = ntohs(run.client_app_addr.sin_port);
  constexpr std::size_t count = 65537;
  std::vector<std::uint8_t> content(count);
  std::array<std::uint8_t, prv_body_size> body{};
  std::vector<std::uint8_t> out(krb_prv_size);
  const key_schedule session = schedule_of(issued_key);
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  for (std::size_t i = 1; i <= count; ++i) {
    // Keep the client's queue short, whatever receive buffer it got.
    if (i % 32 == 0)
      while (queued_udp_bytes(client_port) > 64 * 1024 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    content[i - 1] = static_cast<std::uint8_t>(i * 31);
    encode_prv_body(body, APP_DATA, static_cast<std::uint16_t>(i), std::span(content).subspan(i - 1, 1));
    encode_krb_prv(std::span<std::uint8_t, krb_prv_size>(out), session, body);
    run.send_app(out);
  }
  run.send_app(app_terminate(issued_key, content));
  EXPECT_EQ(run.finish(), "OK\n");
  EXPECT_EQ(read_file(run.out()), content);
}

}  // namespace
