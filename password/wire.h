#ifndef PASSWORD_WIRE_H
#define PASSWORD_WIRE_H

// Byte layout of every datagram of the password system. Offsets count from
// the start of the datagram. u16 net, u32 net: most significant byte first,
// so builds for either byte order exchange the same bytes. Bytes no field
// owns are zero when sent; receivers never read the reserved bytes.

#include <cstddef>
#include <cstdint>

#include "common/sha1.h"

namespace password {

// Datagram types, u16 net at offset 0 of every datagram.
inline constexpr std::uint16_t JOIN_REQ = 1;
inline constexpr std::uint16_t PASS_REQ = 2;
inline constexpr std::uint16_t PASS_RESP = 3;
inline constexpr std::uint16_t PASS_ACCEPT = 4;
inline constexpr std::uint16_t DATA = 5;
inline constexpr std::uint16_t TERMINATE = 6;
inline constexpr std::uint16_t PASS_REJECT = 7;

// The header that starts every datagram.
inline constexpr std::size_t type_at = 0;      // 0, 2, u16 net: datagram type
inline constexpr std::size_t reserved_at = 2;  // 2, 2: zero when sent, never read
inline constexpr std::size_t length_at = 4;    // 4, 4, u32 net: a count whose meaning depends on the type
inline constexpr std::size_t header_size = 8;
static_assert(reserved_at == type_at + 2 && length_at == reserved_at + 2 && length_at + 4 == header_size);

// JOIN_REQ, PASS_REQ, PASS_ACCEPT, PASS_REJECT: the header alone, length 0.
inline constexpr std::size_t join_req_size = header_size;
inline constexpr std::size_t pass_req_size = header_size;
inline constexpr std::size_t pass_accept_size = header_size;
inline constexpr std::size_t pass_reject_size = header_size;

// PASS_RESP: length is the password's character count.
inline constexpr std::size_t pass_resp_password_at = 8;  // 8, 52, text: the characters, no terminator, zero after
inline constexpr std::size_t password_len = 52;
inline constexpr std::size_t pass_resp_size = 60;
static_assert(pass_resp_password_at == header_size && pass_resp_password_at + password_len == pass_resp_size);

// The longest length of a PASS_RESP that a server admits to the password test.
inline constexpr std::uint32_t max_password_chars = 50;
static_assert(max_password_chars <= password_len);

// DATA: length counts the valid bytes of the data field, 0 to 1000. Always
// sent whole, whatever its length.
inline constexpr std::size_t data_pid_at = 8;     // 8, 4, u32 net: 1 for a transfer's first DATA, then +1
inline constexpr std::size_t data_bytes_at = 12;  // 12, 1000: the next length file bytes, zero after
inline constexpr std::size_t data_bytes_len = 1000;
inline constexpr std::size_t data_size = 1012;
static_assert(data_pid_at == header_size && data_bytes_at == data_pid_at + 4);
static_assert(data_bytes_at + data_bytes_len == data_size);

// TERMINATE: length is 20, the digest's size.
inline constexpr std::size_t terminate_digest_at = 8;  // 8, 20: SHA-1 digest of the whole file
inline constexpr std::size_t terminate_size = 28;
static_assert(terminate_digest_at == header_size && terminate_digest_at + digest_len == terminate_size);

// Every datagram is received into one buffer of this size; a longer one is
// cut. Bytes past the end of a shorter one keep what the buffer held.
inline constexpr std::size_t receive_size = 1012;
static_assert(receive_size >= data_size && receive_size >= pass_resp_size && receive_size >= terminate_size);

}  // namespace password

#endif
