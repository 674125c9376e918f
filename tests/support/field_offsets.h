#ifndef TESTS_SUPPORT_FIELD_OFFSETS_H
#define TESTS_SUPPORT_FIELD_OFFSETS_H

// Checking that decoders read each field at its own offset only: change one
// byte of an area and see which of the decoded fields change. A decoder is
// seen through a view that returns every field it yields, each as bytes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace testing_support {

using field_values = std::vector<std::vector<std::uint8_t>>;
using field_view = field_values (*)(std::span<const std::uint8_t>);

// A number as its four bytes, most significant first.
inline std::vector<std::uint8_t> value(std::uint32_t n) {
  return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
          static_cast<std::uint8_t>(n)};
}

template <std::size_t N>
std::vector<std::uint8_t> value(const std::array<std::uint8_t, N>& field) {
  return {field.begin(), field.end()};
}

// The first N bytes as the fixed area a decoder takes.
template <std::size_t N>
std::array<std::uint8_t, N> area_of(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, N> area;
  std::copy_n(bytes.begin(), N, area.begin());
  return area;
}

// size bytes as left over from earlier use: none of them zero, and
// neighbours differ, so a read one byte off sees another value.
inline std::vector<std::uint8_t> leftover_bytes(std::size_t size) {
  std::vector<std::uint8_t> area(size);
  for (std::size_t i = 0; i < area.size(); ++i) area[i] = static_cast<std::uint8_t>(0x30 + i % 97);
  return area;
}

// The positions, in what view returns, of the fields that read differently
// once the byte at `at` of area is incremented.
inline std::vector<std::size_t> fields_changed_at(std::span<const std::uint8_t> area, std::size_t at, field_view view) {
  const field_values before = view(area);
  std::vector<std::uint8_t> changed(area.begin(), area.end());
  ++changed[at];
  const field_values after = view(changed);
  std::vector<std::size_t> differing;
  for (std::size_t f = 0; f < after.size() && f < before.size(); ++f)
    if (after[f] != before[f]) differing.push_back(f);
  return differing;
}

}  // namespace testing_support

#endif
