// The text of /metrics: every family in Prometheus's text exposition format
// (version 0.0.4), written by prometheus-cpp's serializer from figures read
// at the moment of the scrape.
//
// Sources, each read without touching the request path: the request
// metrics (request_metrics.h), the server's counters (host_counters.h), the
// extension's figures (its services, extension_abi.h), the readiness check,
// the access log's counts and the process (process_metrics.h).
#ifndef MORVANE_HOST_METRICS_PAGE_H_
#define MORVANE_HOST_METRICS_PAGE_H_

#include <string>
#include <string_view>

namespace morvane::host {

class AccessLog;
class ExtensionLoader;
class HttpServer;
class ProcessMetrics;
class Readiness;
class RequestMetrics;
struct HostLimits;

inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// What the page shows; any pointer may be null (that part is left out).
struct MetricsSources {
  const HttpServer* server = nullptr;
  const HostLimits* limits = nullptr;
  const RequestMetrics* requests = nullptr;
  const ExtensionLoader* extension = nullptr;
  const Readiness* readiness = nullptr;
  const AccessLog* access_log = nullptr;
  const ProcessMetrics* process = nullptr;
  std::string version;  // morvane_build_info's label
};

// The page. Safe for concurrent use with requests.
std::string RenderMetrics(const MetricsSources& sources);

// A label value made of the bytes an operator may put in an alias name that
// need no escaping anywhere: letters, digits, '_', '-', '.'; others are
// replaced by '_'.
std::string LabelSafe(std::string_view text);

}  // namespace morvane::host

#endif  // MORVANE_HOST_METRICS_PAGE_H_
