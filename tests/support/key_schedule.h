#ifndef TESTS_SUPPORT_KEY_SCHEDULE_H
#define TESTS_SUPPORT_KEY_SCHEDULE_H

// The key schedules that tests and fuzz targets build from keys they chose
// themselves. Header-only and free of GoogleTest, so that the fuzz targets
// share it: a refused key is a mistake in the caller, and stops the run.

#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "common/hex.h"
#include "ticket/des.h"

namespace testing_support {

inline key_schedule schedule_of(std::span<const std::uint8_t, 8> key) {
  key_schedule schedule{};
  if (make_key_schedule(key, schedule) != 0) {
    std::fprintf(stderr, "a key chosen for a test or fuzz target was refused\n");
    std::abort();
  }
  return schedule;
}

// Hexadecimal text, two characters a byte, as the bytes it spells: known
// answers written as an independent tool prints them.
inline std::vector<std::uint8_t> bytes_of(const char* hex_text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; hex_text[i] != '\0' && hex_text[i + 1] != '\0'; i += 2) {
    const char pair[3] = {hex_text[i], hex_text[i + 1], 0};
    bytes.push_back(static_cast<std::uint8_t>(std::strtol(pair, nullptr, 16)));
  }
  return bytes;
}

// The key as 16 hexadecimal characters.
inline key_schedule schedule_of(const char* key_text) {
  des_key key{};
  hex_to_bytes(key_text, key);
  return schedule_of(key);
}

}  // namespace testing_support

#endif
