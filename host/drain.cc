#include "drain.h"

#include <thread>

namespace morvane::host {

void ConnectionRegistry::Add(const std::shared_ptr<Drainable>& connection) {
  std::lock_guard lock(mu_);
  open_.emplace(connection.get(), connection);
}

void ConnectionRegistry::Remove(const Drainable* connection) {
  std::lock_guard lock(mu_);
  open_.erase(connection);
}

size_t ConnectionRegistry::Open() const {
  std::lock_guard lock(mu_);
  return open_.size();
}

std::vector<std::shared_ptr<Drainable>> ConnectionRegistry::Snapshot() const {
  std::lock_guard lock(mu_);
  std::vector<std::shared_ptr<Drainable>> all;
  all.reserve(open_.size());
  for (const auto& [raw, weak] : open_) {
    if (auto c = weak.lock()) all.push_back(std::move(c));
  }
  return all;
}

void DrainConnections(ConnectionRegistry& registry, std::chrono::milliseconds timeout,
                      const std::function<bool()>& stop_now) {
  using Clock = std::chrono::steady_clock;
  const auto wait_for_connections = [&](Clock::time_point deadline, bool interruptible) {
    while (registry.Open() > 0 && Clock::now() < deadline) {
      if (interruptible && stop_now()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  for (auto& c : registry.Snapshot()) c->Drain();
  wait_for_connections(Clock::now() + timeout, true);
  if (registry.Open() > 0) {
    for (auto& c : registry.Snapshot()) c->ForceClose();
    wait_for_connections(Clock::now() + std::chrono::seconds(1), false);
  }
}

}  // namespace morvane::host
