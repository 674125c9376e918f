#include "tests/support/process.h"

#include <openssl/sha.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/udp.h"

namespace testing_support {

// The name a program gives itself: its file's, without the suffix of the
// builds whose waits are shortened for the tests.
static std::string program_name(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name.ends_with("_quick")) name.resize(name.size() - 6);
  return name;
}

Process::Process(const std::string& path, const std::vector<std::string>& args, const std::filesystem::path& output)
    : output_(output), name_(program_name(path)) {
  std::vector<std::string> words{path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + output.string());
  const int error_fd = open(errors_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (error_fd < 0) {
    close(fd);
    throw std::runtime_error("cannot create " + errors_path().string());
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fd, STDOUT_FILENO);
    dup2(error_fd, STDERR_FILENO);
    const int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, STDIN_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fd);
  close(error_fd);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

Process::~Process() { stop(); }

std::optional<int> Process::wait(std::chrono::milliseconds deadline) {
  if (pid_ <= 0) return std::nullopt;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!reaped_) {
    const pid_t got = waitpid(pid_, &status_, WNOHANG);
    if (got == pid_) {
      reaped_ = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  signalled_ = true;
  return std::nullopt;
}

void Process::stop() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, &status_, 0);
  reaped_ = true;
}

namespace {

std::string text_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string Process::output() const { return text_of(output_); }

std::string Process::errors() const { return text_of(errors_path()); }

bool Process::wait_for_output(const std::string& text, std::chrono::milliseconds deadline) const {
  return wait_until([&] { return output().find(text) != std::string::npos; }, deadline);
}

bool Process::wait_for_exact_output(const std::string& text, std::chrono::milliseconds deadline) const {
  return wait_until([&] { return output() == text; }, deadline);
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ft-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// Ports come from below the system's ephemeral range, so that no socket the
// system numbers itself (a client's, a test peer's) can take a port between
// the moment it is picked and the moment the server binds it. Each test
// process walks its own pseudo-random sequence, and a port is handed out only
// when it can be bound at that moment.
std::uint16_t free_udp_port() {
  static std::minstd_rand sequence(static_cast<std::uint32_t>(getpid()) * 2654435761u);
  for (;;) {
    const auto port = static_cast<std::uint16_t>(20000 + sequence() % 12000);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in addr = any_address(port);
    const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (free) return port;
  }
}

// The tx_queue:rx_queue column of the /proc/net/udp row of the socket bound
// to port; nothing when no socket is.
static std::optional<std::string> udp_queues(std::uint16_t port) {
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues;
    fields >> slot >> local >> remote >> state >> queues;
    if (local.size() >= 5 && local.compare(local.size() - 5, 5, wanted) == 0) return queues;
  }
  return std::nullopt;
}

bool wait_udp_bound(std::uint16_t port, std::chrono::milliseconds deadline) {
  return wait_until([&] { return udp_queues(port).has_value(); }, deadline);
}

std::size_t queued_udp_bytes(std::uint16_t port) {
  const auto queues = udp_queues(port);
  if (!queues || queues->size() != 17) return 0;
  return std::stoul(queues->substr(9), nullptr, 16);
}

void write_file(const std::filesystem::path& path, const bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bytes random_bytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 generator(seed);
  bytes content(count);
  for (auto& byte : content) byte = static_cast<std::uint8_t>(generator());
  return content;
}

sha1_digest digest_of(const bytes& content) {
  sha1_digest digest{};
  SHA1(content.data(), content.size(), digest.data());
  return digest;
}

}  // namespace testing_support
