// The stand-in authentication server run as a real program on 127.0.0.1. The
// tests play the client and hold both keys, so they can open the AS_REP and
// the ticket inside it.

#include <gtest/gtest.h>

#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/local_addr.h"
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

// True when /etc/hosts gives an address for name.
bool hosts_file_names(const std::string& name) {
  std::ifstream hosts("/etc/hosts");
  for (std::string line; std::getline(hosts, line);) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string word;
    words >> word;  // the address
    while (words >> word)
      if (word == name) return true;
  }
  return false;
}

// The address a client on this host puts into its authenticator when the
// application server is on 127.0.0.1.
ipv4_addr own_first_addr() {
  ipv4_addr addr{};
  local_addr_toward(loopback(1), addr);
  return addr;
}

// Sends payload to 127.0.0.1:to with the forged source 127.0.0.1:from, as a
// datagram of the server's own socket would arrive. Needs a raw socket (root);
// false when there is none.
bool send_forged(std::uint16_t from, std::uint16_t to, std::span<const std::uint8_t> payload) {
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (fd < 0) return false;
  bytes packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
  iphdr ip{};
  ip.version = 4;
  ip.ihl = sizeof ip / 4;
  ip.ttl = 64;
  ip.protocol = IPPROTO_UDP;
  ip.tot_len = htons(static_cast<std::uint16_t>(packet.size()));  // the kernel fills the checksum
  ip.saddr = htonl(INADDR_LOOPBACK);
  ip.daddr = htonl(INADDR_LOOPBACK);
  udphdr udp{};
  udp.source = htons(from);
  udp.dest = htons(to);
  udp.len = htons(static_cast<std::uint16_t>(sizeof udp + payload.size()));  // checksum 0: none
  std::memcpy(packet.data(), &ip, sizeof ip);
  std::memcpy(packet.data() + sizeof ip, &udp, sizeof udp);
  std::copy(payload.begin(), payload.end(), packet.begin() + sizeof ip + sizeof udp);
  const sockaddr_in dest = loopback(to);
  const bool sent = sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&dest),
                           sizeof dest) == static_cast<ssize_t>(packet.size());
  close(fd);
  return sent;
}

// A running authserver on a fresh port, and the client the test plays.
class AuthRun {
 public:
  TempDir dir;
  UdpPeer client;
  std::optional<ServerProcess> server;

  void start(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {client_key_text, server_key_text, "srv"};
    args.insert(args.end(), extra.begin(), extra.end());
    server.emplace(AUTHSERVER_PATH, args, dir / "stdout");
    ASSERT_TRUE(server->bound());
  }

  // Sends a request and returns the one answer.
  receive_buffer ask(std::span<const std::uint8_t> request, std::size_t expected_size) {
    client.send_to(server->port(), request);
    const auto answer = client.receive();
    EXPECT_TRUE(answer.has_value());
    if (!answer) return {};
    EXPECT_EQ(answer->bytes.size(), expected_size);
    return rx_of(answer->bytes);
  }

  receive_buffer ask_as_req(const char* client_id, const char* server_id, std::size_t expected_size) {
    return ask(as_req(client_id, server_id), expected_size);
  }
};

TEST(Authserver, IssuesSessionKeyAndTicketForTheServedServer) {
  struct Row {
    const char* name;
    std::vector<std::string> extra;
    std::uint16_t lifetime;
    ipv4_addr ticket_addr;
  };
  const std::vector<Row> rows = {
      {"defaults: this host's own address for a local client", {"-DDEBUG"}, 300, own_first_addr()},
      {"lifetime", {"77"}, 77, own_first_addr()},
      {"explicit client address", {"0", "10.1.2.3", "-DDEBUG"}, 0, {10, 1, 2, 3}},
      {"client host name, resolved here", {"300", "localhost"}, 300, {127, 0, 0, 1}},
  };
  for (const Row& row : rows) {
    // Only a name the hosts file holds is looked up: any other would go to DNS.
    if (row.extra.size() > 1 && row.extra[1] == "localhost" && !hosts_file_names("localhost")) continue;
    AuthRun run;
    run.start(row.extra);
    des_key previous_key{};
    for (int round = 0; round < 2; ++round) {
      const std::uint32_t asked_at = clock_now();
      const receive_buffer rx = run.ask_as_req("alice", "srv", as_rep_size);
      EXPECT_EQ(decode_type(rx), AS_REP) << row.name;
      EXPECT_EQ(get_u16_net(rx, as_rep_length_at), as_rep_body_size) << row.name;
      const auto opened = open_as_rep(rx);
      ASSERT_TRUE(opened) << row.name;
      const as_rep_fields& rep = *opened;
      key_schedule session{};
      EXPECT_EQ(make_key_schedule(rep.session_key, session), 0) << row.name;
      EXPECT_NE(rep.session_key, previous_key) << row.name << ": a fresh key for every request";
      previous_key = rep.session_key;
      EXPECT_EQ(rep.server_id, id_of("srv")) << row.name;
      EXPECT_GE(rep.timestamp, asked_at) << row.name;
      EXPECT_LE(rep.timestamp, clock_now()) << row.name;
      EXPECT_EQ(rep.lifetime, row.lifetime) << row.name;
      EXPECT_EQ(rep.ticket_len, ticket_area_len) << row.name;

      const auto tkt = open_ticket(rep);
      ASSERT_TRUE(tkt) << row.name;
      EXPECT_EQ(tkt->session_key, rep.session_key) << row.name;
      EXPECT_EQ(tkt->client_id, id_of("alice")) << row.name;
      EXPECT_EQ(tkt->client_addr, row.ticket_addr) << row.name;
      EXPECT_EQ(tkt->timestamp, rep.timestamp) << row.name;
      EXPECT_EQ(tkt->lifetime, row.lifetime) << row.name;
    }
    EXPECT_TRUE(run.server->running()) << row.name;
  }
}

// The ticket address for a request sent from 127.0.0.2, another address of
// this host that is not its own first one.
ipv4_addr ticket_addr_for_request_from_second_loopback(const std::vector<std::string>& extra) {
  AuthRun run;
  run.start(extra);
  const UdpPeer client(0, 0x7f000002);
  client.send_to(run.server->port(), as_req("alice", "srv"));
  const auto answer = client.receive();
  EXPECT_TRUE(answer.has_value());
  if (!answer) return {};
  const auto rep = open_as_rep(rx_of(answer->bytes));
  EXPECT_TRUE(rep.has_value());
  if (!rep) return {};
  const auto tkt = open_ticket(*rep);
  EXPECT_TRUE(tkt.has_value());
  return tkt ? tkt->client_addr : ipv4_addr{};
}

TEST(Authserver, SourceTakesEachRequestsOwnAddressWhereTheDefaultTakesThisHostsFirst) {
  const ipv4_addr second = {127, 0, 0, 2};
  ASSERT_NE(own_first_addr(), second);
  EXPECT_EQ(ticket_addr_for_request_from_second_loopback({"300", "source"}), second);
  // By default a request from this host gets this host's first address; on a
  // host whose name has no address, its source, as the client then falls back
  // to the address it sends from.
  char** local = my_addr();
  const ipv4_addr by_default = local != nullptr && local[0] != nullptr ? own_first_addr() : second;
  EXPECT_EQ(ticket_addr_for_request_from_second_loopback({"300"}), by_default);
}

// One server answers every row in turn: no request, however odd, ends it.
TEST(Authserver, AnswersOddRequestsAndGoesOnServing) {
  struct Row {
    const char* name;
    bytes sent;
    std::uint16_t answer_type;
    std::string ticket_client_id{};  // for an AS_REP
  };
  const std::string forty_x(id_len, 'x');
  bytes type_alone = as_req("alice", "srv");
  type_alone.resize(2);
  bytes no_server_id = as_req("alice", "srv");
  no_server_id.resize(as_req_server_id_at);
  bytes not_a_request(ap_err_size);
  encode_ap_err(std::span<std::uint8_t, ap_err_size>(not_a_request), id_of("alice"));
  const Row rows[] = {
      {"another server", as_req("alice", "other"), AS_ERR},
      {"the same three letters followed by more", as_req("alice", "srvx"), AS_ERR},
      {"an AP_ERR", not_a_request, AS_ERR},
      {"empty datagram", {}, AS_ERR},
      {"type alone", type_alone, AS_ERR},
      {"server_id without a zero byte", as_req("alice", forty_x), AS_ERR},
      {"client_id without a zero byte", as_req(forty_x, "srv"), AS_REP, forty_x},
      {"request cut from 2000 bytes", oversized(as_req("alice", "srv")), AS_REP, "alice"},
      // Right after a whole request: the missing server_id must read as
      // zeros, not as the one the buffer held.
      {"request that ends before server_id", no_server_id, AS_ERR},
  };
  AuthRun run;
  run.start({"-DDEBUG"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const receive_buffer rx = run.ask(row.sent, row.answer_type == AS_REP ? as_rep_size : as_err_size);
    ASSERT_EQ(decode_type(rx), row.answer_type);
    if (row.answer_type != AS_REP) continue;
    const auto rep = open_as_rep(rx);
    ASSERT_TRUE(rep);
    const auto tkt = open_ticket(*rep);
    ASSERT_TRUE(tkt);
    EXPECT_EQ(tkt->client_id, id_of(row.ticket_client_id));
  }
  EXPECT_TRUE(run.server->wait_for_output("AS_REP to 127.0.0.1:"));
  EXPECT_TRUE(run.server->running());
}

// Replies are never answered: two servers would answer each other for ever.
// Nor is a datagram from the server's own socket, whose answer would come
// back to it. One server drops every row and still serves a request after.
TEST(Authserver, DropsRepliesAndItsOwnDatagramsAndGoesOnServing) {
  struct Row {
    const char* name;
    bytes sent;
    bool from_own_socket;  // else from the test's client
    const char* debug_line;
  };
  const Row rows[] = {
      {"an AS_ERR", type_only(AS_ERR), false, "type 3 is a reply"},
      {"an AS_REP", as_rep(good_as_rep()), false, "type 2 is a reply"},
      {"an AS_REQ from its own address", as_req("alice", "srv"), true, "this server's own address"},
  };
  AuthRun run;
  run.start({"-DDEBUG"});
  bool forged = false;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.from_own_socket) {
      forged = send_forged(run.server->port(), run.server->port(), row.sent);
      if (!forged) continue;  // reported as skipped below
    } else {
      run.client.send_to(run.server->port(), row.sent);
      ASSERT_TRUE(run.client.silent_for(500ms));
    }
    ASSERT_TRUE(run.server->wait_for_output(row.debug_line, 5s)) << run.server->output();
    const receive_buffer rx = run.ask_as_req("alice", "srv", as_rep_size);
    EXPECT_EQ(decode_type(rx), AS_REP);
  }
  // Nothing went to its own socket, and it answered nothing it dropped.
  const std::string output = run.server->output();
  EXPECT_EQ(output.find("to 127.0.0.1:" + std::to_string(run.server->port())), std::string::npos) << output;
  EXPECT_EQ(output.find("AS_ERR to"), std::string::npos) << output;
  EXPECT_TRUE(run.server->running());
  if (!forged) GTEST_SKIP() << "no raw socket (needs root) to send from the server's own address";
}

}  // namespace
