#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

// What the fuzz targets share with the corpus generator: the keys that seeds
// are encrypted under, the receive-buffer model, and the invariant check.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "common/bytes.h"
#include "tests/support/junk.h"
#include "tests/support/key_schedule.h"
#include "ticket/codec.h"
#include "ticket/des.h"

namespace fuzz {

// Usable single-DES keys (odd parity, not weak), one per role.
inline constexpr std::array<std::uint8_t, 8> client_key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
inline constexpr std::array<std::uint8_t, 8> server_key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
inline constexpr std::array<std::uint8_t, 8> session_key = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

// Stops the run as a crash, which libFuzzer records, when an invariant fails.
inline void check(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", invariant);
  std::abort();
}

using testing_support::schedule_of;

// A receive buffer after a datagram of these bytes arrived: zeroed first,
// then as many bytes as fit, since the socket cuts a longer datagram.
template <std::size_t N>
void receive_into(std::array<std::uint8_t, N>& buffer, std::span<const std::uint8_t> datagram) {
  buffer.fill(0);
  std::copy_n(datagram.begin(), std::min(datagram.size(), N), buffer.begin());
}

// The ticket system's receive buffer after a datagram of these bytes arrived.
inline ticket::receive_buffer received(std::span<const std::uint8_t> datagram) {
  ticket::receive_buffer rx;
  receive_into(rx, datagram);
  return rx;
}

using testing_support::all_zero;

// The fuzzer's input as a span; libFuzzer may pass a null pointer with size 0.
inline std::span<const std::uint8_t> input(const std::uint8_t* data, std::size_t size) {
  return size == 0 ? std::span<const std::uint8_t>{} : std::span<const std::uint8_t>(data, size);
}

// The contract every decrypt_* decoder of the ticket system keeps, given the
// length field it read: it refuses exactly the lengths beyond its area, it
// writes nothing past the length (area was filled with junk before the call),
// and the plaintext is the cipher's from the fixed vector, so re-encrypting a
// whole number of blocks gives the received ciphertext back.
template <std::size_t N>
void check_decrypt(bool ok, std::size_t length, const std::array<std::uint8_t, N>& area,
                   std::span<const std::uint8_t> cipher, const key_schedule& key) {
  check(ok == (length <= N), "a decryption is refused exactly when its length exceeds the area");
  check(all_zero(std::span(area).subspan(ok ? length : 0)), "nothing is written past the length");
  if (ok && length > 0 && length % 8 == 0) {
    std::array<std::uint8_t, N> again{};
    check(encrypt_part(key, std::span(area).first(length), again), "a decrypted part fits its area re-encrypted");
    check(std::equal(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(length), cipher.begin()),
          "re-encrypting the plaintext gives the received ciphertext");
  }
}

// What a receiver does with the encrypted part of a datagram: decrypt it
// into an area filled with junk, check the contract above, and hand the
// plaintext to use. The cipher hides that plaintext from the fuzzer, so use
// also gets the raw input as if it were already decrypted; area keeps the
// decrypted plaintext for the caller.
template <std::size_t N, class Use>
void decrypt_and_use(std::array<std::uint8_t, N>& area, const ticket::receive_buffer& rx,
                     std::span<const std::uint8_t> datagram,
                     bool (*decrypt)(ticket::received, const key_schedule&, std::span<std::uint8_t, N>),
                     const key_schedule& key, std::size_t length_at, std::size_t cipher_at, Use use) {
  area.fill(0xAA);
  const bool ok = decrypt(rx, key, area);
  check_decrypt(ok, get_u16_net(rx, length_at), area, std::span(rx).subspan(cipher_at), key);
  use(area);
  std::array<std::uint8_t, N> raw;
  receive_into(raw, datagram);
  use(raw);
}

}  // namespace fuzz

#endif
