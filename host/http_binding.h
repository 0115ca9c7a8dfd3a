// The binding between civetweb and the extension interface: every HTTP
// request civetweb accepts, whatever its path and method, becomes one
// HttpExtensionProc call on a control block whose callbacks answer through
// civetweb.
#ifndef MORVANE_HOST_HTTP_BINDING_H_
#define MORVANE_HOST_HTTP_BINDING_H_

#include <atomic>
#include <cstddef>

struct mg_connection;

namespace morvane::host {

class ExtensionLoader;

struct BindingOptions {
  // Bodies larger than this are refused with 413 before the extension sees
  // the request: the whole body is read into memory up front.
  size_t max_body = 1024 * 1024;
  // Bytes gathered per socket write (see body_buffer.h).
  size_t write_buffer = 64 * 1024;
};

class HttpBinding {
 public:
  // Requires: `extension` is loaded and outlives the binding.
  HttpBinding(const ExtensionLoader& extension, BindingOptions options)
      : extension_(extension), options_(options) {}

  // The civetweb request handler; `self` is the HttpBinding. Runs one
  // request on civetweb's worker thread and returns the status code sent.
  static int Handle(mg_connection* conn, void* self);

  // From now on new requests are answered 503 without reaching the
  // extension, so that the requests in flight can finish before the server
  // stops (civetweb drops every write once it is told to stop). Safe for
  // concurrent use.
  void StopTakingRequests() { draining_.store(true); }
  // Requests inside the extension right now.
  int InFlight() const { return in_flight_.load(); }

 private:
  int Serve(mg_connection* conn) const;

  const ExtensionLoader& extension_;
  BindingOptions options_;
  std::atomic<bool> draining_{false};
  std::atomic<int> in_flight_{0};
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_HTTP_BINDING_H_
