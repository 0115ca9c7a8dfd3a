// The framing stage of an answer: the status line and header block in front
// of the body, then the body as HTTP/1.1 chunks, or as it is (a known length,
// or an HTTP/1.0 answer that the connection's close ends), or not at all
// (HEAD).
//
// The head is held until the first block or the end, so that a short answer
// leaves in one write. Each block becomes exactly one chunk, whose size line
// is eight hexadecimal digits (leading zeros are allowed, and the fixed
// width lets the buffer in front know each block's room in advance). An
// empty block is never sent as a chunk: it would end the body.
//
// The end of a chunked body (its last chunk) goes out only after a clean
// end: an answer that broke off mid-way is left unterminated, and its
// connection must close, so that the client can never take it for a whole
// answer.
//
// One framing serves one answer on one thread.
#ifndef MORVANE_HOST_ANSWER_FRAMING_H_
#define MORVANE_HOST_ANSWER_FRAMING_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "byte_sender.h"

namespace morvane::host {

enum class Framing {
  kChunked,  // HTTP/1.1 chunked transfer coding
  kRaw,      // the bytes as they are
  kNone,     // no body (HEAD): body blocks are dropped
};

class AnswerFraming {
 public:
  explicit AnswerFraming(ByteSender& sender) : sender_(sender) {}

  // Requires: called once, before Block or End.
  void Start(std::string head, Framing framing);
  bool Started() const { return started_; }
  bool HeadSent() const { return started_ && head_.empty(); }
  // Another head for the same framing (the body's coding was decided late).
  // Requires: Started() and not HeadSent().
  void ReplaceHead(std::string head) { head_ = std::move(head); }
  Framing framing() const { return framing_; }

  // How many body bytes the next block may hold for the head still held,
  // the size line and the block to fill `write_size` bytes (the chunk's
  // closing line end comes on top); at least 1.
  size_t BlockRoom(size_t write_size) const;

  // Sends one block of body bytes, after the head if it is still held.
  void Block(std::string_view data) { Send(data, false); }

  // Sends `data` as the answer's last block. `clean`: the answer is whole,
  // and a chunked body gets its last chunk in the same write; otherwise it
  // is left unterminated.
  void End(std::string_view data, bool clean) { Send(data, clean); }

  // A send failed: the connection is gone and later blocks are dropped.
  bool Failed() const { return failed_; }

  // When the head left (zero until it does), and the bytes sent in all.
  std::chrono::steady_clock::time_point HeadSentAt() const { return head_sent_at_; }
  uint64_t BytesSent() const { return bytes_sent_; }

 private:
  void Send(std::string_view data, bool last);

  ByteSender& sender_;
  Framing framing_ = Framing::kRaw;
  bool started_ = false;
  bool failed_ = false;
  std::string head_;  // until it is sent
  std::chrono::steady_clock::time_point head_sent_at_{};
  uint64_t bytes_sent_ = 0;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_ANSWER_FRAMING_H_
