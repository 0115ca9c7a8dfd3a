#include "loop_threads.h"

namespace morvane::host {

LoopThreads::LoopThreads(std::function<bool()> serve_one, int total, int spare)
    : serve_one_(std::move(serve_one)), spare_(spare) {
  running_ = total;
  threads_.reserve(static_cast<size_t>(total));
  for (int i = 0; i < total; ++i) threads_.emplace_back([this] { Run(); });
}

LoopThreads::~LoopThreads() {
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void LoopThreads::Run() {
  std::unique_lock lock(mu_);
  while (!stopped_) {
    unpark_.wait(lock, [&] { return stopped_ || serving_ < spare_; });
    if (stopped_) break;
    ++serving_;
    lock.unlock();
    bool more = true;
    while (more) {
      more = serve_one_();
      lock.lock();
      if (!more) {
        stopped_ = true;
        unpark_.notify_all();
      }
      if (!more || TooMany()) break;
      lock.unlock();
    }
    --serving_;  // parks, or ends
  }
  if (--running_ == 0) ended_.notify_all();
}

void LoopThreads::EnterRequest() {
  std::lock_guard lock(mu_);
  --serving_;
  if (serving_ < spare_) unpark_.notify_one();
}

void LoopThreads::LeaveRequest() {
  std::lock_guard lock(mu_);
  ++serving_;
}

bool LoopThreads::Join(std::chrono::milliseconds wait) {
  std::unique_lock lock(mu_);
  stopped_ = true;
  unpark_.notify_all();
  const bool ended = ended_.wait_for(lock, wait, [&] { return running_ == 0; });
  lock.unlock();
  for (auto& t : threads_) {
    if (ended) {
      t.join();
    } else {
      t.detach();
    }
  }
  threads_.clear();
  return ended;
}

}  // namespace morvane::host
