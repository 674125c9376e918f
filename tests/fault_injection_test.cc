// Real clients and servers of both systems, with the test relay between
// them on 127.0.0.1, each run with one datagram lost, repeated, overtaken,
// cut or altered. Neither protocol retransmits or authenticates anything, so
// every such fault must end in the client's failure line, never in "OK" for
// a file that differs from the server's, and after a lost, repeated or
// overtaken datagram the client's file must hold exactly the pieces accepted
// before it. The servers send the whole file before the client can notice a
// fault, so a server that has delivered prints "OK" and waits for its next
// client. The _quick builds bound every wait by 2 s, which ends the runs in
// which the last datagram never arrives.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "password/wire.h"
#include "tests/support/process.h"
#include "tests/support/programs.h"
#include "tests/support/relay.h"
#include "tests/support/ticket_peer.h"
#include "ticket/wire.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr auto to_client = Direction::to_client;
constexpr auto to_server = Direction::to_server;

enum class System { ticket, password };

// How a run must end. kept: the bytes of the input that the client's file
// must hold exactly, as a prefix; nothing when the file is not checked (a cut
// or altered datagram puts other bytes into it).
struct Case {
  const char* name;
  FaultPlan plan;
  const char* client_output;
  const char* server_output;
  bool server_waits;  // still running afterwards, waiting for its next client
  std::optional<std::size_t> kept;
  System system = System::ticket;
};

std::string case_name(const testing::TestParamInfo<Case>& info) {
  return (info.param.system == System::ticket ? "Ticket" : "Password") + std::string(info.param.name);
}
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Faults : public testing::TestWithParam<Case> {};

// ---- Ticket system: client -> authserver directly, client -> relay -> server.

// Datagrams to the client: AP_REP, then APP_DATA pid 1 to 5, then
// APP_TERMINATE. Datagrams to the server: AP_REQ, then the KRB_PRV request.
constexpr std::size_t ticket_piece = ticket::prv_data_area;
constexpr std::size_t ticket_file_size = 4 * ticket_piece + 100;
constexpr std::size_t ap_rep_index = 0;
constexpr std::size_t middle_record = 3;   // pid 3
constexpr std::size_t last_record = 5;     // pid 5, the last APP_DATA
constexpr std::size_t ticket_closing = 6;  // APP_TERMINATE
constexpr std::size_t ap_req_index = 0;
constexpr std::size_t request_index = 1;
// Offsets inside a KRB_PRV: in the data of a record, and in the second
// cipher block, which holds digest bytes 2 to 9 of an APP_TERMINATE.
constexpr std::size_t in_record_data = ticket::krb_prv_cipher_at + 500;
constexpr std::size_t in_digest = ticket::krb_prv_cipher_at + 8 + 3;
constexpr std::size_t first_block_only = ticket::krb_prv_cipher_at + 8;

const Case ticket_cases[] = {
    {"NoFault", {}, "OK\n", "OK\n", true, ticket_file_size},
    {"LostRecord", {Fault::drop, to_client, middle_record}, "ABORT\n", "OK\n", true, 2 * ticket_piece},
    {"RepeatedRecord", {Fault::duplicate, to_client, middle_record}, "ABORT\n", "OK\n", true, 3 * ticket_piece},
    {"OvertakenRecord", {Fault::reorder, to_client, middle_record}, "ABORT\n", "OK\n", true, 2 * ticket_piece},
    {"CutRecord", {Fault::truncate, to_client, middle_record, in_record_data}, "\nABORT\n", "OK\n", true, {}},
    {"AlteredRecord", {Fault::alter, to_client, middle_record, in_record_data}, "\nABORT\n", "OK\n", true, {}},
    {"AlteredRecordHeader",
     {Fault::alter, to_client, middle_record, ticket::krb_prv_cipher_at},
     "ABORT\n",
     "OK\n",
     true,
     2 * ticket_piece},
    {"LostDigest", {Fault::drop, to_client, ticket_closing}, "ABORT\n", "OK\n", true, ticket_file_size},
    // The file is whole and its digest arrives: a repeat of it changes nothing.
    {"RepeatedDigest", {Fault::duplicate, to_client, ticket_closing}, "OK\n", "OK\n", true, ticket_file_size},
    // Nothing follows the digest, so it is held back for ever.
    {"HeldDigest", {Fault::reorder, to_client, ticket_closing}, "ABORT\n", "OK\n", true, ticket_file_size},
    {"DigestOvertakesLastRecord",
     {Fault::reorder, to_client, last_record},
     "\nABORT\n",
     "OK\n",
     true,
     4 * ticket_piece},
    {"CutDigest",
     {Fault::truncate, to_client, ticket_closing, first_block_only},
     "\nABORT\n",
     "OK\n",
     true,
     ticket_file_size},
    {"AlteredDigest",
     {Fault::alter, to_client, ticket_closing, in_digest},
     "\nABORT\n",
     "OK\n",
     true,
     ticket_file_size},
    {"LostApRep", {Fault::drop, to_client, ap_rep_index}, "ABORT\n", "ABORT\n", false, {}},
    {"LostApReq", {Fault::drop, to_server, ap_req_index}, "ABORT\n", "", true, {}},
    // The server takes the copy as the next step's datagram, which must be a KRB_PRV.
    {"RepeatedApReq", {Fault::duplicate, to_server, ap_req_index}, "ABORT\n", "ABORT\n", false, {}},
    // The authenticator's client_id no longer matches the ticket's: AP_ERR.
    {"AlteredAuthenticator",
     {Fault::alter, to_server, ap_req_index, ticket::ap_req_authenticator_at + 3},
     "ABORT\n",
     "ABORT\n",
     false,
     {}},
    {"LostFileRequest", {Fault::drop, to_server, request_index}, "ABORT\n", "ABORT\n", false, 0},
    {"AlteredFileRequest",
     {Fault::alter, to_server, request_index, ticket::krb_prv_cipher_at},
     "ABORT\n",
     "ABORT\n",
     false,
     0},
};

// ---- Password system: passfetch -> relay -> passfeed.

// Datagrams to the client: PASS_REQ, PASS_ACCEPT, DATA pid 1 to 5, then
// TERMINATE. Datagrams to the server: JOIN_REQ, then PASS_RESP.
constexpr std::size_t password_piece = password::data_bytes_len;
constexpr std::size_t password_file_size = 4 * password_piece + 500;
constexpr std::size_t pass_req_index = 0;
constexpr std::size_t middle_data = 4;  // pid 3
constexpr std::size_t last_data = 6;    // pid 5, the last DATA
constexpr std::size_t password_closing = 7;
constexpr std::size_t join_index = 0;
constexpr std::size_t pass_resp_index = 1;
constexpr std::size_t in_data = password::data_bytes_at + 500;
constexpr std::size_t in_pid = password::data_pid_at + 3;
constexpr std::size_t in_terminate_digest = password::terminate_digest_at + 5;
constexpr std::size_t terminate_length_low = password::length_at + 3;

const Case password_cases[] = {
    {"NoFault", {}, "OK\n", "OK\n", true, password_file_size},
    {"LostData", {Fault::drop, to_client, middle_data}, "ABORT\n", "OK\n", true, 2 * password_piece},
    {"RepeatedData", {Fault::duplicate, to_client, middle_data}, "ABORT\n", "OK\n", true, 3 * password_piece},
    {"OvertakenData", {Fault::reorder, to_client, middle_data}, "ABORT\n", "OK\n", true, 2 * password_piece},
    // The buffer is not cleared between DATA: the cut part keeps the bytes of
    // the DATA before.
    {"CutData", {Fault::truncate, to_client, middle_data, in_data}, "ABORT\n", "OK\n", true, {}},
    {"AlteredData", {Fault::alter, to_client, middle_data, in_data}, "ABORT\n", "OK\n", true, {}},
    {"AlteredPid", {Fault::alter, to_client, middle_data, in_pid}, "ABORT\n", "OK\n", true, 2 * password_piece},
    {"LostTerminate", {Fault::drop, to_client, password_closing}, "ABORT\n", "OK\n", true, password_file_size},
    {"RepeatedTerminate", {Fault::duplicate, to_client, password_closing}, "OK\n", "OK\n", true, password_file_size},
    {"HeldTerminate", {Fault::reorder, to_client, password_closing}, "ABORT\n", "OK\n", true, password_file_size},
    {"TerminateOvertakesLastData", {Fault::reorder, to_client, last_data}, "ABORT\n", "OK\n", true, 4 * password_piece},
    // The digest's missing bytes keep those of the last DATA.
    {"CutTerminate",
     {Fault::truncate, to_client, password_closing, in_terminate_digest},
     "ABORT\n",
     "OK\n",
     true,
     password_file_size},
    {"AlteredTerminate",
     {Fault::alter, to_client, password_closing, in_terminate_digest},
     "ABORT\n",
     "OK\n",
     true,
     password_file_size},
    {"AlteredTerminateLength",
     {Fault::alter, to_client, password_closing, terminate_length_low},
     "ABORT\n",
     "OK\n",
     true,
     password_file_size},
    {"LostPassReq", {Fault::drop, to_client, pass_req_index}, "ABORT\n", "ABORT\n", false, {}},
    {"LostJoinReq", {Fault::drop, to_server, join_index}, "ABORT\n", "", true, {}},
    // The server reads the copy as the answer to its PASS_REQ.
    {"RepeatedJoinReq", {Fault::duplicate, to_server, join_index}, "ABORT\n", "ABORT\n", false, {}},
    {"LostPassResp", {Fault::drop, to_server, pass_resp_index}, "ABORT\n", "ABORT\n", false, {}},
    {"AlteredPassword",
     {Fault::alter, to_server, pass_resp_index, password::pass_resp_password_at},
     "ABORT\n",
     "ABORT\n",
     false,
     {}},
};

// The system's servers and its client, the client last and told that the
// relay is its server; then how the run ended.
TEST_P(Faults, EndInTheClientsFailureLine) {
  const Case& c = GetParam();
  const bool ticket_system = c.system == System::ticket;
  TempDir dir;
  const auto input = ticket_system ? random_bytes(ticket_file_size, 7) : random_bytes(password_file_size, 9);
  write_file(dir / "in", input);

  std::optional<ServerProcess> auth;
  if (ticket_system) {
    auth.emplace(AUTHSERVER_PATH, std::vector<std::string>{client_key_text, server_key_text, "srv"}, dir / "auth.out");
    ASSERT_TRUE(auth->bound());
  }
  ServerProcess server(ticket_system ? SERVER_QUICK_PATH : PASSFEED_QUICK_PATH,
                       {ticket_system ? server_key_text : "secret", (dir / "in").string()}, dir / "server.out");
  ASSERT_TRUE(server.bound());
  Relay relay(server.port(), c.plan);
  // The password client's second password is wrong: a first PASS_RESP
  // altered on the way uses up the right one, and the dialogue then fails.
  const std::vector<std::string> client_args =
      ticket_system ? std::vector<std::string>{"127.0.0.1",
                                               std::to_string(auth->port()),
                                               client_key_text,
                                               "127.0.0.1",
                                               std::to_string(relay.port()),
                                               (dir / "out").string(),
                                               "alice",
                                               "srv"}
                    : std::vector<std::string>{"127.0.0.1", std::to_string(relay.port()), "secret", "wrong",
                                               "wrong",     (dir / "out").string()};
  Process client(ticket_system ? CLIENT_QUICK_PATH : PASSFETCH_QUICK_PATH, client_args, dir / "client.out");

  ASSERT_EQ(client.wait(20s), std::optional<int>(0)) << "client did not end by itself";
  EXPECT_EQ(client.output(), c.client_output);
  EXPECT_TRUE(relay.fault_applied() || c.plan.fault == Fault::none) << "the datagram to fault never came";
  if (c.server_waits) {
    if (*c.server_output != '\0') {
      EXPECT_TRUE(server.wait_for_output(c.server_output, 10s));
    }
    EXPECT_TRUE(server.running()) << "server should wait for its next client";
  } else {
    EXPECT_EQ(server.wait(10s), std::optional<int>(0)) << "server did not end by itself";
  }
  EXPECT_EQ(server.output(), c.server_output);
  if (c.kept) {
    const auto output = read_file(dir / "out");
    ASSERT_LE(*c.kept, input.size());
    EXPECT_EQ(output, std::vector<std::uint8_t>(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(*c.kept)));
  }
}

// Both tables, each row marked with its system.
std::vector<Case> all_cases() {
  std::vector<Case> cases(std::begin(ticket_cases), std::end(ticket_cases));
  for (Case c : password_cases) {
    c.system = System::password;
    cases.push_back(c);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Relay, Faults, testing::ValuesIn(all_cases()), case_name);

}  // namespace
