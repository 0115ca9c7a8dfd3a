// Turns: how many requests run at once, in all and per client address.
//
// Requests running at once are bounded in all (by the threads that may run
// them) and from one address, so that one client (a slow reader with many
// long answers, say) cannot hold every thread and data module. A request
// that finds no turn free waits in arrival order, holding no thread, and is
// given the first turn that frees up among those its address may take: a
// waiter from an address at its bound is passed over, not blocking the ones
// behind it.
//
// A waiter that has gone (its connection closed while it waited) is
// dropped from the queue and never given a turn; the queue holds waiters
// weakly, so a closed connection leaves it by being destroyed.
//
// Safe for concurrent use.
#ifndef MORVANE_HOST_TURN_QUEUE_H_
#define MORVANE_HOST_TURN_QUEUE_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "host_counters.h"

namespace morvane::host {

class TurnQueue {
 public:
  class Waiter {
   public:
    virtual ~Waiter() = default;
    // Its turn has come, and is counted: the waiter must end it (End) once
    // its request is done, or at once if it no longer wants it. Called
    // without the queue's lock held, on whatever thread freed the turn.
    virtual void GiveTurn() = 0;
  };

  // `counters` (may be null) gets requests_queued_total and
  // requests_waiting.
  TurnQueue(size_t total, size_t per_address, HostCounters* counters = nullptr)
      : total_(total), per_address_(per_address), counters_(counters) {}

  // True: a turn is taken, and the request may run now. False: `waiter` is
  // queued and its GiveTurn runs later, unless it has gone by then.
  bool Take(const std::string& address, const std::shared_ptr<Waiter>& waiter);

  // A turn of `address` has ended: the next waiters that fit go.
  void End(const std::string& address);

  // `waiter` no longer waits (its client hung up): it leaves the queue.
  // Does nothing when it is not queued (its turn may be on its way).
  void Leave(const Waiter* waiter);

  size_t Running() const;
  size_t Waiting() const;

 private:
  struct Queued {
    std::weak_ptr<Waiter> waiter;
    std::string address;
  };

  const size_t total_;
  const size_t per_address_;
  HostCounters* const counters_;
  mutable std::mutex mu_;  // guards the three below
  std::unordered_map<std::string, size_t> running_per_address_;
  size_t running_ = 0;
  std::deque<Queued> waiting_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_TURN_QUEUE_H_
