#include "common/secret_arg.h"

#include <algorithm>
#include <cstring>

void hide_argument(char* text) { std::memset(text, 'x', std::strlen(text)); }

const char* take_argument(char* text, std::span<char> copy) {
  if (copy.empty()) return nullptr;
  const std::size_t kept = std::min(std::strlen(text), copy.size() - 1);
  std::fill(std::copy_n(text, kept, copy.begin()), copy.end(), '\0');
  hide_argument(text);
  return copy.data();
}
