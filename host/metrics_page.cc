#include "metrics_page.h"

#include <prometheus/text_serializer.h>

#include <cstring>
#include <sstream>

#include "access_log.h"
#include "extension_loader.h"
#include "host_limits.h"
#include "http_server.h"
#include "metric_families.h"
#include "process_metrics.h"
#include "readiness.h"
#include "request_metrics.h"

namespace morvane::host {

namespace {

using prometheus::MetricType;
constexpr auto kRelaxed = std::memory_order_relaxed;

template <typename T>
double Read(const std::atomic<T>& v) {
  return static_cast<double>(v.load(kRelaxed));
}

void CollectServer(const HttpServer& server, const HostLimits* limits, Families* out) {
  const HostCounters& c = server.counters();
  AddSingle(out, "morvane_connections_total", "Connections admitted.", MetricType::Counter,
            Read(c.connections_total));
  auto& refused =
      AddFamily(out, "morvane_connections_refused_total",
                "Connections closed as they arrived, by the bound they met.", MetricType::Counter);
  AddSample(refused, Read(c.refused_total_limit_total), {{"reason", "total"}});
  AddSample(refused, Read(c.refused_per_address_total), {{"reason", "per_address"}});
  AddSample(refused, Read(c.refused_draining_total), {{"reason", "draining"}});
  AddSingle(out, "morvane_connections_open", "Connections open now.", MetricType::Gauge,
            Read(c.connections_open));
  AddSingle(out, "morvane_connections_idle", "Open connections waiting for a request.",
            MetricType::Gauge, Read(c.connections_idle));
  AddSingle(out, "morvane_requests_running", "Requests being answered now.", MetricType::Gauge,
            Read(c.requests_running));
  AddSingle(out, "morvane_requests_waiting", "Requests waiting for a turn now.", MetricType::Gauge,
            Read(c.requests_waiting));
  AddSingle(out, "morvane_requests_queued_total", "Requests that had to wait for a turn.",
            MetricType::Counter, Read(c.requests_queued_total));
  auto& framing = AddFamily(out, "morvane_framing_refusals_total",
                            "Requests refused by the framing rules before any handler, by the "
                            "status they got (503: arrived while stopping).",
                            MetricType::Counter);
  AddSample(framing, Read(c.refused_400_total), {{"code", "400"}});
  AddSample(framing, Read(c.refused_413_total), {{"code", "413"}});
  AddSample(framing, Read(c.refused_417_total), {{"code", "417"}});
  AddSample(framing, Read(c.refused_503_total), {{"code", "503"}});
  AddSingle(out, "morvane_client_hang_ups_total",
            "Clients that hung up while waiting for a turn or before their answer was whole.",
            MetricType::Counter, Read(c.hang_ups_total));
  AddSingle(out, "morvane_draining", "1 while the server stops (SIGTERM), else 0.",
            MetricType::Gauge, server.Draining() ? 1 : 0);
  if (limits != nullptr) {
    AddSingle(out, "morvane_request_slots",
              "Requests that may run at once (--threads); more wait their turn.", MetricType::Gauge,
              limits->threads);
  }
}

void CollectExtension(const ExtensionLoader& extension, Families* out) {
  const HSE_EXTENSION_SERVICES* services = extension.Services();
  if (services == nullptr || services->GetFigures == nullptr) return;
  HSE_EXTENSION_FIGURES f{};
  f.cbSize = sizeof(f);
  if (services->GetFigures(&f) == 0) return;
  AddSingle(out, "morvane_data_modules_in_use", "Data modules serving a request now.",
            MetricType::Gauge, f.dwModulesInUse);
  AddSingle(out, "morvane_data_modules_idle", "Data modules made and waiting for a request.",
            MetricType::Gauge, f.dwModulesIdle);
  AddSingle(out, "morvane_data_modules_max",
            "MaxConnection: data modules that may serve at once; beyond it the limit page.",
            MetricType::Gauge, f.lModulesMax);
  AddSingle(out, "morvane_daily_history_retries_total",
            "Daily-history attempts made again after a store error.", MetricType::Counter,
            static_cast<double>(f.qwDailyRetries));
  AddSingle(out, "morvane_log_lines_total", "Lines written to the diagnostic log.",
            MetricType::Counter, static_cast<double>(f.qwLogLines));
  auto kept = NewFamily("morvane_store_links_kept",
                        "Idle store links kept for reuse now, by alias.", MetricType::Gauge);
  auto opened = NewFamily("morvane_store_links_opened_total", "Store links made afresh, by alias.",
                          MetricType::Counter);
  auto reused = NewFamily("morvane_store_link_reuses_total",
                          "Store opens served by a kept link, by alias.", MetricType::Counter);
  auto discarded = NewFamily("morvane_store_link_discards_total",
                             "Store links closed instead of kept (failed, broken, stale, idle "
                             "too long, or beyond the bound), by alias.",
                             MetricType::Counter);
  auto errors = NewFamily("morvane_store_errors_total",
                          "Store errors caught by the request handler, by the alias they name "
                          "(none: a store error naming no alias of the module).",
                          MetricType::Counter);
  const uint32_t stores = f.dwStores < HSE_MAX_STORES ? f.dwStores : HSE_MAX_STORES;
  for (uint32_t i = 0; i < stores; ++i) {
    const HSE_STORE_FIGURES& s = f.Stores[i];
    const std::string alias =
        LabelSafe(std::string_view(s.szAlias, strnlen(s.szAlias, sizeof(s.szAlias))));
    AddSample(kept, static_cast<double>(s.qwLinksKept), {{"alias", alias}});
    AddSample(opened, static_cast<double>(s.qwLinksOpened), {{"alias", alias}});
    AddSample(reused, static_cast<double>(s.qwLinksReused), {{"alias", alias}});
    AddSample(discarded, static_cast<double>(s.qwLinksDiscarded), {{"alias", alias}});
    AddSample(errors, static_cast<double>(s.qwErrors), {{"alias", alias}});
  }
  for (auto* family : {&kept, &opened, &reused, &discarded, &errors}) {
    out->push_back(std::move(*family));
  }
}

}  // namespace

std::string LabelSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) c = '_';
  }
  return out;
}

std::string RenderMetrics(const MetricsSources& s) {
  Families families;
  if (s.requests != nullptr) s.requests->Collect(&families);
  if (s.server != nullptr) CollectServer(*s.server, s.limits, &families);
  if (s.readiness != nullptr) {
    const Readiness::State r = s.readiness->Current();
    const bool draining = s.server != nullptr && s.server->Draining();
    AddSingle(&families, "morvane_ready",
              "1 when /readyz answers 200: the stores can be opened and the server is not "
              "stopping.",
              MetricType::Gauge, r.checked && r.ready && !draining ? 1 : 0);
  }
  if (s.extension != nullptr) CollectExtension(*s.extension, &families);
  if (s.access_log != nullptr) s.access_log->Collect(&families);
  if (s.process != nullptr) s.process->Collect(&families);
  auto& info = AddFamily(&families, "morvane_build_info", "The server's version; always 1.",
                         MetricType::Gauge);
  AddSample(info, 1, {{"version", s.version}});
  std::ostringstream text;
  prometheus::TextSerializer().Serialize(text, families);
  return std::move(text).str();
}

}  // namespace morvane::host
