#include "common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* open_input(const char* path, input_status& why) {
  why = input_status::cannot_open;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  const bool examined = fstat(fd, &status) == 0;
  if (!examined || !S_ISREG(status.st_mode)) {
    if (examined) why = input_status::not_regular;
    close(fd);
    return nullptr;
  }
  // A regular file never waits; the flag only mattered for the open.
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* input = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "r");
  if (input == nullptr) {
    close(fd);
    return nullptr;
  }
  why = input_status::ok;
  return input;
}
