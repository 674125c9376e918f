#include "tests/support/ticket_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "common/bytes.h"
#include "tests/support/junk.h"
#include "ticket/nonce.h"

namespace testing_support {

using namespace ticket;

id_field id_of(const std::string& text) {
  id_field id{};
  EXPECT_TRUE(make_id(text.c_str(), id)) << text;
  return id;
}

receive_buffer rx_of(std::span<const std::uint8_t> datagram) {
  receive_buffer rx{};
  std::copy_n(datagram.begin(), std::min(datagram.size(), rx.size()), rx.begin());
  return rx;
}

bytes type_only(std::uint16_t type, std::size_t size) {
  bytes out(size);
  put_u16_net(out, type_at, type);
  return out;
}

bytes as_req(const std::string& client_id, const std::string& server_id) {
  std::array<std::uint8_t, as_req_size> out{};
  encode_as_req(out, id_of(client_id), id_of(server_id));
  return {out.begin(), out.end()};
}

as_rep_fields good_as_rep(const des_key& session) {
  as_rep_fields rep{session, id_of("srv"), clock_now(), 300, ticket_area_len, {}};
  for (std::size_t i = 0; i < rep.ticket.size(); ++i) rep.ticket[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return rep;
}

bytes as_rep(const as_rep_fields& fields, std::optional<std::uint16_t> length) {
  std::array<std::uint8_t, as_rep_size> out{};
  encode_as_rep(out, schedule_of(client_key_text), fields);
  if (length) put_u16_net(out, as_rep_length_at, *length);
  return {out.begin(), out.end()};
}

bytes ap_req(const ApRequest& request) {
  std::array<std::uint8_t, ticket_area_len> ticket_area{};
  const ticket_fields issued{request.session_key, id_of(request.ticket_id), request.ticket_addr, request.timestamp,
                             request.lifetime};
  make_ticket(ticket_area, schedule_of(server_key_text), issued);
  std::array<std::uint8_t, authenticator_size> authenticator{};
  encode_authenticator(authenticator, {id_of(request.auth_id), request.auth_addr, request.nonce});
  // A refused session key is a fault the test injects: the server must find
  // it in the ticket, so its schedule is used all the same.
  key_schedule session{};
  make_key_schedule(request.session_key, session);
  std::array<std::uint8_t, ap_req_size> out{};
  EXPECT_TRUE(encode_ap_req(out, ticket_area_len, ticket_area, session, authenticator));
  return {out.begin(), out.end()};
}

bytes ap_rep(const des_key& session, std::uint32_t nonce, std::optional<std::uint16_t> length) {
  std::array<std::uint8_t, ap_rep_size> out{};
  encode_ap_rep(out, schedule_of(session), nonce);
  if (length) put_u16_net(out, ap_rep_length_at, *length);
  return {out.begin(), out.end()};
}

bytes krb_prv(const des_key& session, const Record& record) {
  std::array<std::uint8_t, prv_body_size> body{};
  EXPECT_TRUE(encode_prv_body(body, record.prv_type, record.pid, record.data));
  if (record.data_len) put_u16_net(body, prv_data_len_at, *record.data_len);
  std::array<std::uint8_t, krb_prv_size> out{};
  encode_krb_prv(out, schedule_of(session), body);
  if (record.length) put_u16_net(out, krb_prv_length_at, *record.length);
  return {out.begin(), out.end()};
}

bytes file_request(const des_key& session) { return krb_prv(session, {.prv_type = APP_DATA_REQ}); }

bytes app_terminate(const des_key& session, const bytes& content) {
  const sha1_digest digest = digest_of(content);
  return krb_prv(session, {.prv_type = APP_TERMINATE, .data = {digest.begin(), digest.end()}});
}

std::optional<as_rep_fields> open_as_rep(const receive_buffer& rx) {
  std::array<std::uint8_t, as_rep_body_area> body{};
  if (!decrypt_as_rep(rx, schedule_of(client_key_text), body)) return std::nullopt;
  return decode_as_rep_body(body);
}

std::optional<ticket_fields> open_ticket(const as_rep_fields& rep) {
  std::array<std::uint8_t, ticket_area_len> area{};
  if (!decrypt_part(schedule_of(server_key_text), rep.ticket, rep.ticket_len, area)) return std::nullopt;
  return decode_ticket_body(area);
}

void expect_ap_rep(const UdpPeer& client, std::uint16_t port, std::span<const std::uint8_t> request,
                   std::uint32_t nonce, const des_key& session) {
  client.send_to(port, request);
  const auto answer = client.receive();
  ASSERT_TRUE(answer.has_value()) << "no AP_REP";
  const receive_buffer rx = rx_of(answer->bytes);
  ASSERT_EQ(decode_type(rx), AP_REP);
  std::array<std::uint8_t, nonce_reply_area> area{};
  ASSERT_TRUE(decrypt_ap_rep(rx, schedule_of(session), area));
  EXPECT_EQ(decode_nonce_reply(area), nonce + 1);
}

Delivery collect_delivery(const UdpPeer& peer, const des_key& session) {
  Delivery delivery;
  const key_schedule schedule = schedule_of(session);
  std::array<std::uint8_t, prv_body_size> body{};
  while (const auto datagram = peer.receive(10s)) {
    delivery.datagram_sizes.push_back(datagram->bytes.size());
    const receive_buffer rx = rx_of(datagram->bytes);
    EXPECT_EQ(decode_type(rx), KRB_PRV);
    EXPECT_EQ(get_u16_net(rx, krb_prv_length_at), prv_body_size);
    if (!decrypt_krb_prv(rx, schedule, body)) break;
    const prv_fields fields = decode_prv_body(body);
    const auto data = std::span(body).subspan(prv_data_at);
    if (fields.prv_type == APP_TERMINATE) {
      delivery.terminate = fields;
      delivery.digest = terminate_digest(body);
      EXPECT_TRUE(all_zero(data.subspan(digest_len))) << "after the digest";
      break;
    }
    EXPECT_EQ(fields.prv_type, APP_DATA);
    const auto data_bytes = app_data_bytes(body, fields);
    if (!data_bytes) break;
    delivery.pids.push_back(fields.pid);
    delivery.file.insert(delivery.file.end(), data_bytes->begin(), data_bytes->end());
    EXPECT_TRUE(all_zero(data.subspan(fields.data_len))) << "after the data of pid " << fields.pid;
  }
  return delivery;
}

void expect_delivery_of(const Delivery& delivery, const bytes& file) {
  const std::size_t records = file.size() / prv_data_area + 1;
  std::vector<std::uint16_t> pids(records);
  for (std::size_t i = 0; i < records; ++i) pids[i] = static_cast<std::uint16_t>(i + 1);
  EXPECT_EQ(delivery.pids, pids);
  EXPECT_EQ(delivery.file, file);
  EXPECT_EQ(delivery.datagram_sizes, std::vector<std::size_t>(records + 1, krb_prv_size));
  ASSERT_TRUE(delivery.terminate);
  EXPECT_EQ(delivery.terminate->pid, 0);
  EXPECT_EQ(delivery.terminate->data_len, digest_len);
  EXPECT_EQ(delivery.digest, digest_of(file));
}

Datagram ClientPeers::expect_as_req() {
  auto request = as.receive();
  EXPECT_TRUE(request.has_value()) << "no AS_REQ";
  return request.value_or(Datagram{});
}

void ClientPeers::answer_as(std::span<const std::uint8_t> answer) {
  const auto request = as.receive();
  ASSERT_TRUE(request.has_value()) << "no AS_REQ";
  as.send_to(request->from, answer);
}

authenticator_fields ClientPeers::expect_ap_req() {
  const auto request = app.receive();
  EXPECT_TRUE(request.has_value()) << "no AP_REQ";
  if (!request) return {};
  client_app_addr = request->from;
  std::array<std::uint8_t, authenticator_size> area{};
  EXPECT_TRUE(decrypt_authenticator(rx_of(request->bytes), schedule_of(session_key), area));
  return decode_authenticator(area);
}

void ClientPeers::send_app(std::span<const std::uint8_t> datagram) const { app.send_to(client_app_addr, datagram); }

void ClientPeers::answer_ap(std::uint32_t nonce) const { send_app(ap_rep(session_key, nonce)); }

void ClientPeers::expect_data_request() const {
  const auto request = app.receive();
  ASSERT_TRUE(request.has_value()) << "no APP_DATA_REQ";
  EXPECT_EQ(request->bytes.size(), krb_prv_size);
  const receive_buffer rx = rx_of(request->bytes);
  EXPECT_EQ(decode_type(rx), KRB_PRV);
  EXPECT_EQ(get_u16_net(rx, krb_prv_length_at), prv_body_size);
  std::array<std::uint8_t, prv_body_size> body{};
  ASSERT_TRUE(decrypt_krb_prv(rx, schedule_of(session_key), body));
  const prv_fields fields = decode_prv_body(body);
  EXPECT_EQ(fields.prv_type, APP_DATA_REQ);
  EXPECT_EQ(fields.data_len, 0);
  EXPECT_EQ(fields.pid, 0);
  EXPECT_TRUE(all_zero(std::span(body).subspan(prv_data_at)));
}

std::uint32_t ClientPeers::reach_ap_req(const as_rep_fields& rep) {
  answer_as(as_rep(rep));
  return expect_ap_req().nonce;
}

std::uint32_t ClientPeers::reach_transfer(const as_rep_fields& rep) {
  const std::uint32_t nonce = reach_ap_req(rep);
  answer_ap(nonce);
  expect_data_request();
  return nonce;
}

void wait_for_second(std::uint32_t t) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (clock_now() < t && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
}

}  // namespace testing_support
