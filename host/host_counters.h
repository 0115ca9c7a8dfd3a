// What the connection layer counts as it works: connections admitted and
// refused, requests queued, running and ended, refusals by the framing
// rules, clients that hung up. Plain atomics, bumped once per connection or
// request (never per record or per write), read by whoever reports them.
//
// Counters (`_total`) only grow; gauges go up and down. All are safe for
// concurrent use; relaxed ordering is enough, as no reader draws more than
// a figure from them.
#ifndef MORVANE_HOST_HOST_COUNTERS_H_
#define MORVANE_HOST_HOST_COUNTERS_H_

#include <atomic>
#include <cstdint>

namespace morvane::host {

struct HostCounters {
  using Counter = std::atomic<uint64_t>;
  using Gauge = std::atomic<int64_t>;

  static void Add(Counter& c, uint64_t n = 1) { c.fetch_add(n, std::memory_order_relaxed); }
  static void Up(Gauge& g) { g.fetch_add(1, std::memory_order_relaxed); }
  static void Down(Gauge& g) { g.fetch_sub(1, std::memory_order_relaxed); }

  // Admission (listener.h).
  Counter connections_total{0};          // admitted
  Counter refused_total_limit_total{0};  // over --max-connections
  Counter refused_per_address_total{0};  // over --max-per-address
  Counter refused_draining_total{0};     // accepted while the server stops
  Gauge connections_open{0};
  Gauge connections_idle{0};  // open, waiting for a request

  // Requests (connection.h, turn_queue.h).
  Counter requests_queued_total{0};  // had to wait for a turn
  Gauge requests_waiting{0};
  Gauge requests_running{0};
  Counter requests_started_total{0};
  Counter requests_ended_total{0};

  // Requests refused by the framing rules before any handler saw them, by
  // the status they got.
  Counter refused_400_total{0};
  Counter refused_413_total{0};
  Counter refused_417_total{0};
  Counter refused_503_total{0};  // arrived while the server stops

  // Clients gone: hung up while waiting for a turn, or before their answer
  // was whole.
  Counter hang_ups_total{0};
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_HOST_COUNTERS_H_
