#ifndef STREAM_PROBE_H
#define STREAM_PROBE_H

// What the kernel offers for moving many datagrams per system call. Nothing
// on the wire differs from one call per datagram: every datagram keeps its
// size, its bytes and its place in the order. Each faster way is used only
// where the kernel takes it, and a refusal falls back to the plain calls in
// silence.

// The ways this process may batch datagrams. A program probes them once and
// passes them on; a call that the kernel refuses later turns its way off.
struct batch_features {
  bool multi = false;         // sendmmsg and recvmmsg
  bool segmentation = false;  // UDP_SEGMENT: equal-size datagrams handed over in one piece
  bool coalescing = false;    // UDP_GRO: a receiver takes such a piece back whole
};

// Probes what the kernel offers between two sockets on 127.0.0.1: a way is
// on only if datagrams sent through it arrive exactly as sent.
batch_features probe_batch_features();

#endif
