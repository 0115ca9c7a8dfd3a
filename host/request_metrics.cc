#include "request_metrics.h"

#include <limits>

namespace morvane::host {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// The bounds in nanoseconds, so that a request's bucket is found by integer
// comparisons.
constexpr std::array<int64_t, RequestMetrics::kBuckets.size()> BoundsNs() {
  std::array<int64_t, RequestMetrics::kBuckets.size()> ns{};
  for (size_t i = 0; i < ns.size(); ++i) {
    ns[i] = static_cast<int64_t>(RequestMetrics::kBuckets[i] * 1e9 + 0.5);
  }
  return ns;
}
constexpr auto kBoundsNs = BoundsNs();

}  // namespace

void RequestMetrics::Histogram::Observe(std::chrono::nanoseconds value) {
  const int64_t ns = value.count() > 0 ? value.count() : 0;
  size_t i = 0;
  while (i < kBoundsNs.size() && ns > kBoundsNs[i]) ++i;
  buckets[i].fetch_add(1, kRelaxed);
  sum_ns.fetch_add(static_cast<uint64_t>(ns), kRelaxed);
}

void RequestMetrics::Histogram::Collect(prometheus::ClientMetric* metric) const {
  uint64_t cumulative = 0;
  for (size_t i = 0; i < buckets.size(); ++i) {
    cumulative += buckets[i].load(kRelaxed);
    prometheus::ClientMetric::Bucket& b = metric->histogram.bucket.emplace_back();
    b.cumulative_count = cumulative;
    b.upper_bound = i < kBuckets.size() ? kBuckets[i] : std::numeric_limits<double>::infinity();
  }
  // The count is the last bucket's, so the two always agree.
  metric->histogram.sample_count = cumulative;
  metric->histogram.sample_sum = static_cast<double>(sum_ns.load(kRelaxed)) / 1e9;
}

void RequestMetrics::Finished(const FinishedRequest& r) {
  const size_t mode = r.mode < kModes ? r.mode : kModeNone;
  requests_[mode][static_cast<size_t>(r.outcome)].fetch_add(1, kRelaxed);
  if (r.body_bytes > 0) bytes_[mode].fetch_add(r.body_bytes, kRelaxed);
  if (r.records > 0) records_[mode].fetch_add(r.records, kRelaxed);
  // Only answers that began count towards the timings: a refused request
  // or one given up while waiting has no first byte to time.
  if (r.first_byte != FinishedRequest::Clock::time_point{}) {
    duration_[mode].Observe(r.Duration());
    first_byte_[mode].Observe(r.first_byte - r.request.received);
  }
}

void RequestMetrics::Collect(Families* out) const {
  using prometheus::MetricType;
  auto& requests =
      AddFamily(out, "morvane_requests_total",
                "Requests by the mode they asked for and how they ended.", MetricType::Counter);
  for (size_t m = 0; m < kModes; ++m) {
    for (size_t o = 0; o < kOutcomes; ++o) {
      AddSample(requests, static_cast<double>(requests_[m][o].load(kRelaxed)),
                {{"mode", kModeNames[m]}, {"outcome", kOutcomeNames[o]}});
    }
  }
  auto bytes =
      NewFamily("morvane_answer_bytes_total",
                "Body bytes of the answers, before any content coding.", MetricType::Counter);
  auto records =
      NewFamily("morvane_answer_records_total",
                "Records written in the answers, error records included.", MetricType::Counter);
  for (size_t m = 0; m < kModes; ++m) {
    AddSample(bytes, static_cast<double>(bytes_[m].load(kRelaxed)), {{"mode", kModeNames[m]}});
    AddSample(records, static_cast<double>(records_[m].load(kRelaxed)), {{"mode", kModeNames[m]}});
  }
  out->push_back(std::move(bytes));
  out->push_back(std::move(records));
  const struct {
    const char* name;
    const char* help;
    const std::array<Histogram, kModes>& histograms;
  } timings[] = {
      {"morvane_request_duration_seconds",
       "From the request read whole to the last byte of its answer handed to the socket, waiting "
       "for a turn included.",
       duration_},
      {"morvane_time_to_first_byte_seconds",
       "From the request read whole to the first bytes of its answer handed to the socket.",
       first_byte_},
  };
  for (const auto& t : timings) {
    auto& family = AddFamily(out, t.name, t.help, MetricType::Histogram);
    for (size_t m = 0; m < kModes; ++m) {
      prometheus::ClientMetric& metric = family.metric.emplace_back();
      metric.label.push_back({"mode", std::string(kModeNames[m])});
      t.histograms[m].Collect(&metric);
    }
  }
}

}  // namespace morvane::host
