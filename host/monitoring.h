// What morvane-server shows of itself when asked to: the admin listener
// (--admin-listen) with /metrics, /healthz, /readyz and the chart page
// (chart_pages.h), the request metrics
// behind /metrics, the readiness check behind /readyz, and the access log
// (--access-log). Off unless an option asks for it; the public port is the
// same either way (every path still goes to the extension).
//
// In main's order: Create (before the public port takes requests, so that
// every request is seen), ListenAdmin (after the public port listens),
// Reopen on SIGHUP, Stop once the server has drained (before the extension
// is told to stop: the readiness check calls into it).
#ifndef MORVANE_HOST_MONITORING_H_
#define MORVANE_HOST_MONITORING_H_

#include <memory>
#include <string>

#include "admin_handler.h"
#include "process_metrics.h"
#include "request_metrics.h"

namespace morvane::host {

class AccessLog;
class ExtensionHandler;
class ExtensionLoader;
class HttpServer;
class Readiness;
struct HostLimits;

struct MonitoringOptions {
  std::string admin_listen;  // "ADDR:PORT", or empty for none
  std::string access_log;    // a path, or empty for none
};

class Monitoring {
 public:
  // Sets up what `options` ask for and makes `handler` report to it. Null
  // with the reason in *error when the access log cannot be opened.
  // Requires: everything given outlives the monitoring.
  static std::unique_ptr<Monitoring> Create(const MonitoringOptions& options,
                                            const HostLimits& limits,
                                            const ExtensionLoader& extension,
                                            ExtensionHandler& handler, std::string* error);
  ~Monitoring();

  // Opens the admin listener on `server`, if asked for, and starts the
  // readiness check. False with the reason in *error.
  bool ListenAdmin(HttpServer& server, std::string* error);
  // The admin listener's address ("http://ADDR:PORT"), or empty.
  const std::string& AdminAddress() const { return admin_address_; }

  // SIGHUP: the access log opens its path again.
  void Reopen();
  // Stops the readiness check and writes out the access log.
  void Stop();

 private:
  Monitoring(const HostLimits& limits, const ExtensionLoader& extension);
  void AddPages();

  const HostLimits& limits_;
  const ExtensionLoader& extension_;
  MonitoringOptions options_;
  HttpServer* server_ = nullptr;
  RequestMetrics requests_;
  ProcessMetrics process_;
  std::unique_ptr<AccessLog> access_log_;
  std::unique_ptr<Readiness> readiness_;
  AdminHandler admin_;
  std::string version_;
  std::string admin_address_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_MONITORING_H_
