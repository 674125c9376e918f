// What passfeed and passfetch read from a received datagram: the header, a
// PASS_RESP's password, a DATA's pid and length bytes, a TERMINATE's digest,
// and the decisions taken on them. Both programs receive some datagrams
// without clearing the buffer, so the input is two datagrams: its first byte
// times 4 is the length of the first, the rest is the second, received over
// the first's bytes; the decoders run after each.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "password/codec.h"
#include "password/wire.h"

namespace {

// Server passwords worth matching against: empty, short, and the longest one
// a server admits.
constexpr const char* own_passwords[] = {"", "secret", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX"};

// Receives datagram over rx without clearing it first.
void receive_over(password::receive_buffer& rx, std::span<const std::uint8_t> datagram) {
  std::copy_n(datagram.begin(), std::min(datagram.size(), rx.size()), rx.begin());
}

void read_all(const password::receive_buffer& rx) {
  const password::header_fields header = password::decode_header(rx);
  fuzz::check(password::is_bare(header, header.type) == (header.length == 0), "a bare message has length 0");
  fuzz::check(password::admits_pass_resp(header) == (header.type == password::PASS_RESP && header.length <= 50),
              "a PASS_RESP is admitted exactly with a length up to 50");

  const password::pass_resp_fields resp = password::decode_pass_resp(rx);
  for (const char* own : own_passwords) {
    const std::size_t n = std::strlen(own);
    const bool same = resp.length == n && std::memcmp(resp.password.data(), own, n) == 0;
    fuzz::check(password::password_matches(resp, own) == same, "the password test compares length and bytes");
  }
  // The server's debug line prints the field as text, which need hold no zero.
  char line[128];
  std::snprintf(line, sizeof line, "Im getting %.*s\n", static_cast<int>(password::password_len),
                reinterpret_cast<const char*>(resp.password.data()));

  const password::data_fields data = password::decode_data(rx);
  const auto bytes = password::data_bytes(rx, data.length);
  fuzz::check(bytes.has_value() == (data.length <= password::data_bytes_len),
              "DATA bytes are refused exactly when length exceeds the data field");
  if (bytes) {
    fuzz::check(bytes->data() == rx.data() + password::data_bytes_at && bytes->size() == data.length,
                "the DATA bytes are length bytes at the data field");
  }

  const password::terminate_fields term = password::decode_terminate(rx);
  fuzz::check(password::terminate_matches(term, term.digest) == (term.length == digest_len),
              "a TERMINATE is good only with length 20");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = fuzz::input(data, size);
  if (input.empty()) return 0;
  const std::size_t first_len = std::min<std::size_t>(input[0] * 4u, input.size() - 1);
  const auto first = input.subspan(1, first_len);
  const auto second = input.subspan(1 + first_len);

  password::receive_buffer rx;
  fuzz::receive_into(rx, first);
  read_all(rx);
  receive_over(rx, second);
  read_all(rx);
  return 0;
}
