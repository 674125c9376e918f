#include "common/options.h"

#include <cstring>

namespace {

// Decimal digits only, at most `most`; nothing for anything else.
std::optional<std::uint64_t> whole_number(const char* text, std::size_t length, std::uint64_t most) {
  if (length == 0) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > most) return std::nullopt;
  }
  return value;
}

// The value of an option with one: "--name=value" in this argument, or
// "--name" and the value in the next. Null when text is not the option;
// *took_next says whether the next argument was used.
const char* value_of(const char* name, int argc, const char* const argv[], int at, bool* took_next) {
  const std::size_t length = std::strlen(name);
  const char* text = argv[at];
  *took_next = false;
  if (std::strncmp(text, name, length) != 0) return nullptr;
  if (text[length] == '=') return text + length + 1;
  if (text[length] != '\0' || at + 1 >= argc) return nullptr;
  *took_next = true;
  return argv[at + 1];
}

struct help_line {
  unsigned needs;  // 0: every program
  const char* text;
};

constexpr help_line help_lines[] = {
    {takes_credentials, "  --credentials   each key or password argument names a file in $CREDENTIALS_DIRECTORY"},
    {takes_rate,
     "  --rate RATE     send at most RATE bits per second on the wire (k, M, G: powers of 1000; 0: no cap)"},
    {takes_retries, "  --retries N     start a failed exchange afresh, at most N more times"},
    {0, "  --help          print this help and exit"},
    {0, "  --version       print the program's name and version and exit"},
};

}  // namespace

std::optional<std::uint64_t> parse_rate(const char* text) {
  constexpr std::uint64_t most = 100'000'000'000;
  std::size_t length = std::strlen(text);
  std::uint64_t unit = 1;
  if (length > 0) {
    const char last = text[length - 1];
    unit = last == 'k' ? 1'000 : last == 'M' ? 1'000'000 : last == 'G' ? 1'000'000'000 : 1;
    if (unit != 1) --length;
  }
  const std::optional<std::uint64_t> number = whole_number(text, length, most / unit);
  if (!number) return std::nullopt;
  return *number * unit;
}

program_options read_options(int argc, const char* const argv[], unsigned accepted) {
  program_options options;
  bool rate_given = false;
  bool retries_given = false;
  int at = 1;
  while (at < argc) {
    const char* text = argv[at];
    bool took_next = false;
    if ((accepted & takes_credentials) != 0 && !options.credentials && std::strcmp(text, "--credentials") == 0) {
      options.credentials = true;
    } else if (!options.help && std::strcmp(text, "--help") == 0) {
      options.help = true;
    } else if (!options.version && std::strcmp(text, "--version") == 0) {
      options.version = true;
    } else if (const char* rate = (accepted & takes_rate) != 0 && !rate_given
                                      ? value_of("--rate", argc, argv, at, &took_next)
                                      : nullptr) {
      const std::optional<std::uint64_t> bits = parse_rate(rate);
      if (!bits) break;
      options.rate = *bits;
      rate_given = true;
    } else if (const char* count = (accepted & takes_retries) != 0 && !retries_given
                                       ? value_of("--retries", argc, argv, at, &took_next)
                                       : nullptr) {
      const std::optional<std::uint64_t> n = whole_number(count, std::strlen(count), most_retries);
      if (!n) break;
      options.retries = static_cast<int>(*n);
      retries_given = true;
    } else {
      break;
    }
    at += took_next ? 2 : 1;
  }
  options.first_positional = at;
  return options;
}

const char* option_help(unsigned accepted, int index) {
  for (const help_line& line : help_lines)
    if ((line.needs == 0 || (line.needs & accepted) != 0) && index-- == 0) return line.text;
  return nullptr;
}
