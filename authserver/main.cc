// authserver: the authentication server the ticket programs are run and
// tested against. It answers every AS_REQ for the one application server it
// serves with a fresh session key and a ticket for that server, and every
// other request with AS_ERR, one request after another, for ever. Replies
// (AS_REP, AS_ERR) and datagrams from its own socket are dropped unanswered.

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "authserver/session_key.h"
#include "common/credentials.h"
#include "console/console.h"
#include "common/hex.h"
#include "common/local_addr.h"
#include "common/options.h"
#include "common/udp.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/receive.h"
#include "ticket/validity.h"
#include "ticket/wire.h"

namespace {

constexpr std::uint16_t default_lifetime = 300;

// Enough for the addresses of any ordinary host; further ones are not
// recognised as local.
constexpr std::size_t local_addr_room = 16;

constexpr const char* usage =
    "usage: authserver <port> <clientkey> <serverkey> <serverID> [<lifetime> [<clientaddr>]] [-DDEBUG]\n"
    "  port        UDP port, served on every local address\n"
    "  clientkey   16 hexadecimal digits: the key the client holds as authserverkey\n"
    "  serverkey   16 hexadecimal digits: the key the application server holds as authserverkey\n"
    "  serverID    identifier of the one application server tickets are issued for (at most 40 bytes)\n"
    "  lifetime    seconds a session key stays valid, 0 to 65535 (default 300)\n"
    "  clientaddr  the address put into every ticket, which must be the one the client's own host name\n"
    "              resolves to on the client's host: dotted-decimal, a host name resolved here at start-up,\n"
    "              or source for the source address of each request (default: this host's own first\n"
    "              address for a request from this host, the source address for any other, and for\n"
    "              every request when this host's name has no address)\n"
    "  -DDEBUG     as the last argument: one line per answer\n";

struct settings {
  std::uint16_t port = 0;
  des_key client_key{};
  des_key server_key{};
  ticket::id_field server_id{};
  std::uint16_t lifetime = default_lifetime;
  bool fixed_client_addr = false;
  bool source_client_addr = false;
  ticket::ipv4_addr client_addr{};
  // This host's addresses as my_addr gives them, its own first address first.
  std::array<ticket::ipv4_addr, local_addr_room> local_addrs{};
  std::size_t local_count = 0;
  bool debug = false;
};

// A decimal number from 0 to 65535 and nothing else.
bool parse_u16(const char* text, std::uint16_t& value) {
  std::uint32_t sum = 0;
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
    sum = sum * 10 + static_cast<std::uint32_t>(*text - '0');
    if (sum > 0xffff) return false;
  }
  value = static_cast<std::uint16_t>(sum);
  return true;
}

// A key text of exactly 16 hexadecimal digits whose key the schedule accepts.
bool parse_key(const char* text, des_key& key, key_schedule& schedule) {
  if (std::strlen(text) != 16) return false;
  for (const char* c = text; *c != '\0'; ++c)
    if (!std::isxdigit(static_cast<unsigned char>(*c))) return false;
  hex_to_bytes(text, key);
  return make_key_schedule(key, schedule) == 0;
}

// Digits and dots only: meant as an address, never looked up as a name (the
// resolver would take "10.1.2" for 10.1.0.2).
bool numeric_text(const char* text) {
  for (; *text != '\0'; ++text)
    if (*text != '.' && !std::isdigit(static_cast<unsigned char>(*text))) return false;
  return true;
}

ticket::ipv4_addr addr_of(const sockaddr_in& socket_addr) {
  ticket::ipv4_addr addr{};
  std::memcpy(addr.data(), &socket_addr.sin_addr, addr.size());
  return addr;
}

// The address the client will put into its authenticator, which is the first
// own address of the client's host. A request that comes from this host
// (loopback, or one of its own addresses) comes from a client whose first own
// address is this host's; any other request carries it as its source. Where
// the host's name gives no address, a client takes the address its
// datagrams leave from, which is the request's source here too.
ticket::ipv4_addr ticket_address(const settings& s, const sockaddr_in& from) {
  if (s.fixed_client_addr) return s.client_addr;
  if (s.source_client_addr) return addr_of(from);
  const ticket::ipv4_addr source = addr_of(from);
  if (s.local_count == 0) return source;
  bool local = source[0] == 127;
  for (std::size_t i = 0; i < s.local_count; ++i) local = local || source == s.local_addrs[i];
  return local ? s.local_addrs[0] : source;
}

// A type this server only ever sends. Answering one would let a single forged
// datagram set two authentication servers answering each other for ever.
bool is_reply_type(std::uint16_t type) { return type == ticket::AS_REP || type == ticket::AS_ERR; }

// True when from is this server's own socket: its port at one of this host's
// addresses. A datagram to one of the host's own addresses leaves from that
// address, so an address is the host's when the route toward it starts there;
// the whole loopback network is the host's. Its answer would come straight
// back to it.
bool from_own_socket(const sockaddr_in& from, std::uint16_t port) {
  if (ntohs(from.sin_port) != port) return false;
  if ((ntohl(from.sin_addr.s_addr) >> 24) == 127) return true;
  ipv4_bytes source{};
  return source_addr_toward(from, source) && source == addr_of(from);
}

// Dotted-decimal text of a 4-byte address.
std::array<char, INET_ADDRSTRLEN> addr_text(const ticket::ipv4_addr& addr) {
  std::array<char, INET_ADDRSTRLEN> text{};
  std::snprintf(text.data(), text.size(), "%u.%u.%u.%u", addr[0], addr[1], addr[2], addr[3]);
  return text;
}

}  // namespace

int main(int argc, char* argv[]) {
  start_console();

  settings s;
  ticket::receive_buffer rx{};
  std::array<std::uint8_t, ticket::as_rep_size> as_rep{};
  std::array<std::uint8_t, ticket::as_err_size> as_err{};
  key_schedule client_schedule{};
  key_schedule server_schedule{};
  ticket::ticket_fields tkt{};
  ticket::as_rep_fields rep{};
  // One character more than a key text, so a longer one stays too long.
  std::array<std::array<char, 2 * std::tuple_size_v<des_key> + 2>, 2> key_texts{};

  // 1. Read the command line: the options, then the arguments after them.
  // "-DDEBUG" counts only as the last of five or more arguments; any other
  // seventh argument is ignored.
  const program_options options = take_options(argc, argv, "authserver", usage, takes_credentials);
  int args = argc - 1;
  if (args < 4 || args > 7) {
    std::printf("%s", usage);
    end_run();
  }
  if (args > 4 && std::strcmp(argv[args], "-DDEBUG") == 0) {
    s.debug = true;
    --args;
  } else if (args == 7) {
    --args;
  }
  if (!parse_u16(argv[1], s.port)) abort_run(s.debug, "port is not a number from 0 to 65535\n");
  const secret_text client_key = take_secret(options.credentials, argv[2], key_texts[0]);
  if (client_key.text == nullptr) abort_credential(s.debug, argv[2], credential_reason(client_key.error));
  if (!parse_key(client_key.text, s.client_key, client_schedule)) abort_run(s.debug, "Incorrect client key\n");
  const secret_text server_key = take_secret(options.credentials, argv[3], key_texts[1]);
  if (server_key.text == nullptr) abort_credential(s.debug, argv[3], credential_reason(server_key.error));
  if (!parse_key(server_key.text, s.server_key, server_schedule)) abort_run(s.debug, "Incorrect server key\n");
  if (!ticket::make_id(argv[4], s.server_id)) abort_run(s.debug, "serverID longer than %zu bytes\n", ticket::id_len);
  if (args >= 5 && !parse_u16(argv[5], s.lifetime)) abort_run(s.debug, "lifetime is not a number from 0 to 65535\n");
  if (args >= 6) {
    if (std::strcmp(argv[6], "source") == 0) {
      s.source_client_addr = true;
    } else if (numeric_text(argv[6])) {
      if (inet_pton(AF_INET, argv[6], s.client_addr.data()) != 1) abort_run(s.debug, "clientaddr is no IPv4 address\n");
      s.fixed_client_addr = true;
    } else {
      sockaddr_in named{};
      if (!resolve_ipv4(argv[6], 0, named))
        abort_run(s.debug, "clientaddr %s does not resolve to an IPv4 address\n", argv[6]);
      s.client_addr = addr_of(named);
      s.fixed_client_addr = true;
    }
  }

  // 2. Learn this host's own addresses, to recognise requests from it.
  if (char** local = my_addr(); local != nullptr)
    for (; s.local_count < s.local_addrs.size() && local[s.local_count] != nullptr; ++s.local_count)
      std::memcpy(s.local_addrs[s.local_count].data(), local[s.local_count], ticket::addr_len);

  // 3. Open the UDP socket and bind it to every local address at the port.
  const bound_socket sock = open_bound_socket(s.port);
  if (!sock.bound) abort_bind(s.debug, sock, s.port);
  const int fd = sock.fd;
  // The port actually bound, which port 0 leaves to the system.
  sockaddr_in bound{};
  socklen_t bound_len = sizeof bound;
  const std::uint16_t own_port =
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &bound_len) == 0 ? ntohs(bound.sin_port) : s.port;

  for (;;) {
    // 4. Receive a request; the answer goes to its sender.
    sockaddr_in from{};
    if (!ticket::receive_cleared(fd, rx, &from)) abort_run(s.debug, "error receiving packet\n");
    const auto from_text = addr_text(addr_of(from));
    const unsigned from_port = ntohs(from.sin_port);

    // 5. Drop a reply and anything from this very socket, unanswered.
    const std::uint16_t type = ticket::decode_type(rx);
    if (is_reply_type(type)) {
      debug_print(s.debug, "dropped from %s:%u: type %d is a reply, not answered\n", from_text.data(), from_port, type);
      continue;
    }
    if (from_own_socket(from, own_port)) {
      debug_print(s.debug, "dropped from %s:%u: this server's own address, not answered\n", from_text.data(),
                  from_port);
      continue;
    }

    // 6. Refuse anything but an AS_REQ for the application server served.
    const ticket::as_req_fields req = ticket::decode_as_req(rx);
    if (type != ticket::AS_REQ || req.server_id != s.server_id) {
      ticket::encode_as_err(as_err);
      const bool sent = send_datagram(fd, as_err, from);
      if (type != ticket::AS_REQ)
        debug_print(s.debug, "AS_ERR to %s:%u: type %d is not AS_REQ%s\n", from_text.data(), from_port, type,
                    sent ? "" : " (not sent)");
      else
        debug_print(s.debug, "AS_ERR to %s:%u: server %.40s is not served%s\n", from_text.data(), from_port,
                    ticket::id_text(req.server_id), sent ? "" : " (not sent)");
      continue;
    }

    // 7. Draw a fresh session key.
    if (!draw_session_key(tkt.session_key)) abort_run(s.debug, "No random bytes for a session key\n");

    // 8. Issue the ticket under the server key.
    tkt.client_id = req.client_id;
    tkt.client_addr = ticket_address(s, from);
    tkt.timestamp = ticket::clock_now();
    tkt.lifetime = s.lifetime;
    ticket::make_ticket(rep.ticket, server_schedule, tkt);

    // 9. Send the AS_REP under the client key.
    rep.session_key = tkt.session_key;
    rep.server_id = s.server_id;
    rep.timestamp = tkt.timestamp;
    rep.lifetime = tkt.lifetime;
    rep.ticket_len = ticket::ticket_area_len;
    ticket::encode_as_rep(as_rep, client_schedule, rep);
    const bool sent = send_datagram(fd, as_rep, from);
    debug_print(s.debug, "AS_REP to %s:%u: client %.40s, ticket address %s, timestamp %u, lifetime %u%s\n",
                from_text.data(), from_port, ticket::id_text(req.client_id), addr_text(tkt.client_addr).data(),
                tkt.timestamp, static_cast<unsigned>(tkt.lifetime), sent ? "" : " (not sent)");
  }
}
