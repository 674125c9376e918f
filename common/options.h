#ifndef COMMON_OPTIONS_H
#define COMMON_OPTIONS_H

// Options that a program takes before its positional arguments. Each is
// recognised only in its exact spelling and at most once; the first argument
// that is not one ends the options, so an argument list that starts with
// anything else (a lone -DDEBUG, an unknown --word) is read exactly as it
// would be without this step.

struct program_options {
  // --credentials: each secret argument is not the secret but the name of a
  // credential that the service manager handed the program (read_secret).
  bool credentials = false;
  // Index in argv of the first positional argument; 1 when no option is given.
  int first_positional = 1;
};

program_options read_options(int argc, const char* const argv[]);

#endif
