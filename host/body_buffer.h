// Gathers the bytes of one answer and sends them to the socket in large
// writes.
//
// The extension writes one record at a time, often a few dozen bytes; one
// socket send per record would cost a system call and, with small packets,
// a round of acknowledgements each. The buffer keeps the status line and
// header block and the body bytes in order, and sends whenever it holds
// `capacity` bytes, whenever bytes it holds have waited longer than
// `max_wait` when more arrive (so a client sees the first records of a long
// history, and a slowly growing answer, without waiting for a full buffer),
// and once more when the answer is finished, so nothing is held back after
// the request completes. With chunked framing every send is
// exactly one chunk, its size line patched in place so no byte is copied
// twice.
//
// One buffer serves one answer on one thread.
#ifndef MORVANE_HOST_BODY_BUFFER_H_
#define MORVANE_HOST_BODY_BUFFER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::host {

// Where the gathered bytes go: one call per send; `last` marks the answer's
// final send (nothing follows it). Returns false when the connection is gone.
class ByteSender {
 public:
  virtual ~ByteSender() = default;
  virtual bool Send(const char* data, size_t n, bool last) = 0;
};

class BodyBuffer {
 public:
  enum class Framing {
    kChunked,  // HTTP/1.1 chunked transfer encoding; Finish ends the body
    kRaw,      // bytes as they are (known length, or the connection closes)
    kNone,     // no body at all (HEAD): body bytes are dropped
  };

  BodyBuffer(size_t capacity, ByteSender& sender,
             std::chrono::microseconds max_wait = std::chrono::milliseconds(2));

  // Sets the status line and header block (sent in front of the first body
  // bytes) and the body's framing. Requires: called once, before Append.
  void Start(std::string_view head, Framing framing);
  bool Started() const { return started_; }

  // Adds body bytes, sending full buffers as they fill.
  void Append(const char* data, size_t n);

  // Sends everything still held, and the end of a chunked body, in one
  // write. Requires: Started().
  void Finish();

  // Body bytes appended (before framing), and whether a send failed (all
  // later bytes are then dropped).
  uint64_t BodyBytes() const { return body_bytes_; }
  bool Failed() const { return failed_; }

 private:
  void OpenChunk();
  void Flush(bool last);

  size_t capacity_;
  std::chrono::microseconds max_wait_;
  std::chrono::steady_clock::time_point oldest_;  // of the bytes held, when any
  ByteSender& sender_;
  Framing framing_ = Framing::kRaw;
  bool started_ = false;
  bool failed_ = false;
  std::string wire_;
  size_t chunk_start_ = std::string::npos;  // offset of the open chunk's size line
  uint64_t body_bytes_ = 0;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_BODY_BUFFER_H_
