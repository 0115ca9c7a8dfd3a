#include "monitoring.h"

#include <utility>

#include "access_log.h"
#include "answer.h"
#include "chart_pages.h"
#include "extension_handler.h"
#include "extension_loader.h"
#include "http_server.h"
#include "metrics_page.h"
#include "readiness.h"
#include "version_strings.h"

namespace morvane::host {

namespace {

constexpr std::string_view kText = "text/plain; charset=utf-8";

// The extension's own check, off the request path; an extension that
// offers none is ready once loaded.
bool CheckExtension(const ExtensionLoader& extension, std::string* problem) {
  const HSE_EXTENSION_SERVICES* services = extension.Services();
  if (services == nullptr || services->CheckReady == nullptr) return true;
  char text[1024] = "";
  uint32_t size = sizeof(text);
  if (services->CheckReady(text, &size) != 0) return true;
  text[sizeof(text) - 1] = '\0';
  *problem = text[0] != '\0' ? text : "the extension is not ready";
  return false;
}

}  // namespace

std::unique_ptr<Monitoring> Monitoring::Create(const MonitoringOptions& options,
                                               const HostLimits& limits,
                                               const ExtensionLoader& extension,
                                               ExtensionHandler& handler, std::string* error) {
  std::unique_ptr<Monitoring> m(new Monitoring(limits, extension));
  m->options_ = options;
  if (!options.access_log.empty()) {
    m->access_log_ = AccessLog::Open(options.access_log, error);
    if (!m->access_log_) return nullptr;
    handler.AddObserver(m->access_log_.get());
  }
  if (!options.admin_listen.empty()) {
    handler.AddObserver(&m->requests_);
    for (const auto& [key, value] : ReadOwnVersionStrings()) {
      if (key == "FileVersion") m->version_ = LabelSafe(value);
    }
    m->AddPages();
    AddChartPages(m->admin_, extension, handler);
  }
  return m;
}

Monitoring::Monitoring(const HostLimits& limits, const ExtensionLoader& extension)
    : limits_(limits), extension_(extension) {}

Monitoring::~Monitoring() {
  Stop();
}

void Monitoring::AddPages() {
  admin_.Add("/metrics", [this](const HttpRequest&, Answer& answer) {
    MetricsSources sources;
    sources.server = server_;
    sources.limits = &limits_;
    sources.requests = &requests_;
    sources.extension = &extension_;
    sources.readiness = readiness_.get();
    sources.access_log = access_log_.get();
    sources.process = &process_;
    sources.version = version_;
    AdminHandler::SendPage(answer, 200, "OK", kMetricsContentType, RenderMetrics(sources));
  });
  admin_.Add("/healthz", [](const HttpRequest&, Answer& answer) {
    AdminHandler::SendPage(answer, 200, "OK", kText, "ok\n");
  });
  admin_.Add("/readyz", [this](const HttpRequest&, Answer& answer) {
    std::string why;
    if (server_ != nullptr && server_->Draining()) {
      why = "draining: the server is stopping";
    } else if (const Readiness::State s = readiness_->Current(); !s.checked) {
      why = "the first check is still running";
    } else if (!s.ready) {
      why = s.problem;
    }
    if (why.empty()) {
      AdminHandler::SendPage(answer, 200, "OK", kText, "ready\n");
    } else {
      AdminHandler::SendPage(answer, 503, "Service Unavailable", kText, "not ready: " + why + "\n");
    }
  });
}

bool Monitoring::ListenAdmin(HttpServer& server, std::string* error) {
  server_ = &server;
  if (options_.admin_listen.empty()) return true;
  readiness_ = std::make_unique<Readiness>(
      [this](std::string* problem) { return CheckExtension(extension_, problem); });
  const size_t colon = options_.admin_listen.rfind(':');
  const std::string host = options_.admin_listen.substr(0, colon);
  if (!server.Listen(host, options_.admin_listen.substr(colon + 1), admin_, error)) {
    readiness_->Stop();
    return false;
  }
  // The admin listener is the last one added.
  size_t index = 0;
  while (server.port(index + 1) != 0) ++index;
  admin_address_ = "http://" + host + ":" + std::to_string(server.port(index));
  return true;
}

void Monitoring::Reopen() {
  if (access_log_) access_log_->Reopen();
}

void Monitoring::Stop() {
  if (readiness_) readiness_->Stop();
  if (access_log_) access_log_->Close();
}

}  // namespace morvane::host
