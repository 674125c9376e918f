// The DES engine against OpenSSL's DES, part by part, on arbitrary input: the
// first bytes choose the variant, the number of parts, their length and the
// key; the rest, repeated, is the plaintext, and also taken as ciphertext.
// Every variant this machine runs is reachable, its cores on small work too.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "ticket/des.h"
#include "ticket/des_engine.h"

namespace {

constexpr std::size_t header_len = 12;
// Enough parts to cross the widest core's lane count, while the parts stay
// short enough for many runs a second.
constexpr std::size_t most_parts = 1100;
constexpr std::size_t most_bytes = std::size_t{24} * 1024;

std::vector<des_engine> engines_here() {
  std::vector<des_engine> engines;
  for (const des_variant variant : des_variants)
    if (variant_available(variant)) engines.push_back({variant, false});
  return engines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<des_engine> engines = engines_here();
  const auto input = fuzz::input(data, size);
  if (input.size() < header_len) return 0;

  const des_engine& engine = engines[input[0] % engines.size()];
  const std::size_t count = 1 + (input[1] | (input[2] & 7U) << 8) % most_parts;
  const std::size_t n = std::min<std::size_t>((input[3] | (input[2] >> 3) << 8) % 1011, most_bytes / count);
  des_key key_bytes{};
  for (std::size_t i = 0; i < 8; ++i) {
    const auto byte = static_cast<std::uint8_t>(input[4 + i] & 0xFE);
    key_bytes[i] = static_cast<std::uint8_t>(byte | ((std::popcount(static_cast<unsigned>(byte)) & 1) == 0 ? 1 : 0));
  }
  engine_key key{};
  if (make_engine_key(key_bytes, key) != 0) return 0;  // weak keys are refused alike

  const auto rest = input.subspan(header_len);
  const std::size_t width = blocks(n);
  std::vector<std::uint8_t> plain(count * n), cipher_in(count * width);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = rest.empty() ? 0 : rest[i % rest.size()];
  for (std::size_t i = 0; i < cipher_in.size(); ++i) cipher_in[i] = rest.empty() ? 0 : rest[(i * 7) % rest.size()];

  // Encryption, and back.
  std::vector<std::uint8_t> ours(count * width), theirs(count * width);
  fuzz::check(encrypt_parts(key, n, count, plain, n, ours, width, engine), "the engine encrypts parts that fit");
  for (std::size_t i = 0; i < count; ++i)
    encrypt_part(key.schedule, std::span(plain).subspan(i * n, n), std::span(theirs).subspan(i * width, width));
  fuzz::check(ours == theirs, "the engine's ciphertext is OpenSSL's");
  std::vector<std::uint8_t> back(count * n);
  fuzz::check(decrypt_parts(key, n, count, ours, width, back, n, engine), "the engine decrypts parts that fit");
  fuzz::check(back == plain, "decryption restores the plaintext");

  // Decryption of arbitrary ciphertext.
  std::vector<std::uint8_t> ours_plain(count * n), theirs_plain(count * n);
  fuzz::check(decrypt_parts(key, n, count, cipher_in, width, ours_plain, n, engine), "arbitrary parts decrypt");
  for (std::size_t i = 0; i < count; ++i)
    decrypt_part(key.schedule, std::span(cipher_in).subspan(i * width, width), n,
                 std::span(theirs_plain).subspan(i * n, n));
  fuzz::check(ours_plain == theirs_plain, "the engine's plaintext is OpenSSL's");
  return 0;
}
