#ifndef TICKET_WIRE_H
#define TICKET_WIRE_H

// Byte layout of every datagram and encrypted record of the ticket system.
// Offsets count from the start of the datagram or record. u16 net: 16 bits,
// most significant byte first. u32 le: 32 bits, least significant byte first.
// id: 40 bytes of text padded with zero bytes. addr: 4 bytes of an IPv4
// address, first octet first. Bytes no field owns are zero when sent.

#include <cstddef>
#include <cstdint>

#include "ticket/des.h"

namespace ticket {

// Datagram types, u16 net at offset 0 of every datagram.
inline constexpr std::uint16_t AS_REQ = 1;
inline constexpr std::uint16_t AS_REP = 2;
inline constexpr std::uint16_t AS_ERR = 3;
inline constexpr std::uint16_t AP_REQ = 4;
inline constexpr std::uint16_t AP_REP = 5;
inline constexpr std::uint16_t AP_ERR = 6;
inline constexpr std::uint16_t KRB_PRV = 7;

// Inner record types, the prv_type of a prv_body.
inline constexpr std::uint16_t APP_DATA_REQ = 14;
inline constexpr std::uint16_t APP_DATA = 15;
inline constexpr std::uint16_t APP_TERMINATE = 16;

inline constexpr std::size_t id_len = 40;
inline constexpr std::size_t key_len = 8;
inline constexpr std::size_t addr_len = 4;

// Every datagram is received into a buffer of this size, zeroed first; a
// longer datagram is cut, and bytes that did not arrive read as zero.
inline constexpr std::size_t receive_size = 1010;
inline constexpr std::size_t type_at = 0;  // 0, 2, u16 net: datagram type

// AS_REQ, plain.
inline constexpr std::size_t as_req_client_id_at = 2;   // 2, 40, id: the client's identifier
inline constexpr std::size_t as_req_server_id_at = 42;  // 42, 40, id: the wanted application server
inline constexpr std::size_t as_req_size = 88;          // 82..87 zero
static_assert(as_req_server_id_at + id_len + 6 == as_req_size);

// AS_REP: an as_rep_body encrypted under the client's authentication key.
inline constexpr std::size_t as_rep_length_at = 2;  // 2, 2, u16 net: bytes the receiver decrypts
inline constexpr std::size_t as_rep_cipher_at = 4;  // 4, blocks(length): ciphertext

// as_rep_body, the plaintext of AS_REP.
inline constexpr std::size_t rep_session_key_at = 0;  // 0, 8, key: session key
inline constexpr std::size_t rep_server_id_at = 8;    // 8, 40, id: the server the ticket is for
inline constexpr std::size_t rep_timestamp_at = 48;   // 48, 4, u32 le: issue time
inline constexpr std::size_t rep_lifetime_at = 52;    // 52, 2, u16 net: seconds of validity
inline constexpr std::size_t rep_ticket_len_at = 56;  // 56, 2, u16 net: ticket ciphertext bytes
inline constexpr std::size_t rep_ticket_at = 60;      // 60, 104, cipher: the ticket
inline constexpr std::size_t ticket_area_len = 104;   // blocks(ticket_body_size)
inline constexpr std::size_t as_rep_body_size = 164;
inline constexpr std::size_t as_rep_body_area = 168;  // room for a length of blocks(164)
inline constexpr std::size_t as_rep_size = as_rep_cipher_at + as_rep_body_area;
static_assert(rep_ticket_at + ticket_area_len == as_rep_body_size);
static_assert(as_rep_body_area == blocks(as_rep_body_size));

// AS_ERR: only the type is meaningful.
inline constexpr std::size_t as_err_size = 2;

// AP_REQ, a ticket and an authenticator.
inline constexpr std::size_t ap_req_ticket_len_at = 2;       // 2, 2, u16 net: ticket bytes
inline constexpr std::size_t ap_req_auth_len_at = 4;         // 4, 2, u16 net: authenticator bytes
inline constexpr std::size_t ap_req_ticket_at = 6;           // 6, 104, cipher: ticket, server key
inline constexpr std::size_t ap_req_authenticator_at = 110;  // 110, 48, cipher: session key
inline constexpr std::size_t ap_req_size = 158;

// authenticator, the plaintext inside AP_REQ.
inline constexpr std::size_t auth_client_id_at = 0;     // 0, 40, id: the client's identifier
inline constexpr std::size_t auth_client_addr_at = 40;  // 40, 4, addr: the client host's address
inline constexpr std::size_t auth_nonce_at = 44;        // 44, 4, u32 le: the client's clock
inline constexpr std::size_t authenticator_size = 48;
static_assert(ap_req_ticket_at + ticket_area_len == ap_req_authenticator_at);
static_assert(ap_req_authenticator_at + authenticator_size == ap_req_size);
static_assert(auth_nonce_at + 4 == authenticator_size && blocks(authenticator_size) == authenticator_size);

// ticket_body, the plaintext of the ticket.
inline constexpr std::size_t tkt_session_key_at = 0;   // 0, 8, key: session key
inline constexpr std::size_t tkt_client_id_at = 8;     // 8, 40, id: the client it was issued to
inline constexpr std::size_t tkt_client_addr_at = 48;  // 48, 4, addr: that client's address
inline constexpr std::size_t tkt_timestamp_at = 92;    // 92, 4, u32 le: issue time (52..91 free)
inline constexpr std::size_t tkt_lifetime_at = 96;     // 96, 2, u16 net: seconds of validity
inline constexpr std::size_t ticket_body_size = 100;   // 98..99 free
static_assert(ticket_area_len == blocks(ticket_body_size));

// AP_REP, the nonce reply.
inline constexpr std::size_t ap_rep_length_at = 2;   // 2, 2, u16 net: L, plaintext bytes
inline constexpr std::size_t ap_rep_cipher_at = 4;   // 4, blocks(L) <= 16: nonce_reply
inline constexpr std::size_t ap_rep_size = 24;       // zero after the ciphertext
inline constexpr std::size_t nonce_reply_area = 32;  // the receiver's plaintext area
static_assert(ap_rep_cipher_at + 16 + 4 == ap_rep_size);

// AP_ERR, plain.
inline constexpr std::size_t ap_err_client_id_at = 2;  // 2, 40, id: the client's, or zero from server
inline constexpr std::size_t ap_err_size = 42;
static_assert(ap_err_client_id_at + id_len == ap_err_size);

// KRB_PRV, the envelope of every inner record.
inline constexpr std::size_t krb_prv_length_at = 2;  // 2, 2, u16 net: 978, plaintext bytes
inline constexpr std::size_t krb_prv_cipher_at = 4;  // 4, 984: the prv_body, session key

// prv_body, the plaintext of KRB_PRV.
inline constexpr std::size_t prv_type_at = 0;      // 0, 2, u16 net: APP_DATA_REQ, APP_DATA or APP_TERMINATE
inline constexpr std::size_t prv_data_len_at = 2;  // 2, 2, u16 net: meaningful bytes of data
inline constexpr std::size_t prv_pid_at = 4;       // 4, 2, u16 net: record number, from 1
inline constexpr std::size_t prv_data_at = 6;      // 6, 972: data, zero after data_len
inline constexpr std::size_t prv_data_area = 972;
inline constexpr std::size_t prv_body_size = 978;
inline constexpr std::size_t krb_prv_size = krb_prv_cipher_at + blocks(prv_body_size);
static_assert(prv_data_at + prv_data_area == prv_body_size);
static_assert(krb_prv_size == 988);
static_assert(krb_prv_size <= receive_size && as_rep_size <= receive_size && ap_req_size <= receive_size);

}  // namespace ticket

#endif
