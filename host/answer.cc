#include "answer.h"

#include <algorithm>
#include <utility>

namespace morvane::host {

Answer::Answer(const HttpRequest& request, ByteSender& sender, const Options& options)
    : request_(request),
      max_wait_(options.max_wait),
      framing_(sender),
      buffer_(options.write_size, framing_) {}

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
  if (coder_) head.Add("Content-Encoding", coder_->Name());
  Framing framing = chunked ? Framing::kChunked : Framing::kRaw;
  if (request_.IsHead()) framing = Framing::kNone;
  framing_.Start(head.Serialize(request_.version == 10 ? 0 : 1, chunked, closes), framing);
  oldest_ = std::chrono::steady_clock::now();
}

void Answer::FlushStages() {
  if (coder_ && coder_holds_) {
    if (!coder_->Flush(buffer_)) coder_failed_ = true;
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
    FlushStages();
    oldest_ = now;
  }
  if (coder_) {
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
  if (coder_ && !coder_failed_ && framing_.framing() != Framing::kNone && !coder_->End(buffer_)) {
    coder_failed_ = true;
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
