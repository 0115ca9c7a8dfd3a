#include "loop_threads.h"

namespace morvane::host {

namespace {

// Ticks without a request entered before the watchdog parks.
constexpr int kQuietTicks = 50;

}  // namespace

LoopThreads::LoopThreads(std::function<void()> serve, std::function<void()> wake, int total,
                         std::chrono::microseconds grace)
    : serve_(std::move(serve)), wake_(std::move(wake)), grace_(grace) {
  running_ = total;
  threads_.reserve(static_cast<size_t>(total));
  for (int i = 0; i < total; ++i) {
    threads_.emplace_back([this] {
      serve_();
      std::lock_guard lock(mu_);
      if (--running_ == 0) ended_.notify_all();
    });
  }
  watcher_ = std::thread([this] { Watch(); });
}

LoopThreads::~LoopThreads() {
  Join(std::chrono::hours(24));
}

void LoopThreads::Watch() {
  uint64_t seen_entries = entries_.load();
  uint64_t seen_leaves = leaves_.load();
  uint64_t woken_for = ~uint64_t{0};
  bool was_busy = false;
  int quiet = 0;
  for (;;) {
    {
      std::unique_lock lock(mu_);
      if (stopped_) return;
      if (quiet > kQuietTicks) {
        watch_parked_.store(true);
        // A request that entered after the last look wakes the watchdog,
        // or is seen here (its count went up before it looked at the flag).
        watch_.wait(lock, [&] { return stopped_ || entries_.load() != seen_entries; });
        watch_parked_.store(false);
        quiet = 0;
        continue;
      }
    }
    std::this_thread::sleep_for(grace_);
    const uint64_t entries = entries_.load();
    const uint64_t leaves = leaves_.load();
    const bool busy = entries != leaves;
    // A request has run a whole tick, and no thread has come back from a
    // request or started one since: maybe none serves events. Once for
    // each such stretch is enough: the woken thread serves until it, too,
    // enters a request.
    if (busy && entries == seen_entries && leaves == seen_leaves && woken_for != entries) {
      wake_();
      woken_for = entries;
    } else if (busy && was_busy) {
      // Requests at every look, one after another: the loop is saturated,
      // and one more thread serving lets them use another core.
      wake_();
    }
    was_busy = busy;
    quiet = !busy && entries == seen_entries ? quiet + 1 : 0;
    seen_entries = entries;
    seen_leaves = leaves;
  }
}

void LoopThreads::EnterRequest() {
  entries_.fetch_add(1);
  if (watch_parked_.load()) {
    std::lock_guard lock(mu_);
    watch_.notify_one();
  }
}

bool LoopThreads::Join(std::chrono::milliseconds wait) {
  std::unique_lock lock(mu_);
  stopped_ = true;
  watch_.notify_all();
  const bool ended = ended_.wait_for(lock, wait, [&] { return running_ == 0; });
  lock.unlock();
  if (watcher_.joinable()) watcher_.join();
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
