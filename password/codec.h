#ifndef PASSWORD_CODEC_H
#define PASSWORD_CODEC_H

// Encoders, decoders and receive-side decisions of the password system.
// Encoders zero their whole output before writing fields (except seal_data,
// whose data bytes the caller has already placed). Decoders read the fixed
// receive buffer at fixed offsets and return host values.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "common/sha1.h"
#include "password/wire.h"

namespace password {

using receive_buffer = std::array<std::uint8_t, receive_size>;
using received = std::span<const std::uint8_t, receive_size>;
using password_field = std::array<std::uint8_t, password_len>;

void encode_join_req(std::span<std::uint8_t, join_req_size> out);
void encode_pass_req(std::span<std::uint8_t, pass_req_size> out);
void encode_pass_accept(std::span<std::uint8_t, pass_accept_size> out);
void encode_pass_reject(std::span<std::uint8_t, pass_reject_size> out);

// PASS_RESP offering text, with length = text_length(text). False, with out
// all zero, when text has more characters than the password field holds.
bool encode_pass_resp(std::span<std::uint8_t, pass_resp_size> out, const char* text);

// The data field of a DATA being built, so that a sender can read file bytes
// straight into it.
std::span<std::uint8_t, data_bytes_len> data_area(std::span<std::uint8_t, data_size> out);

// Completes a DATA whose first length data bytes are already in data_area:
// writes type, zero reserved bytes, length and pid, and zeroes the data bytes
// after the first length. A length above data_bytes_len is cut to it.
void seal_data(std::span<std::uint8_t, data_size> out, std::size_t length, std::uint32_t pid);

// A whole DATA carrying bytes. False, with out all zero, when they do not fit.
bool encode_data(std::span<std::uint8_t, data_size> out, std::uint32_t pid, std::span<const std::uint8_t> bytes);

void encode_terminate(std::span<std::uint8_t, terminate_size> out, std::span<const std::uint8_t, digest_len> digest);

struct header_fields {
  std::uint16_t type;
  std::uint32_t length;
};
header_fields decode_header(received rx);

struct pass_resp_fields {
  std::uint32_t length;
  password_field password;
};
pass_resp_fields decode_pass_resp(received rx);

struct data_fields {
  std::uint32_t length;
  std::uint32_t pid;
};
data_fields decode_data(received rx);

// The length file bytes of a received DATA; nothing when length exceeds the
// data field.
std::optional<std::span<const std::uint8_t>> data_bytes(received rx, std::uint32_t length);

struct terminate_fields {
  std::uint32_t length;
  sha1_digest digest;
};
terminate_fields decode_terminate(received rx);

// A header-only message of this type: the type matches and length is 0.
bool is_bare(header_fields header, std::uint16_t type);

// The first datagram of an exchange that a server accepts.
bool is_join_req(header_fields header);

// A PASS_RESP a server hands to the password test: length at most 50.
bool admits_pass_resp(header_fields header);

// The password test: length equals n = text_length(own) and the first n
// bytes of the field equal own; the bytes after them are not looked at.
bool password_matches(const pass_resp_fields& resp, const char* own);

// A server password that some PASS_RESP can match (at most 50 characters).
bool usable_server_password(const char* own);

// A password that fits the field of a PASS_RESP (at most 52 characters).
bool fits_password_field(const char* text);

// The DATA numbered pid continues a stream whose last accepted pid is last
// (0 before the first DATA).
bool is_next_pid(std::uint32_t last, std::uint32_t pid);

// A TERMINATE reports a good transfer: length 20 and the digest of the
// stored file.
bool terminate_matches(const terminate_fields& fields, std::span<const std::uint8_t, digest_len> stored);

}  // namespace password

#endif
