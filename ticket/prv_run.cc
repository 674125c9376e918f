#include "ticket/prv_run.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace ticket {

namespace {

// A record the run can hold: a KRB_PRV whose length is a whole body, so that
// its body is the decryption of every ciphertext byte the datagram carries.
bool whole_record(std::span<const std::uint8_t, krb_prv_size> datagram) {
  return get_u16_net(datagram, type_at) == KRB_PRV && get_u16_net(datagram, krb_prv_length_at) == prv_body_size;
}

}  // namespace

bool krb_prv_run::take(received rx, std::span<std::uint8_t, prv_body_size> body) {
  if (next_ == count_) return false;
  // Only the datagram's first krb_prv_size bytes reach its body.
  if (std::memcmp(rx.data(), &datagrams_[next_ * krb_prv_size], krb_prv_size) != 0) {
    count_ = next_ = 0;
    return false;
  }
  std::memcpy(body.data(), &bodies_[next_ * prv_body_size], prv_body_size);
  ++next_;
  return true;
}

bool krb_prv_run::start(received rx, std::span<const std::span<const std::uint8_t>> upcoming, const engine_key& key,
                        std::span<std::uint8_t, prv_body_size> body) {
  count_ = next_ = 0;
  if (!whole_record(rx.first<krb_prv_size>())) return decrypt_krb_prv(rx, key, body);
  std::memcpy(datagrams_.data(), rx.data(), krb_prv_size);
  count_ = 1;
  for (const std::span<const std::uint8_t> datagram : upcoming) {
    if (count_ == most) break;
    const std::span<std::uint8_t, krb_prv_size> staged(&datagrams_[count_ * krb_prv_size], krb_prv_size);
    // As the client's receive buffer holds it: cleared past a short datagram.
    const std::size_t n = std::min(datagram.size(), krb_prv_size);
    std::memcpy(staged.data(), datagram.data(), n);
    std::fill(staged.begin() + static_cast<std::ptrdiff_t>(n), staged.end(), std::uint8_t{0});
    if (!whole_record(staged)) break;
    ++count_;
  }
  const auto ciphers =
      std::span<const std::uint8_t>(datagrams_).first(count_ * krb_prv_size).subspan(krb_prv_cipher_at);
  if (!decrypt_parts(key, prv_body_size, count_, ciphers, krb_prv_size, bodies_, prv_body_size)) {
    count_ = 0;
    return decrypt_krb_prv(rx, key, body);
  }
  return take(rx, body);
}

}  // namespace ticket
