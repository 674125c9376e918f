#include "common/credentials.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A credentials directory of its own, removed with what it holds.
class CredentialsDir {
 public:
  CredentialsDir() {
    std::string pattern = (fs::temp_directory_path() / "credentials-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~CredentialsDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  CredentialsDir(const CredentialsDir&) = delete;
  CredentialsDir& operator=(const CredentialsDir&) = delete;

  void write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
  }
  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
};

TEST(ReadCredential, ReadsTheSecretUpToItsRoomWithoutOneTrailingNewline) {
  struct Row {
    const char* name;
    std::string content;
    std::string text;  // the room holds five characters
  };
  const Row rows[] = {
      {"plain", "abc", "abc"},
      {"newline", "abc\n", "abc"},
      {"only one newline removed", "abc\n\n", "abc\n"},
      {"a newline inside is kept", "a\nbc", "a\nbc"},
      {"carriage return is kept", "abc\r\n", "abc\r"},
      {"blank is kept", " abc ", " abc "},
      {"fills the room", "abcde", "abcde"},
      {"fills the room with a newline", "abcd\n", "abcd"},
      // Cut at the room: one too long, so a length check still refuses it.
      {"too long", "abcdef\n", "abcde"},
      {"far too long", std::string(10000, 'z'), "zzzzz"},
      {"empty", "", ""},
      {"newline alone", "\n", ""},
  };
  const CredentialsDir dir;
  for (const Row& row : rows) {
    dir.write("secret", row.content);
    std::array<char, 6> text;
    text.fill('#');
    EXPECT_EQ(read_credential(dir.path().c_str(), "secret", text), credential_error::none) << row.name;
    EXPECT_EQ(std::string(text.data()), row.text) << row.name;
    EXPECT_EQ(text.back(), '\0') << row.name;
  }
}

TEST(ReadCredential, RefusesWhatCannotBeASecretOfTheDirectory) {
  struct Row {
    const char* name;
    const char* directory;  // null: no directory; "DIR": the test's
    const char* credential;
    credential_error error;
  };
  const CredentialsDir dir;
  dir.write("key", "0E329232EA6D0D73\n");
  dir.write("zero", std::string("ab\0cd", 5));
  // A file beside the directory, which a path out of it would reach.
  const std::string outside = dir.path() + "-outside";
  std::ofstream(outside) << "secret\n";
  const std::string outside_name = fs::path(outside).filename().string();
  const std::string up = "../" + outside_name;
  ASSERT_EQ(mkdir((dir.path() + "/sub").c_str(), 0700), 0);
  const Row rows[] = {
      {"no directory", nullptr, "key", credential_error::no_directory},
      {"empty directory name", "", "key", credential_error::no_directory},
      {"missing", "DIR", "nothing", credential_error::unreadable},
      {"a directory", "DIR", "sub", credential_error::unreadable},
      {"empty name", "DIR", "", credential_error::bad_name},
      {"parent", "DIR", "..", credential_error::bad_name},
      {"out through the parent", "DIR", up.c_str(), credential_error::bad_name},
      {"dots inside", "DIR", "a..b", credential_error::bad_name},
      {"absolute", "DIR", outside.c_str(), credential_error::bad_name},
      {"slash", "DIR", "sub/key", credential_error::bad_name},
      {"zero byte", "DIR", "zero", credential_error::not_text},
  };
  for (const Row& row : rows) {
    const std::string directory = row.directory != nullptr && std::string(row.directory) == "DIR" ? dir.path() : "";
    std::array<char, 18> text;
    text.fill('#');
    const char* given = row.directory == nullptr ? nullptr : (directory.empty() ? row.directory : directory.c_str());
    EXPECT_EQ(read_credential(given, row.credential, text), row.error) << row.name;
    EXPECT_EQ(std::string(text.data()), "") << row.name << ": nothing of a refused credential is kept";
  }
  fs::remove(outside);
}

}  // namespace
