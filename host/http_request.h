// One complete HTTP request as the connection layer hands it to the
// extension:
// parsed, checked and with its whole body. Plain data, so that the code that
// runs the extension never sees the HTTP library.
#ifndef MORVANE_HOST_HTTP_REQUEST_H_
#define MORVANE_HOST_HTTP_REQUEST_H_

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::host {

struct HttpRequest {
  std::string method;
  std::string path;   // percent escapes decoded, without the query
  std::string query;  // after "?", as sent
  int version = 11;   // 10 or 11
  std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
  std::string body;
  std::string remote_address;
  // When the request had been read whole (or refused): its duration starts here.
  std::chrono::steady_clock::time_point received{};

  // The first header of that name (case-insensitive), or null.
  const std::string* Header(std::string_view name) const;
  bool IsHead() const { return method == "HEAD"; }
};

// Splits a request target into its decoded path and its raw query. An
// absolute target ("http://host/p?q") loses its scheme and authority.
void SplitTarget(std::string_view target, std::string* path, std::string* query);

}  // namespace morvane::host

#endif  // MORVANE_HOST_HTTP_REQUEST_H_
