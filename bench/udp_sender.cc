// bench_udp_sender <port> <datagram size> <count> [batch]: sends count
// datagrams of the given size to 127.0.0.1 as fast as one blocking socket
// can, each numbered at offset 8 (where a DATA carries its pid), then the end
// markers. The rate this reaches with bench_udp_receiver is the machine's UDP
// limit, the bound of any program that sends datagrams of that size: one
// call per datagram, or with "batch" as the servers send, max_batch
// datagrams a call in the fastest way the kernel offers, or with "mmsg" by
// sendmmsg alone.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "bench/stream.h"
#include "common/bytes.h"
#include "stream/send.h"

namespace {
constexpr std::size_t seq_at = 8;
constexpr std::size_t largest = 65507;
}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4 && argc != 5) bench::die("usage: bench_udp_sender <port> <datagram size> <count> [batch|mmsg]");
  const bool batched = argc == 5;
  const bool mmsg_only = batched && std::string_view(argv[4]) == "mmsg";
  const auto port = static_cast<std::uint16_t>(bench::number_arg(argv, 1));
  const auto size = static_cast<std::size_t>(bench::number_arg(argv, 2));
  const auto count = static_cast<std::uint32_t>(bench::number_arg(argv, 3));
  if (size < seq_at + 4 || size > largest) bench::die("datagram size out of range");

  static std::array<std::uint8_t, largest> datagram{};
  const std::span<std::uint8_t> out(datagram.data(), size);
  const int fd = bench::open_sender();
  const sockaddr_in to = bench::loopback(port);

  static std::array<std::uint8_t, max_batch * largest> batch{};
  batch_features features = probe_batch_features();
  if (mmsg_only) features = {true, false, false};

  const double start = bench::seconds_now();
  if (batched) {
    for (std::uint32_t seq = 0; seq < count;) {
      const std::size_t n = std::min<std::size_t>(max_batch, count - seq);
      for (std::size_t i = 0; i < n; ++i)
        put_u32_net(std::span(batch).subspan(i * size, size), seq_at, seq + static_cast<std::uint32_t>(i));
      if (send_batch(fd, features, std::span(batch).first(n * size), size, n, to) != n) bench::die("send_batch");
      seq += static_cast<std::uint32_t>(n);
    }
  } else {
    for (std::uint32_t seq = 0; seq < count; ++seq) {
      put_u32_net(out, seq_at, seq);
      bench::send_all(fd, out, to);
    }
  }
  const double end = bench::seconds_now();
  bench::send_end(fd, to);
  std::printf("sent=%u seconds=%.6f\n", count, end - start);
}
