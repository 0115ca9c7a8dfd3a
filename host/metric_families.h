// Small helpers for building the families of the metrics page
// (metrics_page.h) in prometheus-cpp's model, which its text serializer
// writes in Prometheus's exposition format.
#ifndef MORVANE_HOST_METRIC_FAMILIES_H_
#define MORVANE_HOST_METRIC_FAMILIES_H_

#include <prometheus/client_metric.h>
#include <prometheus/metric_family.h>
#include <prometheus/metric_type.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::host {

using Families = std::vector<prometheus::MetricFamily>;
using LabelPairs = std::initializer_list<std::pair<std::string_view, std::string_view>>;

inline prometheus::MetricFamily NewFamily(std::string name, std::string help,
                                          prometheus::MetricType type) {
  prometheus::MetricFamily f;
  f.name = std::move(name);
  f.help = std::move(help);
  f.type = type;
  return f;
}

// Appends a family and returns it, to be filled before the next one is
// added (adding another may move it).
inline prometheus::MetricFamily& AddFamily(Families* out, std::string name, std::string help,
                                           prometheus::MetricType type) {
  return out->emplace_back(NewFamily(std::move(name), std::move(help), type));
}

// One sample of a counter or gauge family, with its labels.
inline prometheus::ClientMetric& AddSample(prometheus::MetricFamily& family, double value,
                                           LabelPairs labels = {}) {
  prometheus::ClientMetric& m = family.metric.emplace_back();
  for (const auto& [name, label_value] : labels) {
    m.label.push_back({std::string(name), std::string(label_value)});
  }
  if (family.type == prometheus::MetricType::Counter) {
    m.counter.value = value;
  } else {
    m.gauge.value = value;
  }
  return m;
}

// A family of one sample without labels.
inline void AddSingle(Families* out, std::string name, std::string help,
                      prometheus::MetricType type, double value) {
  AddSample(AddFamily(out, std::move(name), std::move(help), type), value);
}

}  // namespace morvane::host

#endif  // MORVANE_HOST_METRIC_FAMILIES_H_
