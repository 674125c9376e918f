#ifndef COMMON_SHA1_H
#define COMMON_SHA1_H

#include <array>
#include <cstdint>
#include <span>

inline constexpr std::size_t digest_len = 20;
using sha1_digest = std::array<std::uint8_t, digest_len>;

// Fills digest with the SHA-1 digest of the file at path. Returns false when
// the file cannot be opened (after printing "\nerror opening file1\n" in
// every mode) or a read fails; the digest is then meaningless.
bool mysha1(const char* path, std::span<std::uint8_t, digest_len> digest);

#endif
