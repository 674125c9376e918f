// The one file that calls OpenSSL's DES; its interface is deprecated in
// OpenSSL 3 but single DES is what the protocol is built on.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "ticket/des.h"

int make_key_schedule(std::span<const std::uint8_t, 8> key, key_schedule& out) {
  const_DES_cblock block;
  for (std::size_t i = 0; i < 8; ++i) block[i] = key[i];
  return DES_set_key_checked(&block, &out.schedule);
}

// DES_ncbc_encrypt takes a mutable schedule pointer but only reads through it.
static void run_cbc(const key_schedule& key, const std::uint8_t* in, std::uint8_t* out, std::size_t n, int direction) {
  // The library overwrites the IV it is given: each part gets a fresh copy.
  DES_cblock iv;
  for (std::size_t i = 0; i < 8; ++i) iv[i] = fixed_iv[i];
  DES_ncbc_encrypt(in, out, static_cast<long>(n), const_cast<DES_key_schedule*>(&key.schedule), &iv, direction);
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
