#ifndef COMMON_OPTIONS_H
#define COMMON_OPTIONS_H

// Options that a program takes before its positional arguments. Each is
// recognised only in its exact spelling, only by the programs it belongs to,
// and at most once; the first argument that is not one ends the options, so
// an argument list that starts with anything else (a lone -DDEBUG, an
// unknown --word, an option with a value it cannot take) is read exactly as
// it would be without this step.

#include <cstdint>
#include <optional>

// The options a program takes besides --help and --version, which every
// program takes.
enum option_set : unsigned {
  takes_credentials = 1U << 0,
  takes_rate = 1U << 1,
  takes_retries = 1U << 2,
};

struct program_options {
  // --credentials: each secret argument is not the secret but the name of a
  // credential that the service manager handed the program (read_secret).
  bool credentials = false;
  // --rate RATE or --rate=RATE: a cap on the stream in bits per second on
  // the wire; 0, no cap, when not given.
  std::uint64_t rate = 0;
  // --retries N: how many times more a failed exchange is started afresh.
  int retries = 0;
  bool help = false;     // --help
  bool version = false;  // --version
  // Index in argv of the first positional argument; 1 when no option is given.
  int first_positional = 1;
};

program_options read_options(int argc, const char* const argv[], unsigned accepted);

// RATE as --rate takes it: decimal digits with an optional k, M or G
// (powers of 1000), in bits per second; 0 is no cap. Nothing unless it is a
// whole number of at most 100G.
std::optional<std::uint64_t> parse_rate(const char* text);

// The most --retries takes.
inline constexpr int most_retries = 100;

// One line of --help for each option a program takes, in order; null after
// the last.
const char* option_help(unsigned accepted, int index);

#endif
