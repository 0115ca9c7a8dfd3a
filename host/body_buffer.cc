#include "body_buffer.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace morvane::host {

BodyBuffer::BodyBuffer(size_t write_size, AnswerFraming& next)
    : write_size_(std::max<size_t>(write_size, 64)), next_(next), data_(new char[write_size_]) {}

void BodyBuffer::Append(const char* data, size_t n) {
  bytes_ += n;
  while (n > 0) {
    const size_t room = Limit() > held_ ? Limit() - held_ : 0;
    if (room == 0) {
      Flush();
      continue;
    }
    const size_t take = std::min(n, room);
    std::memcpy(data_.get() + held_, data, take);
    held_ += take;
    data += take;
    n -= take;
  }
  SendIfFull();
}

std::span<char> BodyBuffer::Room() {
  if (held_ >= Limit()) Flush();
  return {data_.get() + held_, Limit() - held_};
}

void BodyBuffer::Commit(size_t n) {
  held_ += n;
  bytes_ += n;
  SendIfFull();
}

void BodyBuffer::SendIfFull() {
  if (held_ >= Limit()) Flush();
}

void BodyBuffer::Flush() {
  next_.Block(std::string_view(data_.get(), held_));
  held_ = 0;
}

std::string BodyBuffer::TakeHeld() {
  std::string held(data_.get(), held_);
  bytes_ -= held_;
  held_ = 0;
  return held;
}

void BodyBuffer::End(bool clean) {
  next_.End(std::string_view(data_.get(), held_), clean);
  held_ = 0;
}

}  // namespace morvane::host
