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
  for (auto it = idle_.begin(); it != fresh; ++it) ++CountsOf(it->alias).discarded;
  std::move(idle_.begin(), fresh, std::back_inserter(*expired));
  idle_.erase(idle_.begin(), fresh);
}

ConnectionPool::AliasStats& ConnectionPool::CountsOf(const std::string& alias) {
  for (AliasStats& s : counts_) {
    if (s.alias == alias) return s;
  }
  counts_.push_back({.alias = alias});
  return counts_.back();
}

void ConnectionPool::CountOpened(const std::string& alias) {
  std::lock_guard lock(mu_);
  ++CountsOf(alias).opened;
}

void ConnectionPool::CountDiscarded(const std::string& alias) {
  std::lock_guard lock(mu_);
  ++CountsOf(alias).discarded;
}

std::vector<ConnectionPool::AliasStats> ConnectionPool::Stats() {
  std::lock_guard lock(mu_);
  std::vector<AliasStats> stats = counts_;
  for (AliasStats& s : stats) s.kept = 0;
  for (const Idle& i : idle_) {
    for (AliasStats& s : stats) {
      if (s.alias == i.alias) ++s.kept;
    }
  }
  return stats;
}

std::unique_ptr<Connection> ConnectionPool::Take(const std::string& key, const std::string& alias) {
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
    const bool usable = link->Revalidate();
    {
      std::lock_guard lock(mu_);
      AliasStats& counts = CountsOf(alias);
      ++(usable ? counts.reused : counts.discarded);
    }
    if (usable) return link;
    // A stale link is closed here; the next one of the key is tried.
  }
}

void ConnectionPool::Give(const std::string& key, const std::string& alias,
                          std::unique_ptr<Connection> link) {
  Give(std::make_shared<const std::string>(key), alias, std::move(link));
}

void ConnectionPool::Give(std::shared_ptr<const std::string> key, const std::string& alias,
                          std::unique_ptr<Connection> link) {
  if (!link) return;
  if (!link->Reusable()) {
    CountDiscarded(alias);
    return;  // closed as it goes
  }
  std::vector<Idle> closing;
  std::lock_guard lock(mu_);
  const auto now = std::chrono::steady_clock::now();
  TakeExpired(now, &closing);
  if (idle_.size() >= kMaxIdle) {
    ++CountsOf(idle_.front().alias).discarded;
    closing.push_back(std::move(idle_.front()));
    idle_.erase(idle_.begin());
  }
  idle_.push_back({std::move(key), alias, std::move(link), now});
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
