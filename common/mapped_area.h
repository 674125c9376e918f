#ifndef COMMON_MAPPED_AREA_H
#define COMMON_MAPPED_AREA_H

#include <cstddef>
#include <cstdint>
#include <span>

// Whether a mapped area starts on a 2 MiB boundary, so that parts of it can
// take huge pages.
enum class page_alignment { plain, huge };

// Anonymous memory of a fixed size, reserved once and released at the end;
// the system supplies a page only when it is first touched.
class mapped_area {
 public:
  explicit mapped_area(std::size_t bytes, page_alignment alignment = page_alignment::plain);
  ~mapped_area();
  // Empty when the memory could not be reserved.
  std::span<std::uint8_t> bytes() const { return bytes_; }
  mapped_area(const mapped_area&) = delete;
  mapped_area& operator=(const mapped_area&) = delete;

 private:
  std::span<std::uint8_t> mapping_;
  std::span<std::uint8_t> bytes_;
};

#endif
