#include "turn_queue.h"

#include <vector>

namespace morvane::host {

bool TurnQueue::Take(const std::string& address, const std::shared_ptr<Waiter>& waiter) {
  std::lock_guard lock(mu_);
  size_t& mine = running_per_address_[address];
  if (running_ < total_ && mine < per_address_) {
    ++mine;
    ++running_;
    return true;
  }
  waiting_.push_back({waiter, address});
  if (counters_ != nullptr) {
    HostCounters::Add(counters_->requests_queued_total);
    HostCounters::Up(counters_->requests_waiting);
  }
  return false;
}

void TurnQueue::End(const std::string& address) {
  std::vector<std::shared_ptr<Waiter>> go;
  {
    std::lock_guard lock(mu_);
    if (auto it = running_per_address_.find(address); it != running_per_address_.end()) {
      if (it->second > 0) --it->second;
      if (it->second == 0) running_per_address_.erase(it);
      if (running_ > 0) --running_;
    }
    for (auto it = waiting_.begin(); it != waiting_.end() && running_ < total_;) {
      std::shared_ptr<Waiter> next = it->waiter.lock();
      size_t& theirs = running_per_address_[it->address];
      if (next && theirs >= per_address_) {
        ++it;
        continue;
      }
      if (next) {
        ++theirs;
        ++running_;
        go.push_back(std::move(next));
      } else if (theirs == 0) {
        running_per_address_.erase(it->address);
      }
      if (counters_ != nullptr) HostCounters::Down(counters_->requests_waiting);
      it = waiting_.erase(it);
    }
  }
  for (auto& waiter : go) waiter->GiveTurn();
}

void TurnQueue::Leave(const Waiter* waiter) {
  std::lock_guard lock(mu_);
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if (it->waiter.lock().get() != waiter) continue;
    waiting_.erase(it);
    if (counters_ != nullptr) HostCounters::Down(counters_->requests_waiting);
    return;
  }
}

size_t TurnQueue::Running() const {
  std::lock_guard lock(mu_);
  return running_;
}

size_t TurnQueue::Waiting() const {
  std::lock_guard lock(mu_);
  return waiting_.size();
}

}  // namespace morvane::host
