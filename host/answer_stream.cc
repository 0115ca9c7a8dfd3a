#include "answer_stream.h"

namespace morvane::host {

void AnswerStream::WakeIfWaiting(std::unique_lock<std::mutex>& lock) {
  const bool wake = waiting_;
  waiting_ = false;
  lock.unlock();
  if (wake) wake_();
}

bool AnswerStream::Send(const char* data, size_t n, bool last) {
  std::unique_lock lock(mu_);
  room_.wait(lock, [&] { return abandoned_ || queued_.size() < capacity_; });
  if (abandoned_) return false;
  queued_.append(data, n);
  if (!last) WakeIfWaiting(lock);
  return true;
}

void AnswerStream::Finish(bool keep_alive) {
  std::unique_lock lock(mu_);
  finished_ = true;
  keep_alive_ = keep_alive;
  WakeIfWaiting(lock);
}

AnswerStream::Taken AnswerStream::Take(std::string* out) {
  std::unique_lock lock(mu_);
  if (!queued_.empty()) {
    out->swap(queued_);
    queued_.clear();
    lock.unlock();
    room_.notify_one();
    return Taken::kBytes;
  }
  if (finished_ || abandoned_) return Taken::kDone;
  waiting_ = true;
  return Taken::kWait;
}

void AnswerStream::Abandon() {
  {
    std::lock_guard lock(mu_);
    abandoned_ = true;
    queued_.clear();
  }
  room_.notify_all();
}

bool AnswerStream::Abandoned() const {
  std::lock_guard lock(mu_);
  return abandoned_;
}

bool AnswerStream::KeepAlive() const {
  std::lock_guard lock(mu_);
  return keep_alive_ && !abandoned_;
}

}  // namespace morvane::host
