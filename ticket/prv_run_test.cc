// Records decrypted a run at a time must give each record exactly the body
// it would get alone, whatever the stream holds after it.

#include "ticket/prv_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "common/bytes.h"
#include "common/hex.h"

namespace {

using namespace ticket;
using datagram = std::vector<std::uint8_t>;

engine_key session_key() {
  des_key key{};
  hex_to_bytes("0E329232EA6D0D73", key);
  engine_key out{};
  EXPECT_EQ(make_engine_key(key, out), 0);
  return out;
}

// count KRB_PRV datagrams of random bodies under key.
std::vector<datagram> stream_of(const engine_key& key, std::size_t count) {
  std::mt19937 random(7);
  std::vector<datagram> out;
  for (std::size_t i = 0; i < count; ++i) {
    std::array<std::uint8_t, prv_body_size> body{};
    for (std::uint8_t& byte : body) byte = static_cast<std::uint8_t>(random());
    datagram d(krb_prv_size);
    encode_krb_prv(std::span<std::uint8_t, krb_prv_size>(d), key.schedule, body);
    out.push_back(d);
  }
  return out;
}

struct RunRow {
  const char* name;
  // Changes the stream before the client takes it.
  void (*change)(std::vector<datagram>&);
  // What the stream was seen to hold ahead differs from what then comes:
  // a run is never trusted past its bytes.
  bool ahead_differs = false;
};

TEST(KrbPrvRun, GivesEachRecordTheBodyItWouldGetAlone) {
  const RunRow rows[] = {
      {"whole records", [](std::vector<datagram>&) {}},
      // Completed with zeros, as the client's cleared buffer completes it.
      {"a record cut short", [](std::vector<datagram>& s) { s[70].resize(500); }},
      {"a record with a length the run cannot hold",
       [](std::vector<datagram>& s) { put_u16_net(s[20], krb_prv_length_at, 100); }},
      {"a length beyond the body", [](std::vector<datagram>& s) { put_u16_net(s[30], krb_prv_length_at, 2000); }},
      {"a message of another type", [](std::vector<datagram>& s) { put_u16_net(s[90], type_at, AP_ERR); }},
      {"a repeated record", [](std::vector<datagram>& s) { s.insert(s.begin() + 40, s[39]); }},
      {"longer than the record", [](std::vector<datagram>& s) { s[10].resize(receive_size + 20, 0xAB); }},
      {"held ahead, then other records", [](std::vector<datagram>&) {}, true},
  };
  const engine_key key = session_key();
  for (const RunRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<datagram> stream = stream_of(key, 200);
    row.change(stream);
    std::vector<datagram> seen_ahead = stream;
    if (row.ahead_differs)
      for (std::size_t i = 3; i < seen_ahead.size(); i += 5) seen_ahead[i][100] ^= 1;
    krb_prv_run run;
    for (std::size_t i = 0; i < stream.size(); ++i) {
      // As the client holds it: cut to its buffer, cleared past the end.
      receive_buffer rx{};
      std::copy_n(stream[i].begin(), std::min(stream[i].size(), rx.size()), rx.begin());
      std::array<std::uint8_t, prv_body_size> alone{};
      const bool alone_ok = decrypt_krb_prv(rx, key, alone);
      // What the stream holds after it, each cut to the buffer.
      std::vector<std::span<const std::uint8_t>> upcoming;
      for (std::size_t k = i + 1; k < std::min(stream.size(), i + krb_prv_run::most); ++k)
        upcoming.emplace_back(seen_ahead[k].data(), std::min(seen_ahead[k].size(), rx.size()));
      std::array<std::uint8_t, prv_body_size> body{};
      const bool ok = run.take(rx, body) || run.start(rx, upcoming, key, body);
      ASSERT_EQ(ok, alone_ok) << "record " << i;
      if (ok) {
        ASSERT_EQ(body, alone) << "record " << i;
      }
    }
  }
}

}  // namespace
