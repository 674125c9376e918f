#ifndef COMMON_CREDENTIALS_H
#define COMMON_CREDENTIALS_H

// Secrets handed over by the service manager as credentials: files in the
// directory named by $CREDENTIALS_DIRECTORY, readable only by the service.
// A secret then never appears on a command line, where every local user can
// read it while the program starts.

#include <span>

enum class credential_error {
  none,
  no_directory,  // $CREDENTIALS_DIRECTORY is not set
  bad_name,      // empty, or holds '/' or "..": it would leave the directory
  unreadable,    // missing, or cannot be opened or read
  not_text,      // holds a zero byte
};

// What went wrong, as a few words for a diagnostic.
const char* credential_reason(credential_error error);

// Reads the credential name from directory into text: at most text.size() - 1
// bytes, one trailing newline removed, always terminated. A text one
// character longer than any accepted secret keeps a cut one too long to be
// accepted.
credential_error read_credential(const char* directory, const char* name, std::span<char> text);

// A secret argument as a program takes it. With credentials, arg is the name
// of a credential in $CREDENTIALS_DIRECTORY, read into copy; otherwise arg is
// the secret itself, copied and hidden as take_argument does. text is null
// when the credential could not be read, and error says why.
struct secret_text {
  const char* text = nullptr;
  credential_error error = credential_error::none;
};
secret_text take_secret(bool credentials, char* arg, std::span<char> copy);

#endif
