#include "stream/store.h"

#include "stream/pace.h"

namespace {

// Waits until n bytes can be appended to output. Meanwhile the stream's
// socket is emptied into its area whenever it fills up.
void make_room(file_output& output, stream_receiver& stream, std::size_t n) {
  while (!output.room_for(n)) {
    output.wait(stream.area_full() ? pace::disk_wait_area_full : pace::disk_wait);
    stream.drain_if_filling();
  }
}

stream_end failed_receive(receive_status status) {
  return status == receive_status::timed_out ? stream_end::timed_out : stream_end::receive_failed;
}

}  // namespace

stream_end receive_file(stream_receiver& stream, file_output& output, std::span<std::uint8_t> buffer, leftover rest,
                        record_unwrapper& unwrapper) {
  stream_end end = stream_end::ended;
  for (;;) {
    const std::uint8_t* datagram = buffer.data();
    const receive_status status =
        rest == leftover::zeroed ? stream.next(buffer, rest) : stream.next_view(buffer, datagram);
    if (status != receive_status::ok) {
      end = failed_receive(status);
      break;
    }
    const unwrapped record = unwrapper.unwrap(datagram);
    if (record.what == unwrapped::verdict::end) return stream_end::ended;
    if (record.what == unwrapped::verdict::refused) {
      end = stream_end::refused;
      break;
    }
    // While the disk is behind, the socket is kept from overflowing.
    make_room(output, stream, record.bytes.size());
    if (!output.append(record.bytes)) {
      end = stream_end::write_failed;
      break;
    }
    unwrapper.stored(record.bytes.size());
  }
  (void)output.finish();
  return end;
}
