// What the client does with an AS_REP: decrypt it under its own key into the
// reply area, read the as_rep_body, and pass ticket_len and the ticket on into
// its AP_REQ. The input is one received datagram; it is also read as an
// already decrypted as_rep_body, which the cipher hides from the fuzzer.

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/wire.h"

namespace {

// The client's use of a decrypted as_rep_body.
void use_body(const std::array<std::uint8_t, ticket::as_rep_body_area>& body, const key_schedule& session) {
  const ticket::as_rep_fields rep = ticket::decode_as_rep_body(body);
  key_schedule refused{};
  const int verdict = make_key_schedule(rep.session_key, refused);
  fuzz::check(verdict == 0 || verdict == -1 || verdict == -2, "the key schedule answers 0, -1 or -2");

  std::array<std::uint8_t, ticket::authenticator_size> auth{};
  std::array<std::uint8_t, ticket::ap_req_size> ap_req;
  ap_req.fill(0xAA);
  const bool built = ticket::encode_ap_req(ap_req, rep.ticket_len, rep.ticket, session, auth);
  fuzz::check(built == (rep.ticket_len <= ticket::ticket_area_len), "an AP_REQ refuses exactly a ticket_len past 104");
  if (!built) {
    fuzz::check(fuzz::all_zero(ap_req), "a refused AP_REQ is left zero");
    return;
  }
  fuzz::check(get_u16_net(ap_req, ticket::ap_req_ticket_len_at) == rep.ticket_len, "ticket_len passes unchanged");
  const auto ticket_field = std::span(ap_req).subspan(ticket::ap_req_ticket_at, ticket::ticket_area_len);
  fuzz::check(std::equal(rep.ticket.begin(), rep.ticket.begin() + rep.ticket_len, ticket_field.begin()),
              "the first ticket_len ticket bytes pass unchanged");
  fuzz::check(fuzz::all_zero(ticket_field.subspan(rep.ticket_len)), "the ticket area after ticket_len is zero");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const key_schedule client = fuzz::schedule_of(fuzz::client_key);
  static const key_schedule session = fuzz::schedule_of(fuzz::session_key);
  const auto datagram = fuzz::input(data, size);

  ticket::receive_buffer rx = fuzz::received(datagram);
  (void)ticket::decode_type(rx);
  std::array<std::uint8_t, ticket::as_rep_body_area> body;
  fuzz::decrypt_and_use(body, rx, datagram, ticket::decrypt_as_rep, client, ticket::as_rep_length_at,
                        ticket::as_rep_cipher_at, [&](const auto& area) { use_body(area, session); });
  return 0;
}
