// The one file that calls OpenSSL's DES; its interface is deprecated in
// OpenSSL 3 but single DES is what the protocol is built on.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "ticket/des.h"

#include <cstring>
#include <type_traits>

#include <openssl/des.h>

// The library's schedule travels in key_schedule's bytes, copied in and out,
// so that no includer of des.h needs the library's header.
static_assert(sizeof(DES_key_schedule) <= key_schedule_len);
static_assert(std::is_trivially_copyable_v<DES_key_schedule>);

int make_key_schedule(std::span<const std::uint8_t, 8> key, key_schedule& out) {
  const_DES_cblock block;
  for (std::size_t i = 0; i < 8; ++i) block[i] = key[i];
  DES_key_schedule schedule{};
  const int result = DES_set_key_checked(&block, &schedule);
  if (result == 0) std::memcpy(out.bytes.data(), &schedule, sizeof schedule);
  return result;
}

static void run_cbc(const key_schedule& key, const std::uint8_t* in, std::uint8_t* out, std::size_t n, int direction) {
  DES_key_schedule schedule;
  std::memcpy(&schedule, key.bytes.data(), sizeof schedule);
  // The library overwrites the IV it is given: each part gets a fresh copy.
  DES_cblock iv;
  for (std::size_t i = 0; i < 8; ++i) iv[i] = fixed_iv[i];
  DES_ncbc_encrypt(in, out, static_cast<long>(n), &schedule, &iv, direction);
}

bool encrypt_part(const key_schedule& key, std::span<const std::uint8_t> plain, std::span<std::uint8_t> cipher) {
  if (blocks(plain.size()) > cipher.size()) return false;
  if (plain.empty()) return true;
  run_cbc(key, plain.data(), cipher.data(), plain.size(), DES_ENCRYPT);
  return true;
}

bool decrypt_part(const key_schedule& key, std::span<const std::uint8_t> cipher, std::size_t n,
                  std::span<std::uint8_t> plain) {
  if (blocks(n) > cipher.size() || n > plain.size()) return false;
  if (n == 0) return true;
  run_cbc(key, cipher.data(), plain.data(), n, DES_DECRYPT);
  return true;
}
