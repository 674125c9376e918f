#ifndef COMMON_FILE_OUTPUT_H
#define COMMON_FILE_OUTPUT_H

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

#include "common/batch.h"

class file_output {
 public:
  static constexpr std::size_t piece_size = std::size_t{128} * 1024;
  static constexpr std::size_t pieces = 4;

  // The pieces live in memory reserved here once; use_ring false keeps to
  // plain writes even where the kernel would take them over.
  explicit file_output(bool use_ring = true);
  ~file_output();

  // Creates the file, or opens it to be overwritten: once finished it holds
  // exactly the bytes appended, as after fopen's mode "w". False when it
  // cannot be opened.
  bool open(const char* path);

  // Whether n bytes (at most piece_size) can be appended now without waiting
  // for a write; completed writes are collected first, without waiting.
  bool room_for(std::size_t n);

  // Appends bytes; room_for(bytes.size()) must hold. False once any write
  // has failed.
  bool append(std::span<const std::uint8_t> bytes);

  // Waits until a write completes, for at most `most`.
  void wait(std::chrono::microseconds most);

  // Writes everything held, waits until every write has completed, cuts the
  // file after the last byte appended and closes it. False when any write or the close failed. Safe to call
  // more than once; the later calls only report.
  bool finish();

  bool failed() const { return failed_; }
  // Whether the kernel takes the writes over.
  bool ring() const { return ring_; }

  file_output(const file_output&) = delete;
  file_output& operator=(const file_output&) = delete;

 private:
  struct piece {
    std::size_t used = 0;        // bytes filled
    std::size_t written = 0;     // bytes the kernel has written
    std::uint64_t offset = 0;    // where in the file the piece goes
    bool in_flight = false;
  };
  void submit(std::size_t which);
  bool collect(bool wait);
  std::span<std::uint8_t> piece_bytes(std::size_t which);

  mapped_area memory_;
  std::array<piece, pieces> pieces_{};
  std::size_t filling_ = 0;
  std::size_t in_flight_ = 0;
  std::uint64_t end_ = 0;  // file offset after the last byte appended
  int fd_ = -1;
  bool ring_ = false;
  bool failed_ = false;
  bool finished_ = false;
  // The kernel's submission and completion rings, where it has them.
  alignas(8) std::array<std::uint8_t, 512> ring_storage_{};
};

// Waits until n bytes can be appended to output. Meanwhile the stream's
// socket is emptied into its area whenever it fills up.
void make_room(file_output& output, stream_receiver& stream, std::size_t n);

// Every failure once the output file is open: the writes already handed to
// the kernel complete first, so the file holds every piece accepted before;
// then as abort_run.
[[noreturn]] void abort_stream(file_output& output, bool debug, const char* diagnostic, ...)
    __attribute__((format(printf, 3, 4)));

#endif
