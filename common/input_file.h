#ifndef COMMON_INPUT_FILE_H
#define COMMON_INPUT_FILE_H

#include <cstdio>

// Why an input file could not be opened for a delivery.
enum class input_status {
  ok,
  cannot_open,  // missing, unreadable
  not_regular,  // a FIFO, a device or a directory: it cannot be read twice,
                // once for the stream and once for its digest
};

// Opens the regular file at path for reading, without ever waiting (a FIFO
// without a writer would hold a server for ever). Null, with why set, when
// it is not to be served.
std::FILE* open_input(const char* path, input_status& why);

#endif
