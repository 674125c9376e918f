// What the client does with a KRB_PRV, and the server with its request:
// decrypt length bytes into the 978-byte prv_body area, read the header, and
// take data_len file bytes or the digest. The input is one received datagram;
// it is also read as an already decrypted prv_body, and its first bytes are
// sent through the encoders as one record and read back.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"
#include "common/sha1.h"
#include "fuzz/fuzz_support.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/wire.h"

namespace {

using body_area = std::array<std::uint8_t, ticket::prv_body_size>;

// The reader's use of a decrypted prv_body.
void use_body(const body_area& body) {
  const ticket::prv_fields fields = ticket::decode_prv_body(body);
  const auto bytes = ticket::app_data_bytes(body, fields);
  fuzz::check(bytes.has_value() == (fields.data_len <= ticket::prv_data_area),
              "data bytes are refused exactly when data_len exceeds the data area");
  if (bytes) {
    fuzz::check(bytes->data() == body.data() + ticket::prv_data_at && bytes->size() == fields.data_len,
                "the data bytes are data_len bytes at the data field");
  }
  const sha1_digest digest = ticket::terminate_digest(body);
  fuzz::check(std::equal(digest.begin(), digest.end(), body.begin() + ticket::prv_data_at),
              "the digest is the start of the data field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const key_schedule session = fuzz::schedule_of(fuzz::session_key);
  const auto datagram = fuzz::input(data, size);

  ticket::receive_buffer rx = fuzz::received(datagram);
  body_area body;
  fuzz::decrypt_and_use(body, rx, datagram, ticket::decrypt_krb_prv, session, ticket::krb_prv_length_at,
                        ticket::krb_prv_cipher_at, use_body);

  // One APP_DATA carrying the input, as the server sends it.
  const bool fits = ticket::encode_prv_body(body, ticket::APP_DATA, static_cast<std::uint16_t>(size), datagram);
  fuzz::check(fits == (size <= ticket::prv_data_area), "a record refuses exactly the data that does not fit");
  if (!fits) return 0;
  std::array<std::uint8_t, ticket::krb_prv_size> envelope;
  envelope.fill(0xAA);
  ticket::encode_krb_prv(envelope, session, body);
  fuzz::receive_into(rx, envelope);
  body_area back;
  fuzz::check(ticket::decrypt_krb_prv(rx, session, back), "a sent KRB_PRV decrypts");
  fuzz::check(back == body, "a KRB_PRV restores the prv_body it was made of");
  const ticket::prv_fields fields = ticket::decode_prv_body(back);
  const auto bytes = ticket::app_data_bytes(back, fields);
  fuzz::check(fields.prv_type == ticket::APP_DATA && fields.pid == static_cast<std::uint16_t>(size) && bytes &&
                  std::equal(bytes->begin(), bytes->end(), datagram.begin(), datagram.end()),
              "the record reads back as sent");
  return 0;
}
