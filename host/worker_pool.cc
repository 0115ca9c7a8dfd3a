#include "worker_pool.h"

namespace morvane::host {

WorkerPool::WorkerPool(int threads) {
  running_ = threads;
  threads_.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() {
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void WorkerPool::Submit(std::function<void()> job) {
  {
    std::lock_guard lock(mu_);
    jobs_.push_back(std::move(job));
  }
  ready_.notify_one();
}

void WorkerPool::Work() {
  std::unique_lock lock(mu_);
  for (;;) {
    ready_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) break;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // what the job holds goes before the next one starts
    lock.lock();
  }
  if (--running_ == 0) idle_.notify_all();
}

bool WorkerPool::Stop(std::chrono::milliseconds wait) {
  std::unique_lock lock(mu_);
  stopping_ = true;
  ready_.notify_all();
  if (!idle_.wait_for(lock, wait, [&] { return running_ == 0; })) {
    for (auto& t : threads_) t.detach();
    return false;
  }
  lock.unlock();
  for (auto& t : threads_) t.join();
  return true;
}

}  // namespace morvane::host
