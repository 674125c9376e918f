// What the server does with an AP_REQ: decrypt ticket_len ticket bytes under
// its key, build the ticket's session key, and decrypt auth_len authenticator
// bytes under that key. The input is one received datagram; it is also read
// as an already decrypted ticket and authenticator.

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const key_schedule server = fuzz::schedule_of(fuzz::server_key);
  static const key_schedule fallback = fuzz::schedule_of(fuzz::session_key);
  const auto datagram = fuzz::input(data, size);

  ticket::receive_buffer rx;
  fuzz::receive_into(rx, datagram);
  std::array<std::uint8_t, ticket::ticket_area_len> ticket_area;
  ticket_area.fill(0xAA);
  const bool ticket_ok = ticket::decrypt_ticket(rx, server, ticket_area);
  fuzz::check_decrypt(ticket_ok, get_u16_net(rx, ticket::ap_req_ticket_len_at), ticket_area,
                      std::span(rx).subspan(ticket::ap_req_ticket_at), server);
  const ticket::ticket_fields tkt = ticket::decode_ticket_body(ticket_area);

  // A refused session key ends the server's run; the authenticator is still
  // worth reading, under another key.
  key_schedule session{};
  const int verdict = make_key_schedule(tkt.session_key, session);
  fuzz::check(verdict == 0 || verdict == -1 || verdict == -2, "the key schedule answers 0, -1 or -2");
  const key_schedule& auth_key = verdict == 0 ? session : fallback;

  std::array<std::uint8_t, ticket::authenticator_size> auth_area;
  auth_area.fill(0xAA);
  const bool auth_ok = ticket::decrypt_authenticator(rx, auth_key, auth_area);
  fuzz::check_decrypt(auth_ok, get_u16_net(rx, ticket::ap_req_auth_len_at), auth_area,
                      std::span(rx).subspan(ticket::ap_req_authenticator_at), auth_key);
  const ticket::authenticator_fields auth = ticket::decode_authenticator(auth_area);
  (void)(auth.client_id == tkt.client_id && auth.client_addr == tkt.client_addr);

  fuzz::receive_into(ticket_area, datagram);
  (void)ticket::decode_ticket_body(ticket_area);
  fuzz::receive_into(auth_area, datagram);
  (void)ticket::decode_authenticator(auth_area);
  return 0;
}
