// bench_des_engine [rounds [seconds]]: times the DES engine in every variant this
// machine runs against OpenSSL's DES in the same run, on 978-byte prv_bodies
// sealed into 988-byte datagram areas at offset 4 as the server seals them:
// encryption at 64 and 512 parts per call, decryption of one record per call
// (as the client receives them) and of 64 and 512. Thread CPU time, so other
// processes on the machine count less. Each case is timed `rounds` times
// (default 3) for at least `seconds` (default 0.1), the variants taking
// turns, and the median is printed as
//   case=encrypt_512 variant=avx2 mb_s=812.4 ratio=10.61
// followed by the break-even lines and the process's own choice:
//   break_even variant=avx2 encrypt_parts=6 decrypt_blocks=5
//   chosen=avx512 source=best_available

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "bench/stream.h"
#include "ticket/des_engine.h"
#include "ticket/wire.h"

namespace {

constexpr std::size_t record = ticket::prv_body_size;
constexpr std::size_t datagram = ticket::krb_prv_size;
constexpr std::size_t cipher_at = ticket::krb_prv_cipher_at;
constexpr double mb = 1e6;

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct buffers {
  std::vector<std::uint8_t> plain, datagrams;
  explicit buffers(std::size_t parts) : plain(parts * record), datagrams(parts * datagram) {
    std::mt19937_64 random(parts);
    for (auto& byte : plain) byte = static_cast<std::uint8_t>(random());
  }
  std::span<std::uint8_t> cipher_area() { return std::span(datagrams).subspan(cipher_at); }
};

// Seconds of thread CPU time per call, over calls enough to take a while.
// The clock is read around doubling runs of calls, never around each call:
// reading a thread's CPU time is a system call, as long as a small call.
template <class Call>
double seconds_per_call(Call call, double at_least) {
  call();  // warm
  for (std::size_t calls = 1;; calls *= 2) {
    const double start = thread_seconds();
    for (std::size_t i = 0; i < calls; ++i) call();
    const double elapsed = thread_seconds() - start;
    if (elapsed >= at_least) return elapsed / static_cast<double>(calls);
  }
}

enum class direction { encrypt, decrypt };

struct bench_case {
  const char* name;
  direction way;
  std::size_t parts;
};

constexpr bench_case cases[] = {
    {"encrypt_64", direction::encrypt, 64},   {"encrypt_512", direction::encrypt, 512},
    {"decrypt_1", direction::decrypt, 1},     {"decrypt_64", direction::decrypt, 64},
    {"decrypt_512", direction::decrypt, 512},
};

double seconds_of(const engine_key& key, const bench_case& c, const des_engine& engine, buffers& b, double at_least) {
  if (c.way == direction::encrypt) {
    return seconds_per_call(
        [&] {
          if (!encrypt_parts(key, record, c.parts, b.plain, record, b.cipher_area(), datagram, engine))
            bench::die("encrypt_parts refused the records");
        },
        at_least);
  }
  return seconds_per_call(
      [&] {
        if (!decrypt_parts(key, record, c.parts, b.cipher_area(), datagram, b.plain, record, engine))
          bench::die("decrypt_parts refused the records");
      },
      at_least);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The least work from which a variant's cores beat OpenSSL at every larger
// amount tried: parts per call for encryption, blocks of one part for
// decryption.
void print_break_even(const engine_key& key, des_variant variant, double seconds) {
  const des_engine cores{variant, false}, openssl{des_variant::openssl, false};
  buffers b(64);
  std::size_t encrypt_from = 0;
  for (std::size_t parts = 64; parts >= 1; --parts) {
    const bench_case c{"", direction::encrypt, parts};
    const double ours = seconds_of(key, c, cores, b, seconds), theirs = seconds_of(key, c, openssl, b, seconds);
    if (ours >= theirs) break;
    encrypt_from = parts;
  }
  std::size_t decrypt_from = 0;
  for (std::size_t part_blocks = 64; part_blocks >= 1; --part_blocks) {
    const std::size_t n = part_blocks * 8;
    const auto decrypt = [&](const des_engine& engine) {
      return seconds_per_call(
          [&] {
            if (!decrypt_part(key, std::span(b.datagrams).first(n), n, b.plain, engine)) bench::die("refused");
          },
          seconds);
    };
    if (decrypt(cores) >= decrypt(openssl)) break;
    decrypt_from = part_blocks;
  }
  std::printf("break_even variant=%s encrypt_parts=%zu decrypt_blocks=%zu\n", variant_name(variant).data(),
              encrypt_from, decrypt_from);
}

}  // namespace

int main(int argc, char* argv[]) {
  const long rounds = argc > 1 ? bench::number_arg(argv, 1) : 3;
  char* end = nullptr;
  const double seconds = argc > 2 ? std::strtod(argv[2], &end) : 0.1;
  if (rounds < 1 || argc > 3 || (argc > 2 && *end != '\0') || !(seconds > 0))
    bench::die("usage: bench_des_engine [rounds [seconds]]");
  const std::array<std::uint8_t, 8> key_bytes = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};
  engine_key key{};
  if (make_engine_key(key_bytes, key) != 0) bench::die("the bench key was refused");

  std::vector<des_variant> variants;
  for (const des_variant variant : des_variants)
    if (variant_available(variant)) variants.push_back(variant);

  for (const bench_case& c : cases) {
    buffers b(c.parts);
    std::vector<std::vector<double>> timings(variants.size());
    for (long round = 0; round < rounds; ++round)
      for (std::size_t v = 0; v < variants.size(); ++v)
        timings[v].push_back(seconds_of(key, c, {variants[v], true}, b, seconds));
    const double openssl = median(timings[0]);
    for (std::size_t v = 0; v < variants.size(); ++v) {
      const double s = median(timings[v]);
      std::printf("case=%s variant=%s mb_s=%.1f ratio=%.2f\n", c.name, variant_name(variants[v]).data(),
                  static_cast<double>(c.parts * record) / s / mb, openssl / s);
    }
  }
  for (std::size_t v = 1; v < variants.size(); ++v) print_break_even(key, variants[v], seconds / 10);
  const variant_choice& chosen = engine_choice();
  static constexpr const char* sources[] = {"best_available", "forced", "unknown_name", "unavailable"};
  std::printf("chosen=%s source=%s\n", variant_name(chosen.variant).data(),
              sources[static_cast<std::size_t>(chosen.source)]);
}
