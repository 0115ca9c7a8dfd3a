// The HTTP client that fetches the settings page.
#ifndef MORVANE_SUPPORT_HTTP_CLIENT_H_
#define MORVANE_SUPPORT_HTTP_CLIENT_H_

#include <string>

namespace morvane {

struct HttpResponse {
  long status = 0;  // the HTTP status code of the answer
  std::string body;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;

  // One plain GET of `url`, redirects not followed. Returns whatever answer
  // the server gave, whatever its status. Raises EInOutError when no answer
  // arrives: the host cannot be resolved or reached, the connection breaks,
  // the transfer times out or the body is unreasonably large. Safe for
  // concurrent use.
  virtual HttpResponse Get(const std::string& url) const = 0;
};

// libcurl: connect timeout 10 s, whole transfer 30 s, http only, bodies up to
// 16 MiB.
class CurlHttpClient final : public HttpClient {
 public:
  HttpResponse Get(const std::string& url) const override;
};

// The client the settings download uses: a test's when one is installed,
// else a CurlHttpClient. Safe for concurrent use.
const HttpClient& ProcessHttpClient();

// Installs `client` (not owned; must outlive its use), or restores the
// default with nullptr. For tests.
void SetHttpClientForTesting(const HttpClient* client);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_HTTP_CLIENT_H_
