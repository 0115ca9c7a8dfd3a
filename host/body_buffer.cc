#include "body_buffer.h"

#include <algorithm>

namespace morvane::host {

namespace {

// A chunk's size line is written as eight hexadecimal digits (leading zeros
// are allowed), so its room can be kept before the data is known.
constexpr size_t kSizeDigits = 8;
constexpr size_t kSizeLine = kSizeDigits + 2;

}  // namespace

BodyBuffer::BodyBuffer(size_t capacity, ByteSender& sender, std::chrono::microseconds max_wait)
    : capacity_(std::max<size_t>(capacity, 64)), max_wait_(max_wait), sender_(sender) {
  wire_.reserve(capacity_ + kSizeLine + 16);
}

void BodyBuffer::Start(std::string_view head, Framing framing) {
  started_ = true;
  framing_ = framing;
  wire_.append(head);
  oldest_ = std::chrono::steady_clock::now();
}

void BodyBuffer::OpenChunk() {
  chunk_start_ = wire_.size();
  wire_.append(kSizeLine, '0');
  wire_[chunk_start_ + kSizeDigits] = '\r';
  wire_[chunk_start_ + kSizeDigits + 1] = '\n';
}

void BodyBuffer::Append(const char* data, size_t n) {
  body_bytes_ += n;
  if (framing_ == Framing::kNone || failed_) return;
  const auto now = std::chrono::steady_clock::now();
  if (wire_.empty()) {
    oldest_ = now;
  } else if (now - oldest_ > max_wait_) {
    Flush(false);
    oldest_ = now;
  }
  while (n > 0) {
    if (wire_.size() >= capacity_) Flush(false);
    if (framing_ == Framing::kChunked && chunk_start_ == std::string::npos) OpenChunk();
    const size_t room = capacity_ > wire_.size() ? capacity_ - wire_.size() : 1;
    const size_t take = std::min(n, room);
    wire_.append(data, take);
    data += take;
    n -= take;
  }
  if (wire_.size() >= capacity_) Flush(false);
}

void BodyBuffer::Flush(bool last) {
  if (chunk_start_ != std::string::npos) {
    size_t size = wire_.size() - chunk_start_ - kSizeLine;
    if (size == 0) {
      wire_.resize(chunk_start_);  // never send an empty chunk: it ends the body
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      for (size_t i = kSizeDigits; i-- > 0; size >>= 4) wire_[chunk_start_ + i] = kHex[size & 15];
      wire_.append("\r\n");
    }
    chunk_start_ = std::string::npos;
  }
  if (last && framing_ == Framing::kChunked) wire_.append("0\r\n\r\n");
  if (!wire_.empty() && !failed_) {
    if (!sender_.Send(wire_.data(), wire_.size(), last)) failed_ = true;
  }
  wire_.clear();
}

void BodyBuffer::Finish() {
  Flush(true);
}

}  // namespace morvane::host
