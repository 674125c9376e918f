#ifndef STREAM_STORE_H
#define STREAM_STORE_H

// The receiving path of a file stream: each datagram taken from the stream,
// checked and unwrapped by the system that receives it, and its file bytes
// appended to the output, until a record ends the file.

#include <cstddef>
#include <cstdint>
#include <span>

#include "stream/file_output.h"
#include "stream/receive.h"

// What a system makes of one datagram of a stream.
struct unwrapped {
  enum class verdict {
    data,     // a record of the file: bytes go to the output
    end,      // the record that closes the file
    refused,  // not the record that must come next: the stream ends here
  };
  verdict what = verdict::refused;
  std::span<const std::uint8_t> bytes;  // for data, the file bytes it carries
};

// What differs between the systems in receiving a stream.
class record_unwrapper {
 public:
  virtual ~record_unwrapper() = default;
  // Checks the datagram whose receive-buffer-size bytes start at datagram;
  // bytes of a data verdict must stay valid until the next call.
  virtual unwrapped unwrap(const std::uint8_t* datagram) = 0;
  // Told after the file bytes of each data record have been appended.
  virtual void stored(std::size_t bytes) { (void)bytes; }
};

// How a received stream ended.
enum class stream_end {
  ended,           // the closing record came; the output is still open
  refused,         // the unwrapper refused a datagram
  timed_out,       // nothing came within the receive wait
  receive_failed,  // the socket reported an error
  write_failed,    // the output could not take the bytes
};

// Receives a stream into output, each datagram as if received alone into
// buffer (rest says what becomes of its bytes past a shorter datagram),
// until a record ends it. Every ending but `ended` has finished the output
// first, so that it holds every record accepted before.
stream_end receive_file(stream_receiver& stream, file_output& output, std::span<std::uint8_t> buffer, leftover rest,
                        record_unwrapper& unwrapper);

#endif
