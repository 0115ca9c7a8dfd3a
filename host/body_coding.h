// The coding stage of an answer: between the request's writes and the
// buffer, a coder may transform the body (a content coding such as a
// compression). Without a coder, bytes pass through unchanged.
//
// A coder writes its output into the buffer in place (BodyBuffer::Room and
// Commit). It may hold input back to code it better, so the answer asks it
// to Flush whenever bytes have been held too long (the timed flush): after
// Flush, everything given so far can be decoded by the client from what the
// buffer holds or has sent. End finishes the coded stream.
//
// Any failure is final: the answer then ends without its clean end (a
// chunked body left unterminated, or the connection closed), so a broken
// coded stream never looks whole.
//
// One coder serves one answer on one thread.
#ifndef MORVANE_HOST_BODY_CODING_H_
#define MORVANE_HOST_BODY_CODING_H_

#include <cstddef>
#include <string_view>

#include "body_buffer.h"

namespace morvane::host {

class BodyCoder {
 public:
  virtual ~BodyCoder() = default;

  // The coding's token in Content-Encoding ("gzip", "zstd").
  virtual std::string_view Name() const = 0;

  // Each returns false when the coder failed.
  virtual bool Code(const char* data, size_t n, BodyBuffer& out) = 0;
  virtual bool Flush(BodyBuffer& out) = 0;
  virtual bool End(BodyBuffer& out) = 0;
  // The whole body, as the first and only call.
  virtual bool CodeWhole(const char* data, size_t n, BodyBuffer& out) {
    return Code(data, n, out) && End(out);
  }
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_BODY_CODING_H_
