// ConnectionPool: idle store links kept for the next open of the same store.
#include "data/connection_pool.h"

#include <algorithm>

#include "data/driver.h"

namespace morvane::db {

ConnectionPool& ConnectionPool::Process() {
  static ConnectionPool* const pool = new ConnectionPool();
  return *pool;
}

void ConnectionPool::TakeExpired(std::chrono::steady_clock::time_point now,
                                 std::vector<Idle>* expired) {
  const auto fresh = std::find_if(idle_.begin(), idle_.end(),
                                  [&](const Idle& i) { return now - i.since <= kIdleLifetime; });
  std::move(idle_.begin(), fresh, std::back_inserter(*expired));
  idle_.erase(idle_.begin(), fresh);
}

std::unique_ptr<Connection> ConnectionPool::Take(const std::string& key) {
  for (;;) {
    std::vector<Idle> closing;  // closed outside the lock, when this goes
    std::unique_ptr<Connection> link;
    {
      std::lock_guard lock(mu_);
      TakeExpired(std::chrono::steady_clock::now(), &closing);
      // The most recently used first: its files and pages are the warmest.
      for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
        if (*it->key == key) {
          link = std::move(it->link);
          idle_.erase(std::next(it).base());
          break;
        }
      }
    }
    if (!link) return nullptr;
    if (link->Revalidate()) return link;
    // A stale link is closed here; the next one of the key is tried.
  }
}

void ConnectionPool::Give(const std::string& key, std::unique_ptr<Connection> link) {
  Give(std::make_shared<const std::string>(key), std::move(link));
}

void ConnectionPool::Give(std::shared_ptr<const std::string> key,
                          std::unique_ptr<Connection> link) {
  if (!link || !link->Reusable()) return;  // closed as it goes
  std::vector<Idle> closing;
  std::lock_guard lock(mu_);
  const auto now = std::chrono::steady_clock::now();
  TakeExpired(now, &closing);
  if (idle_.size() >= kMaxIdle) {
    closing.push_back(std::move(idle_.front()));
    idle_.erase(idle_.begin());
  }
  idle_.push_back({std::move(key), std::move(link), now});
  // `closing` is destroyed after the lock is released (declared before it).
}

void ConnectionPool::Clear() {
  std::vector<Idle> closing;
  std::lock_guard lock(mu_);
  closing.swap(idle_);
}

size_t ConnectionPool::IdleCount() {
  std::lock_guard lock(mu_);
  return idle_.size();
}

}  // namespace morvane::db
