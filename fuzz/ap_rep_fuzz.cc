// What the client does with an AP_REP: decrypt length bytes into the 32-byte
// nonce reply area and read the number there as atoi would. The input is one
// received datagram; it is also read as an already decrypted reply, checked
// against the C library's own reading of the same text, and its first four
// bytes serve as a nonce whose reply must read back as nonce + 1.

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/nonce.h"
#include "ticket/wire.h"

namespace {

using reply_area = std::array<std::uint8_t, ticket::nonce_reply_area>;

// decode_nonce_reply against strtoll on a zero-terminated copy, where
// strtoll does not overflow: atoi's reading, taken modulo 2^32.
void check_reading(const reply_area& area) {
  char text[ticket::nonce_reply_area + 1] = {};
  std::memcpy(text, area.data(), area.size());
  errno = 0;
  const long long value = std::strtoll(text, nullptr, 10);
  if (errno == ERANGE) return;
  fuzz::check(ticket::decode_nonce_reply(area) == static_cast<std::uint32_t>(value),
              "a nonce reply reads as atoi reads it, modulo 2^32");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const key_schedule session = fuzz::schedule_of(fuzz::session_key);
  const auto datagram = fuzz::input(data, size);

  ticket::receive_buffer rx = fuzz::received(datagram);
  reply_area area;
  fuzz::decrypt_and_use(area, rx, datagram, ticket::decrypt_ap_rep, session, ticket::ap_rep_length_at,
                        ticket::ap_rep_cipher_at, [](const reply_area& reply) { check_reading(reply); });

  // The server's reply to the nonce, through the wire and back.
  const std::uint32_t nonce = get_u32_le(rx, 0);
  std::array<std::uint8_t, ticket::ap_rep_size> ap_rep;
  ap_rep.fill(0xAA);
  ticket::encode_ap_rep(ap_rep, session, nonce);
  const std::uint16_t reply_len = get_u16_net(ap_rep, ticket::ap_rep_length_at);
  fuzz::check(reply_len <= 15, "a nonce reply is at most 15 bytes");
  fuzz::check(fuzz::all_zero(std::span(ap_rep).subspan(ticket::ap_rep_cipher_at + blocks(reply_len))),
              "an AP_REP is zero after its ciphertext");
  fuzz::receive_into(rx, ap_rep);
  fuzz::check(ticket::decrypt_ap_rep(rx, session, area), "a sent AP_REP decrypts");
  fuzz::check(ticket::decode_nonce_reply(area) == nonce + 1u, "the reply reads back as nonce + 1");
  return 0;
}
