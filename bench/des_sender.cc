// bench_des_sender <port> <count>: the least a ticket server must do per
// record: put a header on a 978-byte prv_body, encrypt it from the fixed IV
// into a KRB_PRV envelope and send the 988 bytes to 127.0.0.1. Each record
// carries its number at the start of its data. Then the end markers.

#include <array>
#include <cstdint>
#include <cstdio>

#include "bench/stream.h"
#include "common/bytes.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/wire.h"

int main(int argc, char* argv[]) {
  if (argc != 3) bench::die("usage: bench_des_sender <port> <count>");
  const auto port = static_cast<std::uint16_t>(bench::number_arg(argv, 1));
  const auto count = static_cast<std::uint32_t>(bench::number_arg(argv, 2));

  const key_schedule key = bench::session_schedule();
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  std::array<std::uint8_t, ticket::krb_prv_size> envelope{};
  const int fd = bench::open_sender();
  const sockaddr_in to = bench::loopback(port);

  const double start = bench::seconds_now();
  for (std::uint32_t seq = 0; seq < count; ++seq) {
    ticket::encode_prv_header(body, {ticket::APP_DATA, ticket::prv_data_area, static_cast<std::uint16_t>(seq + 1)});
    put_u32_net(body, ticket::prv_data_at, seq);
    ticket::encode_krb_prv(envelope, key, body);
    bench::send_all(fd, envelope, to);
  }
  const double end = bench::seconds_now();
  bench::send_end(fd, to);
  std::printf("sent=%u seconds=%.6f\n", count, end - start);
}
