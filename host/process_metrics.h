// The standard process_* metrics every Prometheus client exports, read from
// /proc when scraped: processor seconds, resident and virtual memory, open
// and allowed descriptors, and the start time.
#ifndef MORVANE_HOST_PROCESS_METRICS_H_
#define MORVANE_HOST_PROCESS_METRICS_H_

#include "metric_families.h"

namespace morvane::host {

class ProcessMetrics {
 public:
  // Reads the start time once.
  ProcessMetrics();

  // Appends process_cpu_seconds_total, process_resident_memory_bytes,
  // process_virtual_memory_bytes, process_open_fds, process_max_fds and
  // process_start_time_seconds. A figure that cannot be read is left out.
  void Collect(Families* out) const;

 private:
  double start_time_seconds_ = 0;  // since the epoch; 0 when unknown
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_PROCESS_METRICS_H_
