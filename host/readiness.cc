#include "readiness.h"

#include <utility>

namespace morvane::host {

Readiness::Readiness(Check check, std::chrono::milliseconds period)
    : check_(std::move(check)), period_(period), thread_([this] { Run(); }) {}

Readiness::~Readiness() {
  Stop();
}

void Readiness::Stop() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

Readiness::State Readiness::Current() const {
  std::lock_guard lock(mu_);
  return state_;
}

void Readiness::Run() {
  std::unique_lock lock(mu_);
  while (!stopping_) {
    lock.unlock();
    State next;
    next.checked = true;
    next.ready = check_(&next.problem);
    if (next.ready) next.problem.clear();
    lock.lock();
    state_ = std::move(next);
    wake_.wait_for(lock, period_, [this] { return stopping_; });
  }
}

}  // namespace morvane::host
