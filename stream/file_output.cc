#include "stream/file_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#ifdef HAVE_LIBURING
#include <liburing.h>
#endif

namespace {

#ifdef HAVE_LIBURING
io_uring* ring_of(std::array<std::uint8_t, 512>& storage) {
  static_assert(sizeof(io_uring) <= 512 && alignof(io_uring) <= 8);
  return std::launder(reinterpret_cast<io_uring*>(storage.data()));
}
#endif

// Writes bytes at offset, however many calls it takes; returns how many
// were written, all of them unless a write failed.
std::size_t write_all(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    // Nothing written and no error: the disk is full in all but name.
    if (n == 0) errno = ENOSPC;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

file_output::file_output(writes how) : memory_(piece_size * pieces), how_(how) {}

file_output::~file_output() {
#ifdef HAVE_LIBURING
  if (ring_) io_uring_queue_exit(ring_of(ring_storage_));
#endif
  if (fd_ >= 0) close(fd_);
}

std::span<std::uint8_t> file_output::piece_bytes(std::size_t which) {
  return memory_.bytes().subspan(which * piece_size, piece_size);
}

bool file_output::open(const char* path) {
  if (memory_.bytes().empty() || fd_ >= 0) return false;
  // Every piece is used by any file of some size: made ready now, so that
  // filling them costs no page faults while a stream comes in.
  (void)madvise(memory_.bytes().data(), memory_.bytes().size(), MADV_POPULATE_WRITE);
#ifdef HAVE_LIBURING
  // Set up here, not before: a process that forks before it stores
  // anything (a client that tries more than once) keeps the kernel's rings
  // to the process that uses them.
  if (how_ == writes::handed_off && !ring_) {
    io_uring* ring = new (ring_storage_.data()) io_uring{};
    // Refused where the kernel has it switched off or a translator of system
    // calls does not know it.
    ring_ = io_uring_queue_init(static_cast<unsigned>(2 * pieces), ring, 0) == 0;
  }
#endif
  // Truncated at once: cutting the file only at the end left a run killed
  // on the way with new bytes in front of old ones, the size unchanged.
  // Opened without waiting, since a FIFO would wait for a reader for ever;
  // every later write may wait again.
  fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ < 0) return false;
  const int flags = fcntl(fd_, F_GETFL);
  if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void file_output::submit(std::size_t which) {
  piece& p = pieces_[which];
  if (p.in_flight || p.used == p.written) return;
  const std::span<const std::uint8_t> rest = piece_bytes(which).subspan(p.written, p.used - p.written);
#ifdef HAVE_LIBURING
  if (ring_) {
    io_uring* ring = ring_of(ring_storage_);
    io_uring_sqe* entry = io_uring_get_sqe(ring);
    // The ring has two entries for each piece, so one is always free.
    if (entry != nullptr) {
      io_uring_prep_write(entry, fd_, rest.data(), static_cast<unsigned>(rest.size()), p.offset + p.written);
      io_uring_sqe_set_data64(entry, which);
      // Straight to the kernel's own worker: copying into the page cache
      // then costs the receiving process nothing, and a write held up by the
      // disk holds up nobody.
      io_uring_sqe_set_flags(entry, IOSQE_ASYNC);
      if (io_uring_submit(ring) == 1) {
        p.in_flight = true;
        ++in_flight_;
        return;
      }
    }
    fail_at(p.offset + p.written, 0);
    return;
  }
#endif
  const std::size_t done = write_all(fd_, rest, p.offset + p.written);
  if (done < rest.size()) fail_at(p.offset + p.written + done, errno);
  p.written = p.used;
}

void file_output::fail_at(std::uint64_t offset, int error) {
  if (!failed_) error_ = error;
  failed_ = true;
  first_gap_ = std::min(first_gap_, offset);
}

bool file_output::collect(bool wait) {
#ifdef HAVE_LIBURING
  if (!ring_) return false;
  io_uring* ring = ring_of(ring_storage_);
  bool any = false;
  for (;;) {
    io_uring_cqe* done = nullptr;
    const int result = wait && !any ? io_uring_wait_cqe(ring, &done) : io_uring_peek_cqe(ring, &done);
    if (result == -EINTR) continue;
    if (result != 0 || done == nullptr) return any;
    const std::size_t which = static_cast<std::size_t>(io_uring_cqe_get_data64(done));
    const int res = done->res;
    io_uring_cqe_seen(ring, done);
    any = true;
    if (which >= pieces) continue;
    piece& p = pieces_[which];
    p.in_flight = false;
    --in_flight_;
    if (res < 0 && res != -EINTR && res != -EAGAIN) {
      fail_at(p.offset + p.written, -res);
      p.written = p.used;
      continue;
    }
    // A short write is resumed from where it stopped; nothing written at
    // all means the disk is full.
    if (res == 0 && p.used > p.written) {
      fail_at(p.offset + p.written, ENOSPC);
      p.written = p.used;
      continue;
    }
    if (res > 0) p.written += static_cast<std::size_t>(res);
    if (p.written < p.used) submit(which);
  }
#else
  (void)wait;
  return false;
#endif
}

bool file_output::room_for(std::size_t n) {
  if (in_flight_ > 0) collect(false);
  const piece& current = pieces_[filling_];
  if (!current.in_flight && current.written == 0 && piece_size - current.used >= n) return true;
  for (const piece& p : pieces_)
    if (!p.in_flight && p.used == p.written) return true;
  return false;
}

bool file_output::append(std::span<const std::uint8_t> bytes) {
  if (failed_) return false;
  if (bytes.empty()) return true;
  piece* current = &pieces_[filling_];
  if (current->in_flight || current->written != 0 || piece_size - current->used < bytes.size()) {
    submit(filling_);
    std::size_t free = pieces;
    for (std::size_t i = 0; i < pieces; ++i)
      if (!pieces_[i].in_flight && pieces_[i].used == pieces_[i].written) free = i;
    // The caller checked room_for; without room the bytes cannot be kept.
    if (free == pieces || failed_) {
      fail_at(end_, 0);
      return false;
    }
    filling_ = free;
    current = &pieces_[filling_];
    *current = piece{};
    current->offset = end_;
  }
  std::memcpy(piece_bytes(filling_).data() + current->used, bytes.data(), bytes.size());
  current->used += bytes.size();
  end_ += bytes.size();
  if (current->used == piece_size) submit(filling_);
  return !failed_;
}

void file_output::wait(std::chrono::microseconds most) {
#ifdef HAVE_LIBURING
  if (ring_ && in_flight_ > 0) {
    pollfd ring{ring_of(ring_storage_)->ring_fd, POLLIN, 0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(most);
    const timespec timeout{seconds.count(), static_cast<long>((most - seconds).count()) * 1000};
    (void)ppoll(&ring, 1, &timeout, nullptr);
    collect(false);
  }
#else
  (void)most;
#endif
}

bool file_output::finish() {
  if (finished_) return !failed_;
  finished_ = true;
  if (fd_ < 0) return false;
  if (!failed_) submit(filling_);
  while (in_flight_ > 0)
    if (!collect(true)) {
      // The kernel no longer reports on the writes: none still out can be
      // trusted.
      for (const piece& p : pieces_)
        if (p.in_flight) fail_at(p.offset + p.written, 0);
      break;
    }
  // Bytes held but never handed over (the run failed first) are a gap too.
  for (const piece& p : pieces_)
    if (p.used > p.written) fail_at(p.offset + p.written, 0);
  // After a failure the file ends where the first missing byte would have
  // been: a later piece that did reach the disk would leave a gap of zeros
  // that never arrived.
  if (failed_ && first_gap_ < end_ && ftruncate(fd_, static_cast<off_t>(first_gap_)) != 0) fail_at(end_, errno);
  if (close(fd_) != 0) fail_at(end_, errno);
  fd_ = -1;
  return !failed_;
}
