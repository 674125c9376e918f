// The one file that calls OpenSSL's SHA-1; its interface is deprecated in
// OpenSSL 3 but is the one the system is built on.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "common/sha1.h"

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include <openssl/sha.h>

digest_status file_digest(const char* path, std::span<std::uint8_t, digest_len> digest) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return digest_status::open_failed;
  SHA_CTX ctx;
  SHA1_Init(&ctx);
  // Large pieces: the digest does not depend on the piece size, and small
  // reads cost one system call each.
  std::array<unsigned char, 64 * 1024> piece;
  bool ok = true;
  for (;;) {
    const ssize_t got = read(fd, piece.data(), piece.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    SHA1_Update(&ctx, piece.data(), static_cast<std::size_t>(got));
  }
  SHA1_Final(digest.data(), &ctx);
  close(fd);
  return ok ? digest_status::ok : digest_status::read_failed;
}
