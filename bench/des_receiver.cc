// bench_des_receiver <receive buffer bytes> block|spin: the least a ticket
// client must do per record: receive a KRB_PRV into the 1010-byte receive
// buffer and decrypt its 978 bytes from the fixed IV into the prv_body area.
// It reads the record number that bench_des_sender put at the start of the
// data, then prints the tally.

#include <array>
#include <cstdint>

#include "bench/stream.h"
#include "common/bytes.h"
#include "ticket/codec.h"
#include "ticket/des.h"
#include "ticket/wire.h"

int main(int argc, char* argv[]) {
  if (argc != 3) bench::die("usage: bench_des_receiver <receive buffer bytes> block|spin");
  const auto buffer_bytes = static_cast<int>(bench::number_arg(argv, 1));
  const bench::waiting how = bench::waiting_arg(argv[2]);

  const key_schedule key = bench::session_schedule();
  ticket::receive_buffer rx{};
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  const int fd = bench::open_receiver(buffer_bytes);
  const auto cipher = std::span<const std::uint8_t>(rx).subspan(ticket::krb_prv_cipher_at);

  bench::receive_stream(fd, rx, how, [&] {
    if (!decrypt_part(key, cipher, ticket::prv_body_size, body)) bench::die("record does not fit");
    return get_u32_net(body, ticket::prv_data_at);
  });
}
