// The counts of requests by mode and outcome, their bytes and records, and
// the histograms of their duration and time to first byte: what the
// metrics page shows of the requests of one listener.
//
// Each finished request adds to a handful of relaxed atomic counters (no
// lock, no system call: the bucket is found by a short scan); the page
// reads them when scraped. A scrape may see a request half counted (its
// bucket but not yet its sum); the next one sees it whole.
#ifndef MORVANE_HOST_REQUEST_METRICS_H_
#define MORVANE_HOST_REQUEST_METRICS_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "metric_families.h"
#include "request_observer.h"
#include "request_outcome.h"

namespace morvane::host {

class RequestMetrics final : public RequestObserver {
 public:
  // Upper bounds of the histograms' buckets, in seconds: from a small
  // answer's half millisecond to a long history's minute.
  static constexpr std::array<double, 16> kBuckets = {
      0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60};

  void Finished(const FinishedRequest& request) override;

  // The families: morvane_requests_total, morvane_answer_bytes_total,
  // morvane_answer_records_total, morvane_request_duration_seconds and
  // morvane_time_to_first_byte_seconds. Every mode and outcome is listed,
  // counted or not, so that a rate starts from zero.
  void Collect(Families* out) const;

 private:
  using Counter = std::atomic<uint64_t>;
  struct Histogram {
    void Observe(std::chrono::nanoseconds value);
    void Collect(prometheus::ClientMetric* metric) const;
    std::array<Counter, kBuckets.size() + 1> buckets{};  // the last: above every bound
    Counter sum_ns{0};
  };

  std::array<std::array<Counter, kOutcomes>, kModes> requests_{};
  std::array<Counter, kModes> bytes_{};
  std::array<Counter, kModes> records_{};
  std::array<Histogram, kModes> duration_{};
  std::array<Histogram, kModes> first_byte_{};
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_REQUEST_METRICS_H_
