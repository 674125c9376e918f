#include "ticket/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "ticket/validity.h"

namespace {

using namespace ticket;

key_schedule schedule_of(const char* key_text) {
  des_key key{};
  to_hex(key_text, key);
  key_schedule schedule{};
  EXPECT_EQ(make_key_schedule(key, schedule), 0);
  return schedule;
}

id_field id_of(const char* text) {
  id_field field{};
  EXPECT_TRUE(make_id(text, field));
  return field;
}

template <std::size_t N>
receive_buffer received_from(const std::array<std::uint8_t, N>& datagram) {
  receive_buffer rx{};
  std::copy(datagram.begin(), datagram.end(), rx.begin());
  return rx;
}

// Checks that every byte outside the listed [from, to) runs is zero.
template <std::size_t N>
void expect_zero_outside(const std::array<std::uint8_t, N>& bytes, std::vector<std::pair<std::size_t, std::size_t>> owned) {
  for (std::size_t i = 0; i < N; ++i) {
    const bool is_owned = std::any_of(owned.begin(), owned.end(), [i](auto run) { return i >= run.first && i < run.second; });
    if (!is_owned) {
      EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
}

const auto client_key = schedule_of("133457799BBCDFF1");
const auto server_key = schedule_of("0E329232EA6D0D73");
const auto session_key = schedule_of("1C587F1C13924FEF");

TEST(MakeId, FillsUpToFortyBytesAndRefusesMore) {
  id_field field;
  field.fill(0xAA);
  ASSERT_TRUE(make_id("alice", field));
  EXPECT_EQ(std::string(field.begin(), field.begin() + 5), "alice");
  expect_zero_outside(field, {{0, 5}});

  const std::string forty(40, 'c');
  ASSERT_TRUE(make_id(forty.c_str(), field));
  EXPECT_EQ(std::string(field.begin(), field.end()), forty);  // no terminating zero

  EXPECT_FALSE(make_id((forty + "x").c_str(), field));
  expect_zero_outside(field, {});
}

TEST(AsReq, LaysOutTwoIdentifiers) {
  std::array<std::uint8_t, as_req_size> out;
  out.fill(0xAA);
  encode_as_req(out, id_of("alice"), id_of("srvr1"));
  EXPECT_EQ(out.size(), 88u);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0x01);
  EXPECT_EQ(std::string(out.begin() + 2, out.begin() + 7), "alice");
  EXPECT_EQ(std::string(out.begin() + 42, out.begin() + 47), "srvr1");
  expect_zero_outside(out, {{1, 2}, {2, 7}, {42, 47}});

  const auto fields = decode_as_req(received_from(out));
  EXPECT_EQ(fields.client_id, id_of("alice"));
  EXPECT_EQ(fields.server_id, id_of("srvr1"));
}

as_rep_fields sample_as_rep() {
  as_rep_fields fields{};
  to_hex("1C587F1C13924FEF", fields.session_key);
  fields.server_id = id_of("fileserver");
  fields.timestamp = 0x11223344;
  fields.lifetime = 300;
  fields.ticket_len = 104;
  for (std::size_t i = 0; i < fields.ticket.size(); ++i) fields.ticket[i] = static_cast<std::uint8_t>(0x80 + i);
  return fields;
}

TEST(AsRep, BodyFieldsSitAtTheirOffsetsInTheirByteOrder) {
  std::array<std::uint8_t, as_rep_body_area> body;
  body.fill(0xAA);
  encode_as_rep_body(body, sample_as_rep());
  EXPECT_EQ(body[0], 0x1C);
  EXPECT_EQ(body[7], 0xEF);
  EXPECT_EQ(std::string(body.begin() + 8, body.begin() + 18), "fileserver");
  // timestamp u32 le at 48, lifetime u16 net at 52, ticket_len u16 net at 56.
  EXPECT_EQ((std::vector<std::uint8_t>(body.begin() + 48, body.begin() + 60)),
            (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0x01, 0x2C, 0, 0, 0x00, 0x68, 0, 0}));
  EXPECT_EQ(body[60], 0x80);
  EXPECT_EQ(body[163], static_cast<std::uint8_t>(0x80 + 103));
  expect_zero_outside(body, {{0, 18}, {48, 54}, {57, 58}, {60, 164}});
}

TEST(AsRep, RoundTripsThroughTheReceiveBuffer) {
  std::array<std::uint8_t, as_rep_size> out;
  out.fill(0xAA);
  encode_as_rep(out, client_key, sample_as_rep());
  EXPECT_EQ(get_u16_net(out, type_at), AS_REP);
  EXPECT_EQ(get_u16_net(out, as_rep_length_at), 164);

  std::array<std::uint8_t, as_rep_body_area> body;
  body.fill(0xAA);
  ASSERT_TRUE(decrypt_as_rep(received_from(out), client_key, body));
  const auto fields = decode_as_rep_body(body);
  const auto expected = sample_as_rep();
  EXPECT_EQ(fields.session_key, expected.session_key);
  EXPECT_EQ(fields.server_id, expected.server_id);
  EXPECT_EQ(fields.timestamp, expected.timestamp);
  EXPECT_EQ(fields.lifetime, expected.lifetime);
  EXPECT_EQ(fields.ticket_len, expected.ticket_len);
  EXPECT_EQ(fields.ticket, expected.ticket);
  // Bytes 164..167 were not decrypted and stay as zero-filled.
  expect_zero_outside(body, {{0, 164}});
}

TEST(AsRep, ZeroLengthLeavesAnAllZeroBody) {
  receive_buffer rx{};
  put_u16_net(rx, type_at, AS_REP);
  std::array<std::uint8_t, as_rep_body_area> body;
  body.fill(0xAA);
  ASSERT_TRUE(decrypt_as_rep(rx, client_key, body));
  expect_zero_outside(body, {});
  key_schedule refused{};
  EXPECT_EQ(make_key_schedule(decode_as_rep_body(body).session_key, refused), -1);
}

ticket_fields sample_ticket() {
  ticket_fields fields{};
  to_hex("1C587F1C13924FEF", fields.session_key);
  fields.client_id = id_of("alice");
  fields.client_addr = {127, 0, 0, 1};
  fields.timestamp = 1700000000;
  fields.lifetime = 0xABCD;
  return fields;
}

TEST(TicketBody, FieldsSitAtTheirOffsets) {
  std::array<std::uint8_t, ticket_body_size> body;
  body.fill(0xAA);
  encode_ticket_body(body, sample_ticket());
  EXPECT_EQ(std::string(body.begin() + 8, body.begin() + 13), "alice");
  EXPECT_EQ((std::vector<std::uint8_t>(body.begin() + 48, body.begin() + 52)), (std::vector<std::uint8_t>{127, 0, 0, 1}));
  EXPECT_EQ(get_u32_le(body, 92), 1700000000u);
  EXPECT_EQ(body[92], 0x00);  // 1700000000 = 0x6553F100, least significant first
  EXPECT_EQ(body[93], 0xF1);
  EXPECT_EQ(body[96], 0xAB);
  EXPECT_EQ(body[97], 0xCD);
  expect_zero_outside(body, {{0, 13}, {48, 52}, {92, 98}});
}

authenticator_fields sample_authenticator() { return {id_of("alice"), {127, 0, 0, 1}, 0x01020304}; }

TEST(ApReq, CarriesTicketAndAuthenticatorForTheServer) {
  std::array<std::uint8_t, ticket_area_len> ticket;
  make_ticket(ticket, server_key, sample_ticket());
  std::array<std::uint8_t, authenticator_size> authenticator;
  authenticator.fill(0xAA);
  encode_authenticator(authenticator, sample_authenticator());
  EXPECT_EQ(authenticator[40], 127);
  EXPECT_EQ(authenticator[43], 1);
  EXPECT_EQ(authenticator[44], 0x04);  // nonce u32 le
  EXPECT_EQ(authenticator[47], 0x01);
  expect_zero_outside(authenticator, {{0, 5}, {40, 48}});

  std::array<std::uint8_t, ap_req_size> out;
  out.fill(0xAA);
  ASSERT_TRUE(encode_ap_req(out, ticket_area_len, ticket, session_key, authenticator));
  EXPECT_EQ(out.size(), 158u);
  EXPECT_EQ((std::vector<std::uint8_t>(out.begin(), out.begin() + 6)), (std::vector<std::uint8_t>{0, 4, 0, 104, 0, 48}));

  const auto rx = received_from(out);
  std::array<std::uint8_t, ticket_area_len> ticket_area;
  ASSERT_TRUE(decrypt_ticket(rx, server_key, ticket_area));
  const auto tkt = decode_ticket_body(ticket_area);
  EXPECT_EQ(tkt.session_key, sample_ticket().session_key);
  EXPECT_EQ(tkt.client_id, sample_ticket().client_id);
  EXPECT_EQ(tkt.client_addr, sample_ticket().client_addr);
  EXPECT_EQ(tkt.timestamp, sample_ticket().timestamp);
  EXPECT_EQ(tkt.lifetime, sample_ticket().lifetime);

  std::array<std::uint8_t, authenticator_size> auth_area;
  ASSERT_TRUE(decrypt_authenticator(rx, session_key, auth_area));
  const auto auth = decode_authenticator(auth_area);
  EXPECT_EQ(auth.client_id, id_of("alice"));
  EXPECT_EQ(auth.client_addr, (ipv4_addr{127, 0, 0, 1}));
  EXPECT_EQ(auth.nonce, 0x01020304u);
}

TEST(ApReq, CopiesOnlyTicketLenTicketBytes) {
  std::array<std::uint8_t, ticket_area_len> ticket;
  ticket.fill(0x77);
  std::array<std::uint8_t, authenticator_size> authenticator{};
  std::array<std::uint8_t, ap_req_size> out;
  ASSERT_TRUE(encode_ap_req(out, 100, ticket, session_key, authenticator));
  EXPECT_EQ(out[ap_req_ticket_at + 99], 0x77);
  for (std::size_t i = ap_req_ticket_at + 100; i < ap_req_authenticator_at; ++i) EXPECT_EQ(out[i], 0) << i;
  EXPECT_FALSE(encode_ap_req(out, 105, ticket, session_key, authenticator));
}

TEST(ApRep, MatchesAReferenceCiphertextForATenDigitReply) {
  const auto key = schedule_of("133457799BBCDFF1");
  std::array<std::uint8_t, ap_rep_size> out;
  out.fill(0xAA);
  encode_ap_rep(out, key, 1700000000u);
  // openssl enc -des-cbc -nopad -K 133457799BBCDFF1 -iv 5A3C96E10F78B42D of
  // "1700000001" and six zero bytes.
  const std::array<std::uint8_t, ap_rep_size> expected = {
      0x00, 0x05, 0x00, 0x0E,                          // type 5, length 14
      0xa4, 0x48, 0x97, 0x3d, 0xdc, 0xc7, 0xc4, 0xe7,  // 4: ciphertext
      0x5a, 0x14, 0x4b, 0x95, 0x16, 0x2a, 0xff, 0xaf,  //
      0x00, 0x00, 0x00, 0x00};                         // 20: zero tail
  EXPECT_EQ(out, expected);

  std::array<std::uint8_t, nonce_reply_area> reply;
  reply.fill(0xAA);
  ASSERT_TRUE(decrypt_ap_rep(received_from(out), key, reply));
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 10), "1700000001");
  expect_zero_outside(reply, {{0, 10}});
}

TEST(ApRep, NegativeReplyHasLengthFifteen) {
  std::array<std::uint8_t, ap_rep_size> out;
  encode_ap_rep(out, session_key, 2147483647u);
  EXPECT_EQ(get_u16_net(out, ap_rep_length_at), 15);
  std::array<std::uint8_t, nonce_reply_area> reply;
  ASSERT_TRUE(decrypt_ap_rep(received_from(out), session_key, reply));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "-2147483648");
  for (std::size_t i = 20; i < ap_rep_size; ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST(ApErr, CarriesTheClientIdOrZeros) {
  std::array<std::uint8_t, ap_err_size> out;
  out.fill(0xAA);
  encode_ap_err(out, id_of("alice"));
  EXPECT_EQ(out[1], 6);
  EXPECT_EQ(std::string(out.begin() + 2, out.begin() + 7), "alice");
  expect_zero_outside(out, {{1, 2}, {2, 7}});
  encode_ap_err(out, id_field{});
  expect_zero_outside(out, {{1, 2}});
}

TEST(KrbPrv, EnvelopeIs988BytesAndRoundTrips) {
  std::array<std::uint8_t, prv_body_size> body;
  body.fill(0xAA);
  std::vector<std::uint8_t> data(972);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(encode_prv_body(body, APP_DATA, 65535, data));
  EXPECT_EQ((std::vector<std::uint8_t>(body.begin(), body.begin() + 6)),
            (std::vector<std::uint8_t>{0, 15, 0x03, 0xCC, 0xFF, 0xFF}));

  std::array<std::uint8_t, krb_prv_size> out;
  out.fill(0xAA);
  encode_krb_prv(out, session_key, body);
  EXPECT_EQ(out.size(), 988u);
  EXPECT_EQ((std::vector<std::uint8_t>(out.begin(), out.begin() + 4)), (std::vector<std::uint8_t>{0, 7, 0x03, 0xD2}));

  std::array<std::uint8_t, prv_body_size> back;
  ASSERT_TRUE(decrypt_krb_prv(received_from(out), session_key, back));
  EXPECT_EQ(back, body);
  const auto fields = decode_prv_body(back);
  EXPECT_EQ(fields.prv_type, APP_DATA);
  EXPECT_EQ(fields.data_len, 972);
  EXPECT_EQ(fields.pid, 65535);
  const auto bytes = app_data_bytes(back, fields);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(), data.begin(), data.end()));
}

TEST(KrbPrv, TerminateCarriesTheDigestAndZeros) {
  sha1_digest digest;
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(0xC0 + i);
  std::array<std::uint8_t, prv_body_size> body;
  body.fill(0xAA);
  ASSERT_TRUE(encode_prv_body(body, APP_TERMINATE, 0, digest));
  EXPECT_EQ(terminate_digest(body), digest);
  expect_zero_outside(body, {{1, 2}, {3, 4}, {6, 26}});
  EXPECT_FALSE(encode_prv_body(body, APP_DATA, 1, std::vector<std::uint8_t>(973)));
}

TEST(PrvBody, EachFieldDecodesFromItsOwnOffset) {
  // Changing the byte at one field's offset changes that field only.
  std::array<std::uint8_t, prv_body_size> body{};
  encode_prv_header(body, {APP_DATA, 10, 7});
  const auto base = decode_prv_body(body);
  for (const std::size_t at : {prv_type_at + 1, prv_data_len_at + 1, prv_pid_at + 1}) {
    auto changed = body;
    ++changed[at];
    const auto fields = decode_prv_body(changed);
    EXPECT_EQ(fields.prv_type != base.prv_type, at == prv_type_at + 1) << at;
    EXPECT_EQ(fields.data_len != base.data_len, at == prv_data_len_at + 1) << at;
    EXPECT_EQ(fields.pid != base.pid, at == prv_pid_at + 1) << at;
  }
}

TEST(ShortDatagram, MissingBytesReadAsZero) {
  // A 2-byte AP_REQ: the lengths read 0, so nothing is decrypted.
  receive_buffer rx{};
  put_u16_net(rx, type_at, AP_REQ);
  std::array<std::uint8_t, ticket_area_len> ticket_area;
  ticket_area.fill(0xAA);
  ASSERT_TRUE(decrypt_ticket(rx, server_key, ticket_area));
  expect_zero_outside(ticket_area, {});
  EXPECT_EQ(decode_ticket_body(ticket_area).session_key, des_key{});
}

using Decrypt = bool (*)(const receive_buffer&);

struct LengthRow {
  const char* what;
  std::size_t length_at;
  std::uint16_t largest_accepted;
  Decrypt decrypt;
};

TEST(LengthFields, AreRefusedBeyondTheAreaTheyFill) {
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

TEST(AppData, DataLenBeyondTheDataAreaIsRefused) {
  std::array<std::uint8_t, prv_body_size> body{};
  for (const std::uint16_t data_len : {0, 972, 973, 65535}) {
    encode_prv_header(body, {APP_DATA, data_len, 1});
    const auto bytes = app_data_bytes(body, decode_prv_body(body));
    EXPECT_EQ(bytes.has_value(), data_len <= 972) << data_len;
    if (bytes) {
      EXPECT_EQ(bytes->size(), data_len);
    }
  }
}

TEST(Validity, WrapsModulo2To32AndEqualityIsExpired) {
  EXPECT_EQ(validity(0xFFFFFFF0u, 0x20), 0x10u);
  EXPECT_EQ(validity(1700000000u, 300), 1700000300u);
  const std::uint32_t end = validity(1700000000u, 300);
  EXPECT_TRUE(still_valid(end - 1, end));
  EXPECT_FALSE(still_valid(end, end));
  EXPECT_FALSE(still_valid(end + 1, end));
}

}  // namespace
