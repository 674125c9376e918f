#include "common/credentials.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "common/secret_arg.h"

namespace {

bool safe_name(const char* name) {
  return *name != '\0' && std::strchr(name, '/') == nullptr && std::strstr(name, "..") == nullptr;
}

}  // namespace

const char* credential_reason(credential_error error) {
  switch (error) {
    case credential_error::none:
      return "read";
    case credential_error::no_directory:
      return "no credentials directory ($CREDENTIALS_DIRECTORY is not set)";
    case credential_error::bad_name:
      return "not a credential name (empty, or holds '/' or '..')";
    case credential_error::unreadable:
      return "cannot be read";
    case credential_error::not_text:
      return "holds a zero byte";
  }
  return "unknown error";
}

credential_error read_credential(const char* directory, const char* name, std::span<char> text) {
  std::fill(text.begin(), text.end(), '\0');
  if (directory == nullptr || *directory == '\0') return credential_error::no_directory;
  if (!safe_name(name)) return credential_error::bad_name;
  if (text.empty()) return credential_error::unreadable;
  const std::string path = std::string(directory) + "/" + name;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return credential_error::unreadable;
  // Whatever lies past the room is left unread: the text is then one too
  // long, and the program's own length check refuses it.
  std::size_t filled = 0;
  const std::size_t room = text.size() - 1;
  while (filled < room) {
    const ssize_t got = read(fd, text.data() + filled, room - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      std::fill(text.begin(), text.end(), '\0');
      return credential_error::unreadable;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  close(fd);
  if (std::find(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(filled), '\0') !=
      text.begin() + static_cast<std::ptrdiff_t>(filled)) {
    std::fill(text.begin(), text.end(), '\0');
    return credential_error::not_text;
  }
  // A file written by echo, or by an editor, ends in a newline that is no
  // part of the secret.
  if (filled > 0 && text[filled - 1] == '\n') text[filled - 1] = '\0';
  return credential_error::none;
}

secret_text take_secret(bool credentials, char* arg, std::span<char> copy) {
  if (!credentials) return {take_argument(arg, copy), credential_error::none};
  const credential_error error = read_credential(std::getenv("CREDENTIALS_DIRECTORY"), arg, copy);
  return {error == credential_error::none ? copy.data() : nullptr, error};
}
