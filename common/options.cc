#include "common/options.h"

#include <cstring>

namespace {

// An option that is only switched on. One that takes a value will need a
// field of its own for it, and an error value for a missing or bad one.
struct flag_option {
  const char* name;
  bool program_options::*field;
};

constexpr flag_option flags[] = {
    {"--credentials", &program_options::credentials},
};

// The flag spelled exactly as text and not yet given; null otherwise.
const flag_option* new_flag(const program_options& options, const char* text) {
  for (const flag_option& flag : flags)
    if (std::strcmp(text, flag.name) == 0 && !(options.*flag.field)) return &flag;
  return nullptr;
}

}  // namespace

program_options read_options(int argc, const char* const argv[]) {
  program_options options;
  int at = 1;
  for (; at < argc; ++at) {
    const flag_option* flag = new_flag(options, argv[at]);
    if (flag == nullptr) break;
    options.*flag->field = true;
  }
  options.first_positional = at;
  return options;
}
