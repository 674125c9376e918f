#ifndef TICKET_PRV_RUN_H
#define TICKET_PRV_RUN_H

// KRB_PRV records of a stream decrypted a run at a time. Decryption's blocks
// are independent once the ciphertext is there, so the engine's lanes run
// across the blocks of every record in a run: tens of records at once
// decrypt several times faster than one after another. The run is made of
// the record being checked and the whole ones the stream already holds after
// it, and each record's body is then taken from the run in turn, with
// exactly the bytes decrypt_krb_prv gives.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ticket/codec.h"
#include "ticket/des_engine.h"
#include "ticket/wire.h"

namespace ticket {

class krb_prv_run {
 public:
  static constexpr std::size_t most = 64;

  // The body of the record in rx when it is the next one of the run; false,
  // with body untouched, when it is not.
  bool take(received rx, std::span<std::uint8_t, prv_body_size> body);

  // Starts a run with the record in rx and those of upcoming that follow it
  // whole, at most most - 1 of them (each datagram as next gives it, before
  // the zeros that complete a short one), decrypts them under key, and
  // gives rx's body. A record the run cannot hold (a length other than a
  // whole body, a type other than KRB_PRV) ends the run before it; rx itself
  // is then decrypted alone. Returns what decrypt_krb_prv returns.
  bool start(received rx, std::span<const std::span<const std::uint8_t>> upcoming, const engine_key& key,
             std::span<std::uint8_t, prv_body_size> body);

 private:
  std::array<std::uint8_t, most * krb_prv_size> datagrams_{};
  std::array<std::uint8_t, most * prv_body_size> bodies_{};
  std::size_t next_ = 0;
  std::size_t count_ = 0;
};

}  // namespace ticket

#endif
