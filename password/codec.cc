#include "password/codec.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/numbers.h"

namespace password {

namespace {

template <std::size_t N>
void encode_bare(std::span<std::uint8_t, N> out, std::uint16_t type) {
  static_assert(N == header_size);
  zero(out);
  put_u16_net(out, type_at, type);
  put_u32_net(out, length_at, 0);
}

}  // namespace

void encode_join_req(std::span<std::uint8_t, join_req_size> out) { encode_bare(out, JOIN_REQ); }
void encode_pass_req(std::span<std::uint8_t, pass_req_size> out) { encode_bare(out, PASS_REQ); }
void encode_pass_accept(std::span<std::uint8_t, pass_accept_size> out) { encode_bare(out, PASS_ACCEPT); }
void encode_pass_reject(std::span<std::uint8_t, pass_reject_size> out) { encode_bare(out, PASS_REJECT); }

bool encode_pass_resp(std::span<std::uint8_t, pass_resp_size> out, const char* text) {
  zero(out);
  // The fit is judged on the true length: text_length() wraps at 65536, so a very
  // long text could otherwise pass as a short one.
  const std::size_t chars = std::strlen(text);
  if (chars > password_len) return false;
  put_u16_net(out, type_at, PASS_RESP);
  put_u32_net(out, length_at, text_length(text));
  put_bytes(out, pass_resp_password_at, std::span(reinterpret_cast<const std::uint8_t*>(text), chars));
  return true;
}

std::span<std::uint8_t, data_bytes_len> data_area(std::span<std::uint8_t, data_size> out) {
  return out.subspan<data_bytes_at, data_bytes_len>();
}

void seal_data(std::span<std::uint8_t, data_size> out, std::size_t length, std::uint32_t pid) {
  length = std::min(length, data_bytes_len);
  const auto rest = data_area(out).subspan(length);
  zero(rest);
  put_u16_net(out, type_at, DATA);
  put_u16_net(out, reserved_at, 0);
  put_u32_net(out, length_at, static_cast<std::uint32_t>(length));
  put_u32_net(out, data_pid_at, pid);
}

bool encode_data(std::span<std::uint8_t, data_size> out, std::uint32_t pid, std::span<const std::uint8_t> bytes) {
  zero(out);
  if (bytes.size() > data_bytes_len) return false;
  put_bytes(out, data_bytes_at, bytes);
  seal_data(out, bytes.size(), pid);
  return true;
}

void encode_terminate(std::span<std::uint8_t, terminate_size> out, std::span<const std::uint8_t, digest_len> digest) {
  zero(out);
  put_u16_net(out, type_at, TERMINATE);
  put_u32_net(out, length_at, digest_len);
  put_bytes(out, terminate_digest_at, digest);
}

header_fields decode_header(received rx) { return {get_u16_net(rx, type_at), get_u32_net(rx, length_at)}; }

pass_resp_fields decode_pass_resp(received rx) {
  return {get_u32_net(rx, length_at), get_array<password_len>(rx, pass_resp_password_at)};
}

data_fields decode_data(received rx) { return {get_u32_net(rx, length_at), get_u32_net(rx, data_pid_at)}; }

std::optional<std::span<const std::uint8_t>> data_bytes(received rx, std::uint32_t length) {
  if (length > data_bytes_len) return std::nullopt;
  return rx.subspan(data_bytes_at, length);
}

terminate_fields decode_terminate(received rx) {
  return {get_u32_net(rx, length_at), get_array<digest_len>(rx, terminate_digest_at)};
}

bool is_bare(header_fields header, std::uint16_t type) { return header.type == type && header.length == 0; }

bool is_join_req(header_fields header) { return is_bare(header, JOIN_REQ); }

bool admits_pass_resp(header_fields header) { return header.type == PASS_RESP && header.length <= max_password_chars; }

bool password_matches(const pass_resp_fields& resp, const char* own) {
  const std::uint16_t n = text_length(own);
  if (resp.length != n || n > password_len) return false;
  return std::memcmp(resp.password.data(), own, n) == 0;
}

bool usable_server_password(const char* own) { return std::strlen(own) <= max_password_chars; }

bool fits_password_field(const char* text) { return std::strlen(text) <= password_len; }

bool is_next_pid(std::uint32_t last, std::uint32_t pid) { return pid == last + 1; }

bool terminate_matches(const terminate_fields& fields, std::span<const std::uint8_t, digest_len> stored) {
  return fields.length == digest_len && std::equal(stored.begin(), stored.end(), fields.digest.begin());
}

}  // namespace password
