// bench_udp_receiver <receive size> <receive buffer bytes> block|spin|batch|mmsg:
// receives the stream of bench_udp_sender into a buffer of the given size and
// does nothing else with it but read its number, then prints the tally. A
// receive buffer of 0 keeps the system's default. "batch" receives as the
// clients do, draining the socket into a large area many datagrams a call;
// "mmsg" the same with recvmmsg alone, no coalesced pieces.

#include <array>
#include <cstdint>
#include <string_view>

#include "bench/stream.h"
#include "common/bytes.h"
#include "common/mapped_area.h"
#include "stream/socket_source.h"

namespace {
constexpr std::size_t seq_at = 8;
constexpr std::size_t largest = 65536;
}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) bench::die("usage: bench_udp_receiver <receive size> <receive buffer bytes> block|spin|batch|mmsg");
  const auto size = static_cast<std::size_t>(bench::number_arg(argv, 1));
  const auto buffer_bytes = static_cast<int>(bench::number_arg(argv, 2));
  const bool mmsg_only = std::string_view(argv[3]) == "mmsg";
  const bool batched = mmsg_only || std::string_view(argv[3]) == "batch";
  const bench::waiting how = batched ? bench::waiting::block : bench::waiting_arg(argv[3]);
  if (size < seq_at + 4 || size > largest) bench::die("receive size out of range");

  static std::array<std::uint8_t, largest> buffer{};
  const std::span<std::uint8_t> rx(buffer.data(), size);
  const int fd = bench::open_receiver(buffer_bytes);

  if (!batched) {
    bench::receive_stream(fd, rx, how, [&] { return get_u32_net(rx, seq_at); });
    return 0;
  }
  mapped_area area(stream_area_size, page_alignment::huge);
  socket_source source(fd, mmsg_only ? batch_features{true, false, false} : probe_batch_features());
  stream_receiver stream(source, area.bytes(), size);
  bench::tally t;
  for (;;) {
    const std::uint8_t* got = nullptr;
    if (stream.next_view(rx, got) != receive_status::ok) {
      t.timed_out = true;
      break;
    }
    if (stream.last_size() <= bench::end_marker_size) break;
    t.note(get_u32_net(std::span<const std::uint8_t>(got, size), seq_at), bench::seconds_now());
  }
  bench::print_tally(t);
}
