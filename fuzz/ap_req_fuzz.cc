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

  ticket::receive_buffer rx = fuzz::received(datagram);
  std::array<std::uint8_t, ticket::ticket_area_len> ticket_area;
  fuzz::decrypt_and_use(ticket_area, rx, datagram, ticket::decrypt_ticket, server, ticket::ap_req_ticket_len_at,
                        ticket::ap_req_ticket_at, [](const auto& area) { (void)ticket::decode_ticket_body(area); });
  const ticket::ticket_fields tkt = ticket::decode_ticket_body(ticket_area);

  // A refused session key ends the server's run; the authenticator is still
  // worth reading, under another key.
  key_schedule session{};
  const int verdict = make_key_schedule(tkt.session_key, session);
  fuzz::check(verdict == 0 || verdict == -1 || verdict == -2, "the key schedule answers 0, -1 or -2");
  const key_schedule& auth_key = verdict == 0 ? session : fallback;

  std::array<std::uint8_t, ticket::authenticator_size> auth_area;
  fuzz::decrypt_and_use(auth_area, rx, datagram, ticket::decrypt_authenticator, auth_key, ticket::ap_req_auth_len_at,
                        ticket::ap_req_authenticator_at, [&](const auto& area) {
                          const ticket::authenticator_fields auth = ticket::decode_authenticator(area);
                          (void)(auth.client_id == tkt.client_id && auth.client_addr == tkt.client_addr);
                        });
  return 0;
}
