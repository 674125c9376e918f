#include "common/mapped_area.h"

#include <sys/mman.h>

mapped_area::mapped_area(std::size_t bytes, page_alignment alignment) {
  // A receiver that falls behind touches fresh memory at the rate the
  // datagrams come, and a fault for every 4 KiB page cost it more than the
  // datagrams themselves; a 2 MiB page faults 512 times less. Which parts
  // use such pages is the user's choice (madvise).
  constexpr std::size_t huge_page = std::size_t{2} * 1024 * 1024;
  const bool huge = alignment == page_alignment::huge;
  const std::size_t reserved = huge ? bytes + huge_page : bytes;
  void* at = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (at == MAP_FAILED) return;
  mapping_ = {static_cast<std::uint8_t*>(at), reserved};
  std::uint8_t* start = mapping_.data();
  if (huge) {
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    start += (huge_page - address % huge_page) % huge_page;
  }
  bytes_ = {start, bytes};
}

mapped_area::~mapped_area() {
  if (!mapping_.empty()) munmap(mapping_.data(), mapping_.size());
}
