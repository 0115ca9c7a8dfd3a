// Stopping the server without cutting answers short.
//
// The drain, in order: the listeners stop accepting; every connection is
// told to drain (one between requests, or still sending its request,
// closes at once; one whose request is in flight closes after its answer);
// requests in flight may finish for up to HostLimits::drain_timeout, a
// wait that the caller may cut short; then every connection still open is
// closed, and a request still running sees its next write fail.
//
// The registry knows every open connection for that purpose. Safe for
// concurrent use.
#ifndef MORVANE_HOST_DRAIN_H_
#define MORVANE_HOST_DRAIN_H_

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace morvane::host {

// What the drain asks of a connection. Both calls return at once; the
// connection acts on its own thread.
class Drainable {
 public:
  virtual ~Drainable() = default;
  virtual void Drain() = 0;
  virtual void ForceClose() = 0;
};

class ConnectionRegistry {
 public:
  void Add(const std::shared_ptr<Drainable>& connection);
  void Remove(const Drainable* connection);
  size_t Open() const;
  std::vector<std::shared_ptr<Drainable>> Snapshot() const;

 private:
  mutable std::mutex mu_;
  std::unordered_map<const Drainable*, std::weak_ptr<Drainable>> open_;
};

// Runs the drain over `registry` once the listeners have stopped: returns
// when no connection is open, or (after a forced close) a second later at
// most. `stop_now` is asked every few milliseconds while requests finish;
// true cuts the wait short.
void DrainConnections(ConnectionRegistry& registry, std::chrono::milliseconds timeout,
                      const std::function<bool()>& stop_now);

}  // namespace morvane::host

#endif  // MORVANE_HOST_DRAIN_H_
