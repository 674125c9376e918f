// Writes a small seed corpus for every fuzz target, made with the system's
// own encoders under the fuzz keys: well-formed datagrams and records, and
// the same with length fields at and past the edge of their areas.
// Usage: make_corpus <directory>; seeds go to <directory>/<target>/.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/sha1.h"
#include "fuzz/fuzz_support.h"
#include "password/codec.h"
#include "password/wire.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/wire.h"

namespace {

using bytes = std::vector<std::uint8_t>;

class Corpus {
 public:
  Corpus(std::filesystem::path root, const std::string& target) : dir_(std::move(root) / target) {
    std::filesystem::create_directories(dir_);
  }
  void add(std::span<const std::uint8_t> seed) {
    std::ofstream out(dir_ / ("seed-" + std::to_string(count_++)), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }
  void add(const std::string& text) { add(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())); }
  // The seed, then copies with the u16 net field at at set to each value.
  void add_lengths(std::span<const std::uint8_t> seed, std::size_t at, std::initializer_list<std::uint16_t> values) {
    add(seed);
    for (const std::uint16_t value : values) {
      bytes changed(seed.begin(), seed.end());
      put_u16_net(changed, at, value);
      add(changed);
    }
  }

 private:
  std::filesystem::path dir_;
  int count_ = 0;
};

ticket::id_field id(const char* text) {
  ticket::id_field field{};
  ticket::make_id(text, field);
  return field;
}

const ticket::ticket_fields sample_ticket = {fuzz::session_key, id("alice"), {127, 0, 0, 1}, 1700000000, 300};

void ticket_seeds(const std::filesystem::path& root) {
  const key_schedule client = fuzz::schedule_of(fuzz::client_key);
  const key_schedule server = fuzz::schedule_of(fuzz::server_key);
  const key_schedule session = fuzz::schedule_of(fuzz::session_key);

  Corpus as_req(root, "as_req");
  std::array<std::uint8_t, ticket::as_req_size> req;
  ticket::encode_as_req(req, id("alice"), id("fileserver"));
  as_req.add(req);
  as_req.add(std::span(req).first(10));
  std::array<std::uint8_t, ticket::as_err_size> as_err;
  ticket::encode_as_err(as_err);
  as_req.add(as_err);

  Corpus as_rep(root, "as_rep");
  ticket::as_rep_fields rep{fuzz::session_key, id("fileserver"), 1700000000, 300, ticket::ticket_area_len, {}};
  ticket::make_ticket(rep.ticket, server, sample_ticket);
  std::array<std::uint8_t, ticket::as_rep_size> rep_bytes;
  ticket::encode_as_rep(rep_bytes, client, rep);
  as_rep.add_lengths(rep_bytes, ticket::as_rep_length_at, {0, 168, 169, 65535});
  std::array<std::uint8_t, ticket::as_rep_body_area> rep_body;
  rep.ticket_len = ticket::ticket_area_len + 1;
  ticket::encode_as_rep_body(rep_body, rep);
  as_rep.add(rep_body);

  Corpus ap_req(root, "ap_req");
  std::array<std::uint8_t, ticket::authenticator_size> auth;
  ticket::encode_authenticator(auth, {id("alice"), {127, 0, 0, 1}, 1700000000});
  std::array<std::uint8_t, ticket::ap_req_size> req_bytes;
  ticket::encode_ap_req(req_bytes, ticket::ticket_area_len, rep.ticket, session, auth);
  ap_req.add_lengths(req_bytes, ticket::ap_req_ticket_len_at, {0, 105, 65535});
  ap_req.add_lengths(req_bytes, ticket::ap_req_auth_len_at, {49, 65535});
  ap_req.add(std::span(req_bytes).first(2));

  Corpus ap_rep(root, "ap_rep");
  for (const std::uint32_t nonce : {0u, 9999999u, 1700000000u, 2147483647u, 4294967295u}) {
    std::array<std::uint8_t, ticket::ap_rep_size> reply;
    ticket::encode_ap_rep(reply, session, nonce);
    ap_rep.add(reply);
  }
  std::array<std::uint8_t, ticket::ap_rep_size> reply;
  ticket::encode_ap_rep(reply, session, 1700000000u);
  ap_rep.add_lengths(reply, ticket::ap_rep_length_at, {32, 33, 65535});
  ap_rep.add(std::string(" \t-2147483648"));
  ap_rep.add(std::string("+00000000000000000000000000000042"));

  Corpus krb_prv(root, "krb_prv");
  std::array<std::uint8_t, ticket::prv_body_size> body;
  std::array<std::uint8_t, ticket::krb_prv_size> envelope;
  const bytes piece(ticket::prv_data_area, 0x5A);
  const sha1_digest digest{0xDA, 0x39, 0xA3, 0xEE};
  const struct {
    std::uint16_t prv_type;
    std::uint16_t pid;
    std::span<const std::uint8_t> data;
  } records[] = {{ticket::APP_DATA_REQ, 0, {}},
                 {ticket::APP_DATA, 1, piece},
                 {ticket::APP_DATA, 2, std::span(piece).first(1)},
                 {ticket::APP_DATA, 65535, {}},
                 {ticket::APP_TERMINATE, 0, digest}};
  for (const auto& record : records) {
    ticket::encode_prv_body(body, record.prv_type, record.pid, record.data);
    ticket::encode_krb_prv(envelope, session, body);
    krb_prv.add(envelope);
    krb_prv.add(body);
  }
  krb_prv.add_lengths(envelope, ticket::krb_prv_length_at, {979, 65535});
  ticket::encode_prv_body(body, ticket::APP_DATA, 1, piece);
  put_u16_net(body, ticket::prv_data_len_at, ticket::prv_data_area + 1);
  krb_prv.add(body);
}

// A password seed: its first byte times 4 is the length of the first datagram.
bytes two_datagrams(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
  bytes seed{static_cast<std::uint8_t>((first.size() + 3) / 4)};
  seed.insert(seed.end(), first.begin(), first.end());
  seed.resize(1 + seed[0] * 4u, 0);
  seed.insert(seed.end(), second.begin(), second.end());
  return seed;
}

void password_seeds(const std::filesystem::path& root) {
  Corpus corpus(root, "password");
  std::array<std::uint8_t, password::join_req_size> join;
  password::encode_join_req(join);
  std::array<std::uint8_t, password::pass_resp_size> resp;
  password::encode_pass_resp(resp, "secret");
  std::array<std::uint8_t, password::pass_resp_size> long_resp;
  password::encode_pass_resp(long_resp, "0123456789012345678901234567890123456789012345678901");
  std::array<std::uint8_t, password::data_size> data;
  const bytes piece(password::data_bytes_len, 0x5A);
  password::encode_data(data, 1, piece);
  std::array<std::uint8_t, password::data_size> short_data;
  password::encode_data(short_data, 2, std::span(piece).first(500));
  std::array<std::uint8_t, password::terminate_size> term;
  password::encode_terminate(term, sha1_digest{0xDA, 0x39, 0xA3, 0xEE});

  corpus.add(two_datagrams(join, resp));
  corpus.add(two_datagrams(long_resp, resp));
  corpus.add(two_datagrams(data, short_data));
  corpus.add(two_datagrams(data, term));
  for (const std::uint32_t length : {51u, 1001u, 0xFFFFFFFFu}) {
    auto changed = data;
    put_u32_net(changed, password::length_at, length);
    corpus.add(two_datagrams(resp, changed));
  }
}

void text_seeds(const std::filesystem::path& root) {
  Corpus corpus(root, "text");
  for (const char* text : {"", "0123456789abcdef", "0123456789ABCDEF", "133457799bbcdff1", "0123456789abcde", "zz",
                           "8080", "65536", "70000", "1a", "-DDEBUG", "fileserver",
                           "0123456789012345678901234567890123456789", "01234567890123456789012345678901234567890"})
    corpus.add(std::string(text));
}

// Header bytes of the engine target: variant, parts (two bytes' worth),
// length, then the key; plaintext after them.
void des_engine_seeds(const std::filesystem::path& root) {
  Corpus corpus(root, "des_engine");
  const std::initializer_list<std::array<std::uint8_t, 4>> shapes = {{0, 0, 0, 8}, {1, 63, 0, 100}, {2, 64, 0, 17},
                                                                     {3, 0, 1, 5}, {4, 0, 2, 0},    {4, 0, 0, 210}};
  for (const auto& shape : shapes) {
    bytes seed(shape.begin(), shape.end());
    seed.insert(seed.end(), fuzz::session_key.begin(), fuzz::session_key.end());
    for (int i = 0; i < 40; ++i) seed.push_back(static_cast<std::uint8_t>(i * 37));
    corpus.add(seed);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus <directory>\n");
    return 2;
  }
  ticket_seeds(argv[1]);
  password_seeds(argv[1]);
  text_seeds(argv[1]);
  des_engine_seeds(argv[1]);
  return 0;
}
