#include "answer.h"

#include <algorithm>
#include <utility>

namespace morvane::host {

Answer::Answer(const HttpRequest& request, ByteSender& sender, const Options& options)
    : request_(request),
      max_wait_(options.max_wait),
      smallest_coded_(options.smallest_coded),
      framing_(sender),
      buffer_(options.write_size, framing_) {}

std::string Answer::SerializeHead() const {
  const bool open_length = declared_length_ < 0;
  return head_.Serialize(request_.version == 10 ? 0 : 1, open_length && request_.version == 11,
                         open_length && request_.version != 11);
}

void Answer::Begin(ResponseHead head) {
  status_ = head.status;
  declared_length_ = head.content_length;
  const bool open_length = declared_length_ < 0;
  const bool chunked = open_length && request_.version == 11;
  const bool closes = open_length && request_.version != 11;
  if (closes) reusable_ = false;
  if (coder_ && (!open_length || request_.IsHead() || head.Has("Content-Encoding"))) {
    coder_.reset();
  }
  if (coder_ && !vary_.empty()) head.Add("Vary", vary_);
  Framing framing = chunked ? Framing::kChunked : Framing::kRaw;
  if (request_.IsHead()) framing = Framing::kNone;
  head_ = std::move(head);
  framing_.Start(SerializeHead(), framing);
  if (!coder_) head_ = ResponseHead();
  oldest_ = std::chrono::steady_clock::now();
}

void Answer::StartCoding(bool whole) {
  coding_ = true;
  head_.Add("Content-Encoding", coder_->Name());
  framing_.ReplaceHead(SerializeHead());
  head_ = ResponseHead();
  const std::string held = buffer_.TakeHeld();
  if (whole) {
    if (!coder_->CodeWhole(held.data(), held.size(), buffer_)) coder_failed_ = true;
    coded_whole_ = true;
  } else {
    if (!coder_->Code(held.data(), held.size(), buffer_)) coder_failed_ = true;
    coder_holds_ = true;
  }
}

void Answer::FlushStages() {
  // A timed flush with body bytes held: the answer is long or slow in
  // coming, so it is coded from here on.
  if (Undecided()) StartCoding(false);
  if (coding_ && coder_holds_) {
    if (!coder_failed_ && !coder_->Flush(buffer_)) coder_failed_ = true;
    coder_holds_ = false;
  }
  buffer_.Flush();
}

bool Answer::Write(const char* data, size_t n) {
  if (declared_length_ >= 0) {
    // Never more than the length announced: the rest would be read as the
    // start of the next answer on a kept-alive connection.
    const auto room = static_cast<uint64_t>(declared_length_);
    n = static_cast<size_t>(std::min<uint64_t>(n, room > body_bytes_ ? room - body_bytes_ : 0));
  }
  body_bytes_ += n;
  if (framing_.framing() == Framing::kNone || Failed()) return !Failed();
  const auto now = std::chrono::steady_clock::now();
  if (!Holding()) {
    oldest_ = now;
  } else if (now - oldest_ > max_wait_) {
    // Until the coding is decided, the head alone is not worth a send: it
    // would fix the coding before a single byte of the body is known.
    if (!Undecided() || buffer_.Held() > 0) FlushStages();
    oldest_ = now;
  }
  // A body that fills a whole block is no small answer.
  if (Undecided() && n >= buffer_.Free()) StartCoding(false);
  if (coding_) {
    if (!coder_failed_ && !coder_->Code(data, n, buffer_)) coder_failed_ = true;
    coder_holds_ = true;
  } else {
    buffer_.Append(data, n);
  }
  return !Failed();
}

void Answer::End(bool clean) {
  if (ended_) return;
  if (!Started()) {
    ResponseHead failure;
    failure.status = 500;
    failure.reason = "Internal Server Error";
    failure.Add("Content-Length", "0");
    Begin(std::move(failure));
  }
  ended_ = true;
  clean = clean && !Failed();
  if (Undecided() && clean && buffer_.Held() >= smallest_coded_) StartCoding(true);
  if (coding_ && !coder_failed_ && framing_.framing() != Framing::kNone) {
    // The coded stream is finished only when the answer is whole; a broken
    // one gets what was coded so far, and no end.
    const bool ok = !clean ? coder_->Flush(buffer_) : coded_whole_ || coder_->End(buffer_);
    if (!ok) coder_failed_ = true;
  }
  clean = clean && !Failed();
  buffer_.End(clean);
  if (!clean) reusable_ = false;
  if (!request_.IsHead() && declared_length_ >= 0 &&
      body_bytes_ < static_cast<uint64_t>(declared_length_)) {
    reusable_ = false;  // the client waits for bytes that will never come
  }
}

}  // namespace morvane::host
