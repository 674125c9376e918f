#ifndef STREAM_FILE_OUTPUT_H
#define STREAM_FILE_OUTPUT_H

// An output file written in large pieces that the kernel takes over without
// the program waiting for them, so that a receiver is never held up by the
// disk: a write the kernel cannot finish at once (dirty pages being
// throttled, say) completes on its own while the program goes on receiving.
// Where the kernel offers no such writes the pieces are written in turn.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/mapped_area.h"

class file_output {
 public:
  static constexpr std::size_t piece_size = std::size_t{128} * 1024;
  static constexpr std::size_t pieces = 4;

  // Whether the kernel may take the writes over.
  enum class writes { handed_off, plain };

  // The pieces live in memory reserved here once; writes::plain keeps to
  // plain writes even where the kernel would take them over.
  explicit file_output(writes how = writes::handed_off);
  ~file_output();

  // Creates the file, or truncates it, as fopen's mode "w" does; an
  // interrupted run never leaves old bytes behind new ones. Never waits for
  // a reader (a FIFO without one fails at once). False when it cannot be
  // opened.
  bool open(const char* path);

  // Whether n bytes (at most piece_size) can be appended now without waiting
  // for a write; completed writes are collected first, without waiting.
  bool room_for(std::size_t n);

  // Appends bytes; room_for(bytes.size()) must hold. False once any write
  // has failed.
  bool append(std::span<const std::uint8_t> bytes);

  // Waits until a write completes, for at most `most`.
  void wait(std::chrono::microseconds most);

  // Writes everything held, waits until every write has completed and
  // closes the file. False when any write or the close failed; the file then
  // holds the bytes written before the first that failed, never a gap. Safe
  // to call more than once; the later calls only report.
  bool finish();

  bool failed() const { return failed_; }
  // The system's error number for the first failure: for open, a write or
  // the close; ENOSPC where the disk took nothing; 0 when none was given.
  int error() const { return error_; }
  // Whether the kernel takes the writes over, once the file is open.
  bool writes_handed_off() const { return ring_; }

  file_output(const file_output&) = delete;
  file_output& operator=(const file_output&) = delete;

 private:
  struct piece {
    std::size_t used = 0;      // bytes filled
    std::size_t written = 0;   // bytes the kernel has written
    std::uint64_t offset = 0;  // where in the file the piece goes
    bool in_flight = false;
  };
  void submit(std::size_t which);
  bool collect(bool wait);
  std::span<std::uint8_t> piece_bytes(std::size_t which);

  mapped_area memory_;
  std::array<piece, pieces> pieces_{};
  std::size_t filling_ = 0;
  std::size_t in_flight_ = 0;
  void fail_at(std::uint64_t offset, int error);

  std::uint64_t end_ = 0;  // file offset after the last byte appended
  // Where the first byte that did not reach the file lies, after a failure.
  std::uint64_t first_gap_ = UINT64_MAX;
  int fd_ = -1;
  [[maybe_unused]] writes how_;
  bool ring_ = false;
  bool failed_ = false;
  int error_ = 0;
  bool finished_ = false;
  // The kernel's submission and completion rings, where it has them.
  [[maybe_unused]] alignas(8) std::array<std::uint8_t, 512> ring_storage_{};
};

#endif
