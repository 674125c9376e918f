#ifndef TICKET_CODEC_H
#define TICKET_CODEC_H

// Encoders and decoders of the ticket system's datagrams and records.
// Encoders zero their whole output before writing fields. Decoders read the
// fixed receive buffer or a decrypted record area at fixed offsets and return
// host values; a length field that would reach past the area it fills is
// refused with false, and nothing is decrypted then.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "common/hex.h"
#include "common/sha1.h"
#include "ticket/des.h"
#include "ticket/des_engine.h"
#include "ticket/wire.h"

namespace ticket {

using id_field = std::array<std::uint8_t, id_len>;
using ipv4_addr = std::array<std::uint8_t, addr_len>;
using receive_buffer = std::array<std::uint8_t, receive_size>;
using received = std::span<const std::uint8_t, receive_size>;

// An id field as text for printf's "%.40s", which stops at the first zero
// byte or after the 40 bytes: a full field needs no terminating zero.
const char* id_text(const id_field& id);

// Zero-fills field and copies text into it. False, with the field left zero,
// when text is longer than the field; exactly 40 bytes fill it with no zero.
bool make_id(const char* text, id_field& field);

// The type of any received datagram (AS_ERR and AP_ERR carry nothing else).
std::uint16_t decode_type(received rx);

void encode_as_req(std::span<std::uint8_t, as_req_size> out, const id_field& client_id, const id_field& server_id);

struct as_req_fields {
  id_field client_id;
  id_field server_id;
};
as_req_fields decode_as_req(received rx);

struct as_rep_fields {
  des_key session_key;
  id_field server_id;
  std::uint32_t timestamp;
  std::uint16_t lifetime;
  std::uint16_t ticket_len;
  std::array<std::uint8_t, ticket_area_len> ticket;
};

void encode_as_rep_body(std::span<std::uint8_t, as_rep_body_area> body, const as_rep_fields& fields);

// AS_REP with a length of as_rep_body_size; as_rep_size bytes go on the wire.
void encode_as_rep(std::span<std::uint8_t, as_rep_size> out, const key_schedule& client_key,
                   const as_rep_fields& fields);

void encode_as_err(std::span<std::uint8_t, as_err_size> out);

// Zeroes body and decrypts the AS_REP's length bytes into it.
bool decrypt_as_rep(received rx, const key_schedule& client_key, std::span<std::uint8_t, as_rep_body_area> body);

as_rep_fields decode_as_rep_body(std::span<const std::uint8_t, as_rep_body_area> body);

struct ticket_fields {
  des_key session_key;
  id_field client_id;
  ipv4_addr client_addr;
  std::uint32_t timestamp;
  std::uint16_t lifetime;
};

void encode_ticket_body(std::span<std::uint8_t, ticket_body_size> body, const ticket_fields& fields);

// The ticket as an authentication server issues it: a ticket_body encrypted
// under the server key, ticket_area_len bytes.
void make_ticket(std::span<std::uint8_t, ticket_area_len> out, const key_schedule& server_key,
                 const ticket_fields& fields);

struct authenticator_fields {
  id_field client_id;
  ipv4_addr client_addr;
  std::uint32_t nonce;
};

void encode_authenticator(std::span<std::uint8_t, authenticator_size> out, const authenticator_fields& fields);

// AP_REQ carrying the first ticket_len bytes of ticket. False when ticket_len
// exceeds the ticket area.
bool encode_ap_req(std::span<std::uint8_t, ap_req_size> out, std::uint16_t ticket_len,
                   std::span<const std::uint8_t, ticket_area_len> ticket, const key_schedule& session_key,
                   std::span<const std::uint8_t, authenticator_size> authenticator);

// Zeroes area and decrypts the AP_REQ's ticket_len ticket bytes into it.
bool decrypt_ticket(received rx, const key_schedule& server_key, std::span<std::uint8_t, ticket_area_len> area);

// Reads the ticket_body fields from a decrypted ticket area.
ticket_fields decode_ticket_body(std::span<const std::uint8_t, ticket_area_len> area);

// Zeroes area and decrypts the AP_REQ's auth_len authenticator bytes into it.
bool decrypt_authenticator(received rx, const key_schedule& session_key,
                           std::span<std::uint8_t, authenticator_size> area);

authenticator_fields decode_authenticator(std::span<const std::uint8_t, authenticator_size> area);

// AP_REP answering nonce: the decimal text of nonce + 1 under the session key.
void encode_ap_rep(std::span<std::uint8_t, ap_rep_size> out, const key_schedule& session_key, std::uint32_t nonce);

// Zeroes area and decrypts the AP_REP's length bytes into it.
bool decrypt_ap_rep(received rx, const key_schedule& session_key, std::span<std::uint8_t, nonce_reply_area> area);

// AP_ERR with client_id (the server sends an all-zero one).
void encode_ap_err(std::span<std::uint8_t, ap_err_size> out, const id_field& client_id);

struct prv_fields {
  std::uint16_t prv_type;
  std::uint16_t data_len;
  std::uint16_t pid;
};

// Writes the three header fields of a prv_body; data and zero bytes are the
// caller's, so a sender can read file bytes straight into prv_data(body).
void encode_prv_header(std::span<std::uint8_t, prv_body_size> body, const prv_fields& fields);

inline std::span<std::uint8_t, prv_data_area> prv_data(std::span<std::uint8_t, prv_body_size> body) {
  return body.subspan<prv_data_at, prv_data_area>();
}

// A whole prv_body: zeroes body, writes the header with data_len = data.size()
// and copies data. False when data does not fit.
bool encode_prv_body(std::span<std::uint8_t, prv_body_size> body, std::uint16_t prv_type, std::uint16_t pid,
                     std::span<const std::uint8_t> data);

// KRB_PRV: length 978 and the prv_body encrypted under the session key.
void encode_krb_prv(std::span<std::uint8_t, krb_prv_size> out, const key_schedule& session_key,
                    std::span<const std::uint8_t, prv_body_size> body);

// Zeroes body and decrypts the KRB_PRV's length bytes into it.
bool decrypt_krb_prv(received rx, const key_schedule& session_key, std::span<std::uint8_t, prv_body_size> body);

// The same for many records at once, through the engine: count KRB_PRV
// envelopes laid end to end in datagrams, sealing the bodies laid end to end
// in bodies. False, with nothing written, when either area is too small.
bool encode_krb_prv_batch(std::span<std::uint8_t> datagrams, const engine_key& session_key,
                          std::span<const std::uint8_t> bodies, std::size_t count);

// decrypt_krb_prv through the engine.
bool decrypt_krb_prv(received rx, const engine_key& session_key, std::span<std::uint8_t, prv_body_size> body);

prv_fields decode_prv_body(std::span<const std::uint8_t, prv_body_size> body);

// The data_len file bytes of an APP_DATA; nothing when data_len exceeds the
// data area.
std::optional<std::span<const std::uint8_t>> app_data_bytes(std::span<const std::uint8_t, prv_body_size> body,
                                                            const prv_fields& fields);

// The digest that an APP_TERMINATE carries at the start of its data.
sha1_digest terminate_digest(std::span<const std::uint8_t, prv_body_size> body);

}  // namespace ticket

#endif
