#ifndef COMMON_BYTES_H
#define COMMON_BYTES_H

// Byte-order helpers for wire fields. Every multi-byte field is written and
// read through these, so a build for any CPU puts the same bytes on the wire.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include <arpa/inet.h>

inline void put_u16_net(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value) {
  const std::uint16_t net = htons(value);
  std::memcpy(out.subspan(at, 2).data(), &net, 2);
}

inline std::uint16_t get_u16_net(std::span<const std::uint8_t> in, std::size_t at) {
  std::uint16_t net = 0;
  std::memcpy(&net, in.subspan(at, 2).data(), 2);
  return ntohs(net);
}

inline void put_u32_net(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
  const std::uint32_t net = htonl(value);
  std::memcpy(out.subspan(at, 4).data(), &net, 4);
}

inline std::uint32_t get_u32_net(std::span<const std::uint8_t> in, std::size_t at) {
  std::uint32_t net = 0;
  std::memcpy(&net, in.subspan(at, 4).data(), 4);
  return ntohl(net);
}

inline void put_u32_le(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
  const auto field = out.subspan(at, 4);
  field[0] = static_cast<std::uint8_t>(value);
  field[1] = static_cast<std::uint8_t>(value >> 8);
  field[2] = static_cast<std::uint8_t>(value >> 16);
  field[3] = static_cast<std::uint8_t>(value >> 24);
}

inline std::uint32_t get_u32_le(std::span<const std::uint8_t> in, std::size_t at) {
  const auto field = in.subspan(at, 4);
  return static_cast<std::uint32_t>(field[0]) | static_cast<std::uint32_t>(field[1]) << 8 |
         static_cast<std::uint32_t>(field[2]) << 16 | static_cast<std::uint32_t>(field[3]) << 24;
}

// Zeroes a whole area: encoders start from it, so bytes no field owns go out
// as zero.
inline void zero(std::span<std::uint8_t> area) {
  if (!area.empty()) std::memset(area.data(), 0, area.size());
}

// Copies a fixed-width field out of a buffer.
template <std::size_t N>
inline std::array<std::uint8_t, N> get_array(std::span<const std::uint8_t> in, std::size_t at) {
  std::array<std::uint8_t, N> out{};
  std::memcpy(out.data(), in.subspan(at, N).data(), N);
  return out;
}

inline void put_bytes(std::span<std::uint8_t> out, std::size_t at, std::span<const std::uint8_t> in) {
  if (!in.empty()) std::memcpy(out.subspan(at, in.size()).data(), in.data(), in.size());
}

#endif
