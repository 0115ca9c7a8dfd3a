// The gathering stage of an answer: collects body bytes (as the request
// writes them, or as a coder codes them) and hands them to the framing in
// blocks that fill one socket write.
//
// The extension writes one record at a time, often a few dozen bytes; one
// socket send per record would cost a system call and, with small packets,
// a round of acknowledgements each. The buffer sends a block whenever the
// next write would be full (`write_size` bytes, head and chunk size line
// included) and whenever its owner flushes it (the timed flush and the end,
// answer.h). Order is kept.
//
// A coder writes its output in place: Room() gives the free space and
// Commit() takes what was written there, so coded bytes are not copied on
// their way to the socket.
//
// One buffer serves one answer on one thread.
#ifndef MORVANE_HOST_BODY_BUFFER_H_
#define MORVANE_HOST_BODY_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "answer_framing.h"

namespace morvane::host {

class BodyBuffer {
 public:
  // Requires: `next` outlives the buffer.
  BodyBuffer(size_t write_size, AnswerFraming& next);

  // Adds bytes, sending blocks as they fill.
  void Append(const char* data, size_t n);

  // The free space of the block being gathered; never empty (a full block is
  // sent first). Bytes written there count once committed.
  std::span<char> Room();
  // Requires: n <= Room().size() of the call just before.
  void Commit(size_t n);

  // Sends what is held as one block (with the head, if the framing still
  // holds it).
  void Flush();
  // Sends what is held as the answer's last block (AnswerFraming::End).
  void End(bool clean);

  size_t Held() const { return held_; }
  // How many more bytes fit before the block is sent.
  size_t Free() const { return Limit() > held_ ? Limit() - held_ : 0; }
  // Takes back the bytes held (not yet sent), as if never given.
  std::string TakeHeld();
  // Bytes that have passed through (held or sent).
  uint64_t Bytes() const { return bytes_; }

 private:
  size_t Limit() const { return next_.BlockRoom(write_size_); }
  void SendIfFull();

  const size_t write_size_;
  AnswerFraming& next_;
  std::unique_ptr<char[]> data_;
  size_t held_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_BODY_BUFFER_H_
