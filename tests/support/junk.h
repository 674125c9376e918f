#ifndef TESTS_SUPPORT_JUNK_H
#define TESTS_SUPPORT_JUNK_H

// Areas that codec tests hand to encoders and decoders: filled with junk
// first, so that a byte an encoder fails to write, or a decoder fails to
// clear, shows.

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace testing_support {

inline constexpr std::uint8_t junk = 0xAA;

template <std::size_t N>
std::array<std::uint8_t, N> junk_filled() {
  std::array<std::uint8_t, N> out;
  out.fill(junk);
  return out;
}

inline bool all_zero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace testing_support

#endif
