// The routines that read command-line text: hex_to_bytes, to_num, text_length and make_id,
// each given the input as a zero-terminated copy of exactly its size, so that
// AddressSanitizer sees any read past the terminating zero.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/hex.h"
#include "common/numbers.h"
#include "fuzz/fuzz_support.h"
#include "ticket/codec.h"

namespace {

// to_num as its rule is written: each character's code minus 48, modulo
// 65536, times 10 to its position in floating point, truncated to 32 bits,
// summed modulo 65536. False when some term reaches 2^31, where the rule
// leaves the result open.
bool reference_to_num(const char* text, std::uint16_t& sum) {
  const std::size_t n = std::strlen(text);
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t digit = (static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) - 48u) & 0xffff;
    if (digit == 0) continue;
    const double term = digit * std::pow(10.0, static_cast<double>(n - 1 - i));
    if (term >= 2147483648.0) return false;
    total += static_cast<std::uint32_t>(static_cast<std::int32_t>(term));
  }
  sum = static_cast<std::uint16_t>(total);
  return true;
}

// One key byte as its rule is written: the pair at 2i and 2i + 1 as a text of
// its own, read by strtol in base 16; characters at or past the text's end
// are absent.
std::uint8_t reference_key_byte(const char* text, std::size_t len, std::size_t i) {
  char pair[3] = {};
  if (2 * i < len) pair[0] = text[2 * i];
  if (2 * i + 1 < len) pair[1] = text[2 * i + 1];
  return static_cast<std::uint8_t>(std::strtol(pair, nullptr, 16) & 0xff);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto copy = std::make_unique<char[]>(size + 1);
  if (size > 0) std::memcpy(copy.get(), data, size);
  copy[size] = '\0';
  const char* text = copy.get();
  const std::size_t len = std::strlen(text);

  fuzz::check(text_length(text) == static_cast<std::uint16_t>(len), "size is the length modulo 65536");

  std::uint16_t expected = 0;
  if (reference_to_num(text, expected)) fuzz::check(to_num(text) == expected, "to_num follows its rule");

  des_key key;
  key.fill(0xAA);
  hex_to_bytes(text, key);
  for (std::size_t i = 0; i < key.size(); ++i)
    fuzz::check(key[i] == reference_key_byte(text, len, i), "hex_to_bytes reads each pair as strtol does");

  ticket::id_field id;
  id.fill(0xAA);
  const bool fits = ticket::make_id(text, id);
  fuzz::check(fits == (len <= ticket::id_len), "an id refuses exactly a text longer than its field");
  const std::size_t kept = fits ? len : 0;
  fuzz::check(std::memcmp(id.data(), text, kept) == 0 && fuzz::all_zero(std::span(id).subspan(kept)),
              "an id holds the text, then zero bytes");
  return 0;
}
