#ifndef STREAM_SEGMENTS_H
#define STREAM_SEGMENTS_H

// UDP segmentation as the probe, the sender and the receiver share it: one
// send of equal-size segments, and the segment size the kernel notes on a
// piece it coalesced.

#include <cstdint>
#include <span>

#include <netinet/in.h>
#include <sys/socket.h>

// Errors by which the kernel (or an emulator) says it does not offer a way
// of sending or receiving, as opposed to a send that failed.
bool refused(int error);

// One sendmsg of payload to `to` as segments of segment bytes each; true
// when all of it went out.
bool send_segmented(int fd, std::span<const std::uint8_t> payload, std::uint16_t segment, const sockaddr_in& to);

// The segment size in a received message's UDP_GRO note; 0 when it has none.
std::uint32_t coalesced_segment(const msghdr& message);

#endif
