// What the authentication server reads from a request, and what every
// receiver of the ticket system reads first: the type, and the two ids of an
// AS_REQ, from a received datagram.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "ticket/codec.h"
#include "ticket/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzz::input(data, size);
  ticket::receive_buffer rx = fuzz::received(datagram);
  const std::uint16_t type = ticket::decode_type(rx);
  fuzz::check(type == (rx[0] << 8 | rx[1]), "the type is the first two bytes, most significant first");
  const ticket::as_req_fields req = ticket::decode_as_req(rx);
  fuzz::check(std::equal(req.client_id.begin(), req.client_id.end(), rx.begin() + ticket::as_req_client_id_at) &&
                  std::equal(req.server_id.begin(), req.server_id.end(), rx.begin() + ticket::as_req_server_id_at),
              "the ids are the 40 bytes at their offsets");

  // A request built from the ids read gives the same bytes back.
  std::array<std::uint8_t, ticket::as_req_size> again;
  again.fill(0xAA);
  ticket::encode_as_req(again, req.client_id, req.server_id);
  fuzz::receive_into(rx, again);
  const ticket::as_req_fields back = ticket::decode_as_req(rx);
  fuzz::check(ticket::decode_type(rx) == ticket::AS_REQ && back.client_id == req.client_id &&
                  back.server_id == req.server_id &&
                  fuzz::all_zero(std::span(again).subspan(ticket::as_req_server_id_at + ticket::id_len)),
              "an AS_REQ made of two ids reads back as them");
  return 0;
}
