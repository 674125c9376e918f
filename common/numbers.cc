#include "common/numbers.h"

#include <cstdlib>
#include <cstring>

// 10^p modulo 65536. The sum is kept modulo 65536, so exact integer
// arithmetic in that ring gives the same result as the floating-point product
// for every term below 2^31, and a well-defined one for larger terms.
static std::uint16_t pow10_mod_65536(std::size_t p) {
  std::uint32_t result = 1;
  for (std::size_t k = 0; k < p; ++k) {
    result = (result * 10) & 0xffff;
    if (result == 0) break;  // 10^16 is a multiple of 2^16: every higher power is 0
  }
  return static_cast<std::uint16_t>(result);
}

std::uint16_t to_num(const char* text) {
  const std::size_t n = std::strlen(text);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto code = static_cast<unsigned char>(text[i]);
    const std::uint32_t digit = (static_cast<std::uint32_t>(code) - 48u) & 0xffff;
    sum = (sum + digit * pow10_mod_65536(n - 1 - i)) & 0xffff;
  }
  return static_cast<std::uint16_t>(sum);
}

std::uint16_t text_length(const char* text) { return static_cast<std::uint16_t>(std::strlen(text) & 0xffff); }

std::uint16_t port_number(const char* text) {
  return static_cast<std::uint16_t>(std::strtol(text, nullptr, 10) & 0xffff);
}

bool is_port_text(const char* text) {
  unsigned long value = 0;
  std::size_t digits = 0;
  for (; text[digits] != '\0'; ++digits) {
    if (digits == 5 || text[digits] < '0' || text[digits] > '9') return false;
    value = value * 10 + static_cast<unsigned long>(text[digits] - '0');
  }
  return digits > 0 && value <= 65535;
}
