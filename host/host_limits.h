// What morvane-server allows each client and connection, with the defaults
// a desk deployment starts from. Every value has a command-line option
// (main.cc) and is described in docs/operations.md.
#ifndef MORVANE_HOST_HOST_LIMITS_H_
#define MORVANE_HOST_HOST_LIMITS_H_

#include <chrono>
#include <cstddef>

#include "coding_settings.h"

namespace morvane::host {

struct HostLimits {
  using Duration = std::chrono::milliseconds;

  // Requests running inside the extension at once (each on a thread of its
  // own; two more threads keep serving events meanwhile). More wait their
  // turn. The extension turns away requests beyond its own module limit
  // (MaxConnection) with its 500 page.
  int threads = 16;

  // A connection that sends nothing, first or between two requests, is
  // closed after this long.
  Duration idle_timeout{15000};
  // From the first byte of a request head to its end, in total: a client
  // that trickles its head is cut off at this deadline however often it
  // sends a byte.
  Duration header_timeout{10000};
  // From the end of the head to the end of the body, in total. A body that
  // has not arrived by then is answered 400 and the connection closed.
  Duration body_timeout{30000};
  // One write of the answer may wait this long for the client to read; a
  // client that stops reading for longer ends the request (the extension's
  // further writes fail).
  Duration write_timeout{30000};
  // On SIGTERM: how long the requests in flight may take to finish before
  // every connection is closed and the process exits 0.
  Duration drain_timeout{10000};

  // Open connections in all, and from one client address. Beyond either a
  // new connection is closed at once. Behind a load balancer every
  // connection comes from its address: raise the second to match.
  size_t max_connections = 10000;
  size_t max_per_address = 512;
  // Requests from one client address inside the extension at once; more
  // wait their turn (in order) without holding a thread. Keeps one client
  // from taking every thread and data module.
  size_t max_active_per_address = 4;

  // The request head: its size in bytes and its number of header lines.
  size_t max_head_bytes = 16 * 1024;
  size_t max_headers = 64;
  // Larger bodies are refused with 413 before the extension sees them.
  size_t max_body = 1024 * 1024;

  // Bytes gathered per socket write.
  size_t write_buffer = 64 * 1024;

  // The content codings offered to clients that ask (--compression).
  CodingSettings coding;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_HOST_LIMITS_H_
