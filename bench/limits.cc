// bench_limits des <records>: times encrypt_part and then decrypt_part over
// that many 978-byte prv_bodies, each part started afresh from the fixed IV as
// the ticket programs do, on one core.
// bench_limits sha1 <file> <repeats>: times file_digest over the file, repeats
// times in a row (the first run also brings the file into the page cache).
// Each prints one line of key=value fields.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "bench/stream.h"
#include "common/bytes.h"
#include "common/sha1.h"
#include "ticket/des.h"
#include "ticket/wire.h"

namespace {

void time_des(std::uint32_t records) {
  const key_schedule key = bench::session_schedule();
  std::array<std::uint8_t, ticket::prv_body_size> body{};
  std::array<std::uint8_t, blocks(ticket::prv_body_size)> cipher{};
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 7);

  // Each record differs, so no pass can be skipped; the check value keeps the
  // results observable.
  std::uint32_t check = 0;
  const double encrypt_start = bench::seconds_now();
  for (std::uint32_t seq = 0; seq < records; ++seq) {
    put_u32_net(body, ticket::prv_data_at, seq);
    encrypt_part(key, body, cipher);
    check += cipher[cipher.size() - 1];
  }
  const double encrypt_end = bench::seconds_now();
  for (std::uint32_t seq = 0; seq < records; ++seq) {
    cipher[0] = static_cast<std::uint8_t>(seq);
    decrypt_part(key, cipher, body.size(), body);
    check += body[body.size() - 1];
  }
  const double decrypt_end = bench::seconds_now();
  std::printf("records=%u record_bytes=%zu encrypt_seconds=%.6f decrypt_seconds=%.6f check=%u\n", records, body.size(),
              encrypt_end - encrypt_start, decrypt_end - encrypt_end, check);
}

void time_sha1(const char* path, long repeats) {
  struct stat st {};
  if (stat(path, &st) != 0) bench::die("no such file");
  sha1_digest digest{};
  std::printf("bytes=%lld seconds=", static_cast<long long>(st.st_size));
  for (long i = 0; i < repeats; ++i) {
    const double start = bench::seconds_now();
    if (file_digest(path, digest) != digest_status::ok) bench::die("digest failed");
    std::printf(i == 0 ? "%.6f" : ",%.6f", bench::seconds_now() - start);
  }
  std::printf(" first_byte=%u\n", digest[0]);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::strcmp(argv[1], "des") == 0) {
    time_des(static_cast<std::uint32_t>(bench::number_arg(argv, 2)));
  } else if (argc == 4 && std::strcmp(argv[1], "sha1") == 0) {
    time_sha1(argv[2], bench::number_arg(argv, 3));
  } else {
    bench::die("usage: bench_limits des <records> | bench_limits sha1 <file> <repeats>");
  }
}
