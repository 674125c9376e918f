#include "ticket/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "tests/support/field_offsets.h"
#include "tests/support/junk.h"
#include "tests/support/key_schedule.h"
#include "ticket/validity.h"

namespace ticket {
namespace {

using testing_support::all_zero;
using testing_support::area_of;
using testing_support::field_values;
using testing_support::fields_changed_at;
using testing_support::junk_filled;
using testing_support::leftover_bytes;
using testing_support::schedule_of;
using testing_support::value;

id_field id_of(const char* text) {
  id_field field{};
  EXPECT_TRUE(make_id(text, field)) << text;
  return field;
}

// A datagram as a receiver holds it: the receive buffer is zeroed first.
receive_buffer received_from(std::span<const std::uint8_t> datagram) {
  receive_buffer rx{};
  std::copy(datagram.begin(), datagram.end(), rx.begin());
  return rx;
}

const key_schedule client_key = schedule_of("133457799BBCDFF1");
const key_schedule server_key = schedule_of("0E329232EA6D0D73");
const key_schedule session_key = schedule_of("1C587F1C13924FEF");

// The values that every golden array below carries.
constexpr des_key sample_session = {0x1C, 0x58, 0x7F, 0x1C, 0x13, 0x92, 0x4F, 0xEF};
constexpr ipv4_addr loopback = {127, 0, 0, 1};

std::array<std::uint8_t, ticket_area_len> sample_ticket_bytes() {
  std::array<std::uint8_t, ticket_area_len> ticket;
  for (std::size_t i = 0; i < ticket.size(); ++i) ticket[i] = static_cast<std::uint8_t>(0x80 + i);
  return ticket;
}

as_rep_fields sample_as_rep() {
  return {sample_session, id_of("srv"), 0x11223344, 300, ticket_area_len, sample_ticket_bytes()};
}

ticket_fields sample_ticket() { return {sample_session, id_of("alice"), loopback, 1700000000, 0xABCD}; }

authenticator_fields sample_authenticator() { return {id_of("alice"), loopback, 0x01020304}; }

sha1_digest sample_digest() {
  sha1_digest digest;
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(0xC0 + i);
  return digest;
}

TEST(MakeId, FillsUpToFortyBytesAndRefusesMore) {
  auto field = junk_filled<id_len>();
  ASSERT_TRUE(make_id("alice", field));
  EXPECT_EQ(std::string(field.begin(), field.begin() + 5), "alice");
  EXPECT_TRUE(all_zero(std::span(field).subspan(5)));

  const std::string forty(id_len, 'c');
  ASSERT_TRUE(make_id(forty.c_str(), field));
  EXPECT_EQ(std::string(field.begin(), field.end()), forty) << "a full field has no terminating zero";

  EXPECT_FALSE(make_id((forty + "x").c_str(), field));
  EXPECT_TRUE(all_zero(field));
}

TEST(TicketCodec, PlainDatagramsMatchGoldenBytes) {
  const std::array<std::uint8_t, as_req_size> as_req_golden{
      0x00, 0x01,                                // 0: type AS_REQ
      'a',  'l',  'i', 'c', 'e', 0, 0, 0, 0, 0,  // 2: client_id, 40 bytes
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      's',  'r',  'v', 0,   0,   0, 0, 0, 0, 0,  // 42: server_id, 40 bytes
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0,              // 82: unused
  };
  auto as_req = junk_filled<as_req_size>();
  encode_as_req(as_req, id_of("alice"), id_of("srv"));
  EXPECT_EQ(as_req, as_req_golden);
  const receive_buffer rx = received_from(as_req_golden);
  EXPECT_EQ(decode_type(rx), AS_REQ);
  EXPECT_EQ(decode_as_req(rx).client_id, id_of("alice"));
  EXPECT_EQ(decode_as_req(rx).server_id, id_of("srv"));

  const std::array<std::uint8_t, ap_err_size> ap_err_golden{
      0x00, 0x06,                                // 0: type AP_ERR
      'a',  'l',  'i', 'c', 'e', 0, 0, 0, 0, 0,  // 2: client_id, 40 bytes
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
      0,    0,    0,   0,   0,   0, 0, 0, 0, 0,  //
  };
  auto ap_err = junk_filled<ap_err_size>();
  encode_ap_err(ap_err, id_of("alice"));
  EXPECT_EQ(ap_err, ap_err_golden);
  encode_ap_err(ap_err, id_field{});
  EXPECT_EQ(ap_err, (std::array<std::uint8_t, ap_err_size>{0x00, 0x06})) << "the server's AP_ERR";

  auto as_err = junk_filled<as_err_size>();
  encode_as_err(as_err);
  EXPECT_EQ(as_err, (std::array<std::uint8_t, as_err_size>{0x00, 0x03}));
}

// as_rep_body of sample_as_rep(), before the ticket.
const std::array<std::uint8_t, as_rep_body_area> as_rep_body_golden = [] {
  std::array<std::uint8_t, as_rep_body_area> golden{
      0x1C, 0x58, 0x7F, 0x1C, 0x13, 0x92, 0x4F, 0xEF,  // 0: session_key
      's',  'r',  'v',  0,    0,    0,    0,    0,     // 8: server_id, 40 bytes
      0,    0,    0,    0,    0,    0,    0,    0,     //
      0,    0,    0,    0,    0,    0,    0,    0,     //
      0,    0,    0,    0,    0,    0,    0,    0,     //
      0,    0,    0,    0,    0,    0,    0,    0,     //
      0x44, 0x33, 0x22, 0x11,                          // 48: timestamp, u32 le
      0x01, 0x2C, 0,    0,                             // 52: lifetime 300, u16 net; 54: unused
      0x00, 0x68, 0,    0,                             // 56: ticket_len 104; 58: unused
  };
  const auto ticket = sample_ticket_bytes();
  std::copy(ticket.begin(), ticket.end(), golden.begin() + rep_ticket_at);  // 60: ticket; 164: zero
  return golden;
}();

TEST(TicketCodec, AsRepMatchesGoldenBytes) {
  auto body = junk_filled<as_rep_body_area>();
  encode_as_rep_body(body, sample_as_rep());
  EXPECT_EQ(body, as_rep_body_golden);

  auto out = junk_filled<as_rep_size>();
  encode_as_rep(out, client_key, sample_as_rep());
  EXPECT_EQ((std::vector<std::uint8_t>(out.begin(), out.begin() + 4)),
            (std::vector<std::uint8_t>{0x00, 0x02, 0x00, 0xA4}))  // type AS_REP, length 164
      << "the ciphertext follows from offset 4";
  auto decrypted = junk_filled<as_rep_body_area>();
  ASSERT_TRUE(decrypt_as_rep(received_from(out), client_key, decrypted));
  EXPECT_EQ(decrypted, as_rep_body_golden);

  const as_rep_fields fields = decode_as_rep_body(as_rep_body_golden);
  const as_rep_fields expected = sample_as_rep();
  EXPECT_EQ(fields.session_key, expected.session_key);
  EXPECT_EQ(fields.server_id, expected.server_id);
  EXPECT_EQ(fields.timestamp, expected.timestamp);
  EXPECT_EQ(fields.lifetime, expected.lifetime);
  EXPECT_EQ(fields.ticket_len, expected.ticket_len);
  EXPECT_EQ(fields.ticket, expected.ticket);
}

// ticket_body of sample_ticket(), in the 104-byte area it is decrypted into.
const std::array<std::uint8_t, ticket_area_len> ticket_body_golden{
    0x1C, 0x58, 0x7F, 0x1C, 0x13, 0x92, 0x4F, 0xEF,  // 0: session_key
    'a',  'l',  'i',  'c',  'e',  0,    0,    0,     // 8: client_id, 40 bytes
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,     //
    127,  0,    0,    1,    0,    0,    0,    0,     // 48: client_addr; 52: unused up to 92
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0x00, 0xF1, 0x53, 0x65,  // 92: timestamp 1700000000, u32 le
    0xAB, 0xCD, 0,    0,                             // 96: lifetime, u16 net; 98: unused
    0,    0,    0,    0,                             // 100: block padding
};

// authenticator of sample_authenticator().
const std::array<std::uint8_t, authenticator_size> authenticator_golden{
    'a',  'l',  'i',  'c',  'e', 0, 0, 0,  // 0: client_id, 40 bytes
    0,    0,    0,    0,    0,   0, 0, 0,  //
    0,    0,    0,    0,    0,   0, 0, 0,  //
    0,    0,    0,    0,    0,   0, 0, 0,  //
    0,    0,    0,    0,    0,   0, 0, 0,  //
    127,  0,    0,    1,                   // 40: client_addr
    0x04, 0x03, 0x02, 0x01,                // 44: nonce, u32 le
};

TEST(TicketCodec, ApReqMatchesGoldenBytes) {
  auto body = junk_filled<ticket_body_size>();
  encode_ticket_body(body, sample_ticket());
  EXPECT_TRUE(std::equal(body.begin(), body.end(), ticket_body_golden.begin()));

  auto authenticator = junk_filled<authenticator_size>();
  encode_authenticator(authenticator, sample_authenticator());
  EXPECT_EQ(authenticator, authenticator_golden);

  std::array<std::uint8_t, ticket_area_len> ticket;
  make_ticket(ticket, server_key, sample_ticket());
  auto out = junk_filled<ap_req_size>();
  ASSERT_TRUE(encode_ap_req(out, ticket_area_len, ticket, session_key, authenticator));
  // 0: type AP_REQ; 2: ticket_len 104; 4: auth_len 48; 6: the ticket as
  // issued; 110: the authenticator's ciphertext.
  EXPECT_EQ((std::vector<std::uint8_t>(out.begin(), out.begin() + 6)),
            (std::vector<std::uint8_t>{0x00, 0x04, 0x00, 0x68, 0x00, 0x30}));
  EXPECT_TRUE(std::equal(ticket.begin(), ticket.end(), out.begin() + 6));

  const receive_buffer rx = received_from(out);
  auto ticket_area = junk_filled<ticket_area_len>();
  ASSERT_TRUE(decrypt_ticket(rx, server_key, ticket_area));
  EXPECT_EQ(ticket_area, ticket_body_golden);
  auto auth_area = junk_filled<authenticator_size>();
  ASSERT_TRUE(decrypt_authenticator(rx, session_key, auth_area));
  EXPECT_EQ(auth_area, authenticator_golden);

  const ticket_fields tkt = decode_ticket_body(ticket_body_golden);
  EXPECT_EQ(tkt.session_key, sample_session);
  EXPECT_EQ(tkt.client_id, id_of("alice"));
  EXPECT_EQ(tkt.client_addr, loopback);
  EXPECT_EQ(tkt.timestamp, 1700000000u);
  EXPECT_EQ(tkt.lifetime, 0xABCD);
  const authenticator_fields auth = decode_authenticator(authenticator_golden);
  EXPECT_EQ(auth.client_id, id_of("alice"));
  EXPECT_EQ(auth.client_addr, loopback);
  EXPECT_EQ(auth.nonce, 0x01020304u);
}

TEST(TicketCodec, ApReqCarriesOnlyTicketLenTicketBytes) {
  std::array<std::uint8_t, ticket_area_len> ticket;
  ticket.fill(0x77);
  const std::array<std::uint8_t, authenticator_size> authenticator{};
  auto out = junk_filled<ap_req_size>();
  ASSERT_TRUE(encode_ap_req(out, ticket_area_len - 4, ticket, session_key, authenticator));
  EXPECT_EQ(get_u16_net(out, ap_req_ticket_len_at), ticket_area_len - 4);
  EXPECT_EQ(out[ap_req_ticket_at + ticket_area_len - 5], 0x77);
  EXPECT_TRUE(all_zero(std::span(out).subspan(ap_req_ticket_at + ticket_area_len - 4, 4)));
  EXPECT_FALSE(encode_ap_req(out, ticket_area_len + 1, ticket, session_key, authenticator));
}

TEST(TicketCodec, ApRepMatchesAReferenceCiphertext) {
  // openssl enc -des-cbc -provider legacy -provider default -nopad
  //   -K 133457799BBCDFF1 -iv 5A3C96E10F78B42D of "1700000001" and six zero bytes.
  const std::array<std::uint8_t, ap_rep_size> golden{
      0x00, 0x05, 0x00, 0x0E,                          // 0: type AP_REP; 2: length 14
      0xa4, 0x48, 0x97, 0x3d, 0xdc, 0xc7, 0xc4, 0xe7,  // 4: ciphertext, 16 bytes
      0x5a, 0x14, 0x4b, 0x95, 0x16, 0x2a, 0xff, 0xaf,  //
      0x00, 0x00, 0x00, 0x00,                          // 20: zero
  };
  const key_schedule key = schedule_of("133457799BBCDFF1");
  auto out = junk_filled<ap_rep_size>();
  encode_ap_rep(out, key, 1700000000u);
  EXPECT_EQ(out, golden);

  auto reply = junk_filled<nonce_reply_area>();
  ASSERT_TRUE(decrypt_ap_rep(received_from(golden), key, reply));
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 10), "1700000001");
  EXPECT_TRUE(all_zero(std::span(reply).subspan(10)));

  // The longest reply, a negative number: length 15, still two blocks.
  encode_ap_rep(out, key, 2147483647u);
  EXPECT_EQ(get_u16_net(out, ap_rep_length_at), 15);
  ASSERT_TRUE(decrypt_ap_rep(received_from(out), key, reply));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "-2147483648");
  EXPECT_TRUE(all_zero(std::span(out).subspan(ap_rep_cipher_at + 16)));
}

TEST(TicketCodec, KrbPrvBodiesMatchGoldenBytes) {
  const sha1_digest digest = sample_digest();
  const std::vector<std::uint8_t> abc{'a', 'b', 'c'};
  struct Row {
    const char* name;
    std::uint16_t prv_type;
    std::uint16_t pid;
    std::vector<std::uint8_t> data;
    std::array<std::uint8_t, prv_body_size> golden;  // zero after what is written
  };
  const Row rows[] = {
      // 0: prv_type   2: data_len   4: pid        6: data
      {"APP_DATA_REQ", APP_DATA_REQ, 0, {}, {0x00, 0x0E, 0x00, 0x00, 0x00, 0x00}},
      {"APP_DATA", APP_DATA, 0x0102, abc, {0x00, 0x0F, 0x00, 0x03, 0x01, 0x02, 'a', 'b', 'c'}},
      {"APP_TERMINATE", APP_TERMINATE, 0, {digest.begin(), digest.end()}, {0x00, 0x10, 0x00, 0x14, 0x00, 0x00,  //
                                                                           0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5,
                                                                           0xC6, 0xC7, 0xC8, 0xC9,  // 6: digest
                                                                           0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
                                                                           0xD0, 0xD1, 0xD2, 0xD3}},
  };
  for (const Row& row : rows) {
    auto body = junk_filled<prv_body_size>();
    ASSERT_TRUE(encode_prv_body(body, row.prv_type, row.pid, row.data)) << row.name;
    EXPECT_EQ(body, row.golden) << row.name;

    auto out = junk_filled<krb_prv_size>();
    encode_krb_prv(out, session_key, body);
    EXPECT_EQ((std::vector<std::uint8_t>(out.begin(), out.begin() + 4)),
              (std::vector<std::uint8_t>{0x00, 0x07, 0x03, 0xD2}))  // type KRB_PRV, length 978
        << row.name;
    auto decrypted = junk_filled<prv_body_size>();
    ASSERT_TRUE(decrypt_krb_prv(received_from(out), session_key, decrypted)) << row.name;
    EXPECT_EQ(decrypted, row.golden) << row.name;

    const prv_fields fields = decode_prv_body(row.golden);
    EXPECT_EQ(fields.prv_type, row.prv_type) << row.name;
    EXPECT_EQ(fields.data_len, row.data.size()) << row.name;
    EXPECT_EQ(fields.pid, row.pid) << row.name;
    const auto data = app_data_bytes(row.golden, fields);
    ASSERT_TRUE(data.has_value()) << row.name;
    EXPECT_TRUE(std::equal(data->begin(), data->end(), row.data.begin(), row.data.end())) << row.name;
  }
  EXPECT_EQ(terminate_digest(rows[2].golden), digest);
}

field_values datagram_fields(std::span<const std::uint8_t> bytes) {
  const auto rx = area_of<receive_size>(bytes);
  const as_req_fields req = decode_as_req(rx);
  return {value(decode_type(rx)), value(req.client_id), value(req.server_id)};
}

field_values as_rep_body_fields(std::span<const std::uint8_t> bytes) {
  const as_rep_fields f = decode_as_rep_body(area_of<as_rep_body_area>(bytes));
  return {value(f.session_key), value(f.server_id),  value(f.timestamp),
          value(f.lifetime),    value(f.ticket_len), value(f.ticket)};
}

field_values ticket_body_fields(std::span<const std::uint8_t> bytes) {
  const ticket_fields f = decode_ticket_body(area_of<ticket_area_len>(bytes));
  return {value(f.session_key), value(f.client_id), value(f.client_addr), value(f.timestamp), value(f.lifetime)};
}

field_values authenticator_fields_of(std::span<const std::uint8_t> bytes) {
  const authenticator_fields f = decode_authenticator(area_of<authenticator_size>(bytes));
  return {value(f.client_id), value(f.client_addr), value(f.nonce)};
}

field_values prv_body_fields(std::span<const std::uint8_t> bytes) {
  const auto body = area_of<prv_body_size>(bytes);
  const prv_fields f = decode_prv_body(body);
  return {value(f.prv_type), value(f.data_len), value(f.pid), value(terminate_digest(body))};
}

TEST(TicketCodec, DecodersReadEachFieldAtItsOffsetOnly) {
  struct Field {
    std::size_t at;
    std::size_t len;
  };
  struct Row {
    const char* name;
    std::size_t size;
    testing_support::field_view decode;
    std::vector<Field> fields;      // in the order decode returns them
    std::vector<std::size_t> free;  // bytes no field owns
  };
  const Row rows[] = {
      {"datagram, AS_REQ",
       receive_size,
       datagram_fields,
       {{type_at, 2}, {as_req_client_id_at, id_len}, {as_req_server_id_at, id_len}},
       {as_req_size - 1, as_req_size}},
      {"as_rep_body",
       as_rep_body_area,
       as_rep_body_fields,
       {{rep_session_key_at, key_len},
        {rep_server_id_at, id_len},
        {rep_timestamp_at, 4},
        {rep_lifetime_at, 2},
        {rep_ticket_len_at, 2},
        {rep_ticket_at, ticket_area_len}},
       {rep_lifetime_at + 2, rep_ticket_at - 1, as_rep_body_area - 1}},
      {"ticket_body",
       ticket_area_len,
       ticket_body_fields,
       {{tkt_session_key_at, key_len},
        {tkt_client_id_at, id_len},
        {tkt_client_addr_at, addr_len},
        {tkt_timestamp_at, 4},
        {tkt_lifetime_at, 2}},
       {tkt_client_addr_at + addr_len, tkt_timestamp_at - 1, tkt_lifetime_at + 2, ticket_area_len - 1}},
      {"authenticator",
       authenticator_size,
       authenticator_fields_of,
       {{auth_client_id_at, id_len}, {auth_client_addr_at, addr_len}, {auth_nonce_at, 4}},
       {}},
      {"prv_body",
       prv_body_size,
       prv_body_fields,
       {{prv_type_at, 2}, {prv_data_len_at, 2}, {prv_pid_at, 2}, {prv_data_at, digest_len}},
       {prv_data_at + digest_len, prv_body_size - 1}},
  };
  for (const Row& row : rows) {
    const std::vector<std::uint8_t> area = leftover_bytes(row.size);
    ASSERT_EQ(row.decode(area).size(), row.fields.size()) << row.name;
    for (std::size_t f = 0; f < row.fields.size(); ++f) {
      const Field& field = row.fields[f];
      for (const std::size_t at : {field.at, field.at + field.len - 1})
        EXPECT_EQ(fields_changed_at(area, at, row.decode), std::vector<std::size_t>{f}) << row.name << ", byte " << at;
    }
    for (const std::size_t at : row.free)
      EXPECT_EQ(fields_changed_at(area, at, row.decode), std::vector<std::size_t>{})
          << row.name << ", free byte " << at;
  }
}

TEST(TicketCodec, ZeroLengthsDecryptNothingAndLeaveZeros) {
  // A datagram of its type alone: every length reads 0 from the zeroed
  // buffer, nothing is decrypted, and every area reads as zeros, which no
  // key schedule accepts.
  receive_buffer rx{};
  put_u16_net(rx, type_at, AS_REP);
  auto body = junk_filled<as_rep_body_area>();
  ASSERT_TRUE(decrypt_as_rep(rx, client_key, body));
  EXPECT_TRUE(all_zero(body));
  key_schedule refused{};
  EXPECT_EQ(make_key_schedule(decode_as_rep_body(body).session_key, refused), -1);

  put_u16_net(rx, type_at, AP_REQ);
  auto ticket_area = junk_filled<ticket_area_len>();
  ASSERT_TRUE(decrypt_ticket(rx, server_key, ticket_area));
  EXPECT_TRUE(all_zero(ticket_area));
}

using Decrypt = bool (*)(const receive_buffer&);

struct LengthRow {
  const char* what;
  std::size_t length_at;
  std::uint16_t largest_accepted;
  Decrypt decrypt;
};

TEST(TicketCodec, LengthFieldsAreRefusedBeyondTheAreaTheyFill) {
  const LengthRow rows[] = {
      {"AS_REP length", as_rep_length_at, 168,
       [](const receive_buffer& rx) {
         std::array<std::uint8_t, as_rep_body_area> area;
         return decrypt_as_rep(rx, client_key, area);
       }},
      {"ticket_len", ap_req_ticket_len_at, 104,
       [](const receive_buffer& rx) {
         std::array<std::uint8_t, ticket_area_len> area;
         return decrypt_ticket(rx, server_key, area);
       }},
      {"auth_len", ap_req_auth_len_at, 48,
       [](const receive_buffer& rx) {
         std::array<std::uint8_t, authenticator_size> area;
         return decrypt_authenticator(rx, session_key, area);
       }},
      {"AP_REP length", ap_rep_length_at, 32,
       [](const receive_buffer& rx) {
         std::array<std::uint8_t, nonce_reply_area> area;
         return decrypt_ap_rep(rx, session_key, area);
       }},
      {"KRB_PRV length", krb_prv_length_at, 978,
       [](const receive_buffer& rx) {
         std::array<std::uint8_t, prv_body_size> area;
         return decrypt_krb_prv(rx, session_key, area);
       }},
  };
  for (const auto& row : rows) {
    for (const std::uint32_t length : {std::uint32_t{row.largest_accepted}, row.largest_accepted + 1u, 65535u}) {
      receive_buffer rx{};
      put_u16_net(rx, row.length_at, static_cast<std::uint16_t>(length));
      EXPECT_EQ(row.decrypt(rx), length == row.largest_accepted) << row.what << " " << length;
    }
  }
}

TEST(TicketCodec, DataBeyondTheDataAreaIsRefused) {
  // Encoding: 972 bytes fit, 973 do not, and a refusal leaves zeros.
  auto body = junk_filled<prv_body_size>();
  ASSERT_TRUE(encode_prv_body(body, APP_DATA, 1, std::vector<std::uint8_t>(prv_data_area, 0x55)));
  EXPECT_EQ(decode_prv_body(body).data_len, prv_data_area);
  EXPECT_FALSE(encode_prv_body(body, APP_DATA, 1, std::vector<std::uint8_t>(prv_data_area + 1, 0x55)));
  EXPECT_TRUE(all_zero(body));

  // Decoding: a data_len read from the wire is checked against the area.
  for (const std::uint16_t data_len : {0, 972, 973, 65535}) {
    encode_prv_header(body, {APP_DATA, data_len, 1});
    const auto bytes = app_data_bytes(body, decode_prv_body(body));
    EXPECT_EQ(bytes.has_value(), data_len <= prv_data_area) << data_len;
    if (bytes) {
      EXPECT_EQ(bytes->size(), data_len);
    }
  }
}

TEST(Validity, WrapsModulo2To32AndEqualityIsExpired) {
  EXPECT_EQ(validity(0xFFFFFFF0u, 0x20), 0x10u);
  const std::uint32_t end = validity(0xFFFFFFF0u, 0x20);
  EXPECT_TRUE(still_valid(end - 1, end));
  EXPECT_FALSE(still_valid(end, end));
  EXPECT_FALSE(still_valid(end + 1, end));
}

}  // namespace
}  // namespace ticket
