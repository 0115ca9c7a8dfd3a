// The chart page of the admin listener: a page that draws a product's bars
// as candles with their volume, and the paths it reads.
//
//   GET /chart                 the page (host/chart/chart.html), then its
//   GET /chart/*.js, *.css     script and style and the chart library,
//                              all built into the server (embedded_files.h)
//   GET /chart/symbols         the products the order database lists as
//                              valid, one "symbol<TAB>name" line each, or 503
//                              with what failed
//   GET /chart/data?QUERY      QUERY's answer from the extension: the very
//                              request a client sends to the public port,
//                              through the same handler (so counted, logged
//                              and turned away at MaxConnection the same),
//                              answered byte for byte the same
//
// The public port gains nothing: every path there still goes to the
// extension, and no answer of either port carries a CORS header. The data
// and the product list wait for a turn like any request of the public port;
// the page's files never do.
#ifndef MORVANE_HOST_CHART_PAGES_H_
#define MORVANE_HOST_CHART_PAGES_H_

namespace morvane::host {

class AdminHandler;
class ExtensionLoader;
class RequestHandler;

// Adds the chart's paths to `admin`. Requires: before the listener starts;
// `extension` and `handler` (the public port's) outlive `admin`.
void AddChartPages(AdminHandler& admin, const ExtensionLoader& extension, RequestHandler& handler);

}  // namespace morvane::host

#endif  // MORVANE_HOST_CHART_PAGES_H_
