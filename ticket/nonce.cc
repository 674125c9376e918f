#include "ticket/nonce.h"

#include <algorithm>
#include <cstdio>

#include "common/bytes.h"

namespace ticket {

std::uint16_t encode_nonce_reply(std::span<std::uint8_t, nonce_reply_area> area, std::uint32_t nonce) {
  zero(area);
  const auto successor = static_cast<std::int32_t>(nonce + 1u);
  char text[12];  // "-2147483648" and its zero
  const int text_len = std::snprintf(text, sizeof text, "%d", static_cast<int>(successor));
  std::copy(text, text + text_len, area.begin());
  return nonce_reply_length(static_cast<std::size_t>(text_len));
}

static bool is_space(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::uint32_t decode_nonce_reply(std::span<const std::uint8_t, nonce_reply_area> area) {
  std::size_t i = 0;
  while (i < area.size() && is_space(area[i])) ++i;
  bool negative = false;
  if (i < area.size() && (area[i] == '-' || area[i] == '+')) negative = area[i++] == '-';
  std::uint32_t value = 0;
  for (; i < area.size() && area[i] >= '0' && area[i] <= '9'; ++i) value = value * 10u + (area[i] - '0');
  return negative ? 0u - value : value;
}

}  // namespace ticket
