#ifndef COMMON_SHA1_H
#define COMMON_SHA1_H

#include <array>
#include <cstdint>
#include <span>

inline constexpr std::size_t digest_len = 20;
using sha1_digest = std::array<std::uint8_t, digest_len>;

enum class digest_status { ok, open_failed, read_failed };

// Fills digest with the SHA-1 digest of the file at path; unless ok, the
// digest is meaningless.
digest_status file_digest(const char* path, std::span<std::uint8_t, digest_len> digest);

#endif
