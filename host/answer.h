// One answer on its way out, as a chain of stages:
//
//   handler's writes -> [coder] -> buffer -> framing -> socket
//
// Begin takes the answer's head (response_head.h) and decides its framing:
// a head with a Content-Length is sent as it is, and the body never goes
// past that length; otherwise an HTTP/1.1 body is chunked and an HTTP/1.0
// one ends with the connection. A HEAD request gets the head alone.
//
// A coder offered before Begin (a compression the client asked for) is
// kept only for a body whose length the head leaves open and that names no
// coding of its own. Whether it is used is decided at the answer's first
// send: a body that ended before it and is shorter than `smallest_coded`
// goes out as it is (coding a few hundred bytes saves nothing and costs a
// coder); any other body is coded, and its head names the coding. Until
// then the body is gathered as it is, exactly as without a coder. An
// answer that breaks off mid-way leaves its coded stream unfinished, so
// that the client's decoder, too, sees it is not whole.
//
// The timed flush: bytes held (by the coder, the buffer, or the head not
// yet sent) for longer than `max_wait` when more arrive are sent first, so
// that a client sees the first records of a long history, and a slowly
// growing answer, without waiting for a full buffer. It reaches every stage
// in order: the coder flushes into the buffer, the buffer into the framing.
// End reaches them the same way, and nothing is held after it.
//
// One answer serves one request on one thread.
#ifndef MORVANE_HOST_ANSWER_H_
#define MORVANE_HOST_ANSWER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "answer_framing.h"
#include "body_buffer.h"
#include "body_coding.h"
#include "byte_sender.h"
#include "http_request.h"
#include "response_head.h"

namespace morvane::host {

class Answer {
 public:
  struct Options {
    size_t write_size = 64 * 1024;  // bytes per socket write at most
    std::chrono::microseconds max_wait{2000};
    // Bodies that end before the first send and are shorter than this go
    // out without the coder: about one packet.
    size_t smallest_coded = 1400;
  };

  // Requires: `request` and `sender` outlive the answer.
  Answer(const HttpRequest& request, ByteSender& sender, const Options& options);
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;

  // A coding for the body. `vary`, when not empty, names the request
  // header the offer was chosen by: every answer the coder could apply to
  // then says so in a Vary line, whether or not it ends up coded.
  // Requires: before Begin.
  void OfferCoder(std::unique_ptr<BodyCoder> coder, std::string_view vary = {}) {
    coder_ = std::move(coder);
    vary_ = vary;
  }

  // Requires: called once, before Write and End.
  void Begin(ResponseHead head);
  bool Started() const { return framing_.Started(); }

  // Adds body bytes. Returns false once the answer has failed (the client
  // is gone, or the coder broke): later writes are dropped.
  bool Write(const char* data, size_t n);

  // Ends the answer; `clean` false when the body broke off. Sends an empty
  // 500 first when nothing was begun. Safe to call again (does nothing).
  void End(bool clean);
  bool Ended() const { return ended_; }

  bool Failed() const { return framing_.Failed() || coder_failed_; }
  // Whether the connection may carry another request after this answer.
  bool Reusable() const { return reusable_ && !Failed(); }
  int status() const { return status_; }
  // Body bytes written by the handler (before any coding).
  uint64_t BodyBytes() const { return body_bytes_; }
  // When the head left for the socket (zero until then), and the bytes
  // sent in all (head and framing included).
  std::chrono::steady_clock::time_point FirstByteAt() const { return framing_.HeadSentAt(); }
  uint64_t BytesSent() const { return framing_.BytesSent(); }
  // The coding in use, or empty.
  std::string_view Coding() const { return coding_ ? coder_->Name() : std::string_view(); }

 private:
  bool Holding() const { return !framing_.HeadSent() || buffer_.Held() > 0 || coder_holds_; }
  bool Undecided() const { return coder_ && !coding_; }
  std::string SerializeHead() const;
  // Puts the coder to use: the head names it, and the body held so far
  // passes through it (`whole`: that is all the body there is).
  void StartCoding(bool whole);
  void FlushStages();

  const HttpRequest& request_;
  const std::chrono::microseconds max_wait_;
  const size_t smallest_coded_;
  AnswerFraming framing_;
  BodyBuffer buffer_;
  std::unique_ptr<BodyCoder> coder_;
  std::string vary_;
  ResponseHead head_;                             // kept while the coding is undecided
  std::chrono::steady_clock::time_point oldest_;  // of the bytes held, when any
  long long declared_length_ = -1;
  uint64_t body_bytes_ = 0;
  int status_ = 0;
  bool coding_ = false;       // the coder is in use
  bool coded_whole_ = false;  // the coded stream is finished already
  bool coder_holds_ = false;
  bool coder_failed_ = false;
  bool reusable_ = true;
  bool ended_ = false;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_ANSWER_H_
