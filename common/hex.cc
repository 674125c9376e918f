#include "common/hex.h"

#include <cstdlib>

std::span<std::uint8_t, 8> hex_to_bytes(const char* text, std::span<std::uint8_t, 8> key) {
  bool ended = false;  // once the text's zero is met, every later pair is absent
  for (std::size_t i = 0; i < key.size(); ++i) {
    char pair[3] = {0, 0, 0};
    for (std::size_t j = 0; j < 2 && !ended; ++j) {
      const char c = text[2 * i + j];
      if (c == '\0')
        ended = true;
      else
        pair[j] = c;
    }
    // strtol stops at the first non-hexadecimal character, which gives the
    // value of a lone leading digit, and 0 when there is none.
    key[i] = static_cast<std::uint8_t>(std::strtol(pair, nullptr, 16) & 0xff);
  }
  return key;
}
