// bench_udp_receiver <receive size> <receive buffer bytes> block|spin:
// receives the stream of bench_udp_sender into a buffer of the given size and
// does nothing else with it but read its number, then prints the tally. A
// receive buffer of 0 keeps the system's default.

#include <array>
#include <cstdint>

#include "bench/stream.h"
#include "common/bytes.h"

namespace {
constexpr std::size_t seq_at = 8;
constexpr std::size_t largest = 65536;
}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) bench::die("usage: bench_udp_receiver <receive size> <receive buffer bytes> block|spin");
  const auto size = static_cast<std::size_t>(bench::number_arg(argv, 1));
  const auto buffer_bytes = static_cast<int>(bench::number_arg(argv, 2));
  const bench::waiting how = bench::waiting_arg(argv[3]);
  if (size < seq_at + 4 || size > largest) bench::die("receive size out of range");

  static std::array<std::uint8_t, largest> buffer{};
  const std::span<std::uint8_t> rx(buffer.data(), size);
  const int fd = bench::open_receiver(buffer_bytes);

  bench::receive_stream(fd, rx, how, [&] { return get_u32_net(rx, seq_at); });
}
