#include "ticket/codec.h"

#include <cstring>

#include "common/bytes.h"
#include "ticket/nonce.h"

namespace ticket {

namespace {

// The ciphertext of a received datagram from offset at to the end of the
// receive buffer: decrypt_part refuses any count that would read beyond it.
std::span<const std::uint8_t> cipher_from(received rx, std::size_t at) { return rx.subspan(at); }

}  // namespace

bool make_id(const char* text, id_field& field) {
  field.fill(0);
  const std::size_t len = std::strlen(text);
  if (len > field.size()) return false;
  std::memcpy(field.data(), text, len);
  return true;
}

const char* id_text(const id_field& id) { return reinterpret_cast<const char*>(id.data()); }

std::uint16_t decode_type(received rx) { return get_u16_net(rx, type_at); }

void encode_as_req(std::span<std::uint8_t, as_req_size> out, const id_field& client_id, const id_field& server_id) {
  zero(out);
  put_u16_net(out, type_at, AS_REQ);
  put_bytes(out, as_req_client_id_at, client_id);
  put_bytes(out, as_req_server_id_at, server_id);
}

as_req_fields decode_as_req(received rx) {
  return {get_array<id_len>(rx, as_req_client_id_at), get_array<id_len>(rx, as_req_server_id_at)};
}

void encode_as_rep_body(std::span<std::uint8_t, as_rep_body_area> body, const as_rep_fields& fields) {
  zero(body);
  put_bytes(body, rep_session_key_at, fields.session_key);
  put_bytes(body, rep_server_id_at, fields.server_id);
  put_u32_le(body, rep_timestamp_at, fields.timestamp);
  put_u16_net(body, rep_lifetime_at, fields.lifetime);
  put_u16_net(body, rep_ticket_len_at, fields.ticket_len);
  put_bytes(body, rep_ticket_at, fields.ticket);
}

void encode_as_rep(std::span<std::uint8_t, as_rep_size> out, const key_schedule& client_key,
                   const as_rep_fields& fields) {
  zero(out);
  std::array<std::uint8_t, as_rep_body_area> body;
  encode_as_rep_body(body, fields);
  put_u16_net(out, type_at, AS_REP);
  put_u16_net(out, as_rep_length_at, as_rep_body_size);
  encrypt_part(client_key, std::span(body).first<as_rep_body_size>(), out.subspan<as_rep_cipher_at>());
}

void encode_as_err(std::span<std::uint8_t, as_err_size> out) {
  zero(out);
  put_u16_net(out, type_at, AS_ERR);
}

bool decrypt_as_rep(received rx, const key_schedule& client_key, std::span<std::uint8_t, as_rep_body_area> body) {
  zero(body);
  return decrypt_part(client_key, cipher_from(rx, as_rep_cipher_at), get_u16_net(rx, as_rep_length_at), body);
}

as_rep_fields decode_as_rep_body(std::span<const std::uint8_t, as_rep_body_area> body) {
  return {get_array<key_len>(body, rep_session_key_at), get_array<id_len>(body, rep_server_id_at),
          get_u32_le(body, rep_timestamp_at),           get_u16_net(body, rep_lifetime_at),
          get_u16_net(body, rep_ticket_len_at),         get_array<ticket_area_len>(body, rep_ticket_at)};
}

void encode_ticket_body(std::span<std::uint8_t, ticket_body_size> body, const ticket_fields& fields) {
  zero(body);
  put_bytes(body, tkt_session_key_at, fields.session_key);
  put_bytes(body, tkt_client_id_at, fields.client_id);
  put_bytes(body, tkt_client_addr_at, fields.client_addr);
  put_u32_le(body, tkt_timestamp_at, fields.timestamp);
  put_u16_net(body, tkt_lifetime_at, fields.lifetime);
}

void make_ticket(std::span<std::uint8_t, ticket_area_len> out, const key_schedule& server_key,
                 const ticket_fields& fields) {
  std::array<std::uint8_t, ticket_body_size> body;
  encode_ticket_body(body, fields);
  encrypt_part(server_key, body, out);
}

void encode_authenticator(std::span<std::uint8_t, authenticator_size> out, const authenticator_fields& fields) {
  zero(out);
  put_bytes(out, auth_client_id_at, fields.client_id);
  put_bytes(out, auth_client_addr_at, fields.client_addr);
  put_u32_le(out, auth_nonce_at, fields.nonce);
}

bool encode_ap_req(std::span<std::uint8_t, ap_req_size> out, std::uint16_t ticket_len,
                   std::span<const std::uint8_t, ticket_area_len> ticket, const key_schedule& session_key,
                   std::span<const std::uint8_t, authenticator_size> authenticator) {
  zero(out);
  if (ticket_len > ticket_area_len) return false;
  put_u16_net(out, type_at, AP_REQ);
  put_u16_net(out, ap_req_ticket_len_at, ticket_len);
  put_u16_net(out, ap_req_auth_len_at, authenticator_size);
  put_bytes(out, ap_req_ticket_at, ticket.first(ticket_len));
  encrypt_part(session_key, authenticator, out.subspan<ap_req_authenticator_at, authenticator_size>());
  return true;
}

bool decrypt_ticket(received rx, const key_schedule& server_key, std::span<std::uint8_t, ticket_area_len> area) {
  zero(area);
  return decrypt_part(server_key, cipher_from(rx, ap_req_ticket_at), get_u16_net(rx, ap_req_ticket_len_at), area);
}

ticket_fields decode_ticket_body(std::span<const std::uint8_t, ticket_area_len> area) {
  return {get_array<key_len>(area, tkt_session_key_at), get_array<id_len>(area, tkt_client_id_at),
          get_array<addr_len>(area, tkt_client_addr_at), get_u32_le(area, tkt_timestamp_at),
          get_u16_net(area, tkt_lifetime_at)};
}

bool decrypt_authenticator(received rx, const key_schedule& session_key,
                           std::span<std::uint8_t, authenticator_size> area) {
  zero(area);
  return decrypt_part(session_key, cipher_from(rx, ap_req_authenticator_at), get_u16_net(rx, ap_req_auth_len_at), area);
}

authenticator_fields decode_authenticator(std::span<const std::uint8_t, authenticator_size> area) {
  return {get_array<id_len>(area, auth_client_id_at), get_array<addr_len>(area, auth_client_addr_at),
          get_u32_le(area, auth_nonce_at)};
}

void encode_ap_rep(std::span<std::uint8_t, ap_rep_size> out, const key_schedule& session_key, std::uint32_t nonce) {
  zero(out);
  std::array<std::uint8_t, nonce_reply_area> text;
  const std::uint16_t reply_len = encode_nonce_reply(text, nonce);
  put_u16_net(out, type_at, AP_REP);
  put_u16_net(out, ap_rep_length_at, reply_len);
  encrypt_part(session_key, std::span(text).first(reply_len), out.subspan<ap_rep_cipher_at>());
}

bool decrypt_ap_rep(received rx, const key_schedule& session_key, std::span<std::uint8_t, nonce_reply_area> area) {
  zero(area);
  return decrypt_part(session_key, cipher_from(rx, ap_rep_cipher_at), get_u16_net(rx, ap_rep_length_at), area);
}

void encode_ap_err(std::span<std::uint8_t, ap_err_size> out, const id_field& client_id) {
  zero(out);
  put_u16_net(out, type_at, AP_ERR);
  put_bytes(out, ap_err_client_id_at, client_id);
}

void encode_prv_header(std::span<std::uint8_t, prv_body_size> body, const prv_fields& fields) {
  put_u16_net(body, prv_type_at, fields.prv_type);
  put_u16_net(body, prv_data_len_at, fields.data_len);
  put_u16_net(body, prv_pid_at, fields.pid);
}

bool encode_prv_body(std::span<std::uint8_t, prv_body_size> body, std::uint16_t prv_type, std::uint16_t pid,
                     std::span<const std::uint8_t> data) {
  zero(body);
  if (data.size() > prv_data_area) return false;
  encode_prv_header(body, {prv_type, static_cast<std::uint16_t>(data.size()), pid});
  put_bytes(body, prv_data_at, data);
  return true;
}

void encode_krb_prv(std::span<std::uint8_t, krb_prv_size> out, const key_schedule& session_key,
                    std::span<const std::uint8_t, prv_body_size> body) {
  // Only the header needs zeroing: the ciphertext covers every byte after it.
  put_u16_net(out, type_at, KRB_PRV);
  put_u16_net(out, krb_prv_length_at, prv_body_size);
  encrypt_part(session_key, body, out.subspan<krb_prv_cipher_at>());
}

bool decrypt_krb_prv(received rx, const key_schedule& session_key, std::span<std::uint8_t, prv_body_size> body) {
  zero(body);
  return decrypt_part(session_key, cipher_from(rx, krb_prv_cipher_at), get_u16_net(rx, krb_prv_length_at), body);
}

bool encode_krb_prv_batch(std::span<std::uint8_t> datagrams, const engine_key& session_key,
                          std::span<const std::uint8_t> bodies, std::size_t count) {
  if (datagrams.size() / krb_prv_size < count || bodies.size() / prv_body_size < count) return false;
  if (!encrypt_parts(session_key, prv_body_size, count, bodies, prv_body_size, datagrams.subspan(krb_prv_cipher_at),
                     krb_prv_size))
    return false;
  for (std::size_t i = 0; i < count; ++i) {
    const auto out = datagrams.subspan(i * krb_prv_size, krb_prv_size);
    put_u16_net(out, type_at, KRB_PRV);
    put_u16_net(out, krb_prv_length_at, prv_body_size);
  }
  return true;
}

bool decrypt_krb_prv(received rx, const engine_key& session_key, std::span<std::uint8_t, prv_body_size> body) {
  zero(body);
  return decrypt_part(session_key, cipher_from(rx, krb_prv_cipher_at), get_u16_net(rx, krb_prv_length_at), body);
}

prv_fields decode_prv_body(std::span<const std::uint8_t, prv_body_size> body) {
  return {get_u16_net(body, prv_type_at), get_u16_net(body, prv_data_len_at), get_u16_net(body, prv_pid_at)};
}

std::optional<std::span<const std::uint8_t>> app_data_bytes(std::span<const std::uint8_t, prv_body_size> body,
                                                            const prv_fields& fields) {
  if (fields.data_len > prv_data_area) return std::nullopt;
  return body.subspan(prv_data_at, fields.data_len);
}

sha1_digest terminate_digest(std::span<const std::uint8_t, prv_body_size> body) {
  return get_array<digest_len>(body, prv_data_at);
}

}  // namespace ticket
