// The connection layer of morvane-server.
//
// A small set of threads (loop_threads.h) serves every socket's events
// without blocking; a connection costs a thread only while its complete
// request is inside the extension, which runs on the thread that read it and
// writes its answer straight to the socket (socket_sender.h). Requests
// running at once are bounded in all (HostLimits::threads) and per client
// address; the rest wait their turn, in order, holding no thread.
// Everything else (waiting for the first byte, a slow head or body, a
// keep-alive connection between requests, a client that reads slowly) is a
// few hundred bytes of state and, where the client takes too long, a
// deadline (host_limits.h).
//
// Requests are parsed strictly (Boost.Beast's parser, plus the rules below);
// a request whose framing is doubtful never reaches the extension: it is
// answered 400, 413 or 417 with a fixed text and the connection is closed,
// so nothing after it on that connection can be read as another request.
// No byte of a request is ever copied into a status line or header.
//
// Stopping (Drain): the listening socket closes, idle connections and those
// still sending their request close at once, and requests in flight may
// finish for up to HostLimits::drain_timeout; then every connection is
// closed.
#ifndef MORVANE_HOST_HTTP_SERVER_H_
#define MORVANE_HOST_HTTP_SERVER_H_

#include <functional>
#include <memory>
#include <string>

#include "host_limits.h"

namespace morvane::host {

class ExtensionLoader;
struct ServerCore;

class HttpServer {
 public:
  // Requires: `extension` is loaded and outlives the server.
  HttpServer(const ExtensionLoader& extension, const HostLimits& limits);
  // Requires: Drain() returned true, or Listen() was never called.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on `host`:`port` (port 0 picks a free one) and starts serving.
  // On failure returns false with the reason in *error.
  bool Start(const std::string& host, const std::string& port, std::string* error);
  int port() const;

  // Stops as described above and returns when every connection is closed.
  // `stop_now` is asked every few milliseconds while requests finish; true
  // cuts the wait short. Returns false when a thread is still inside the
  // extension after it all (it ignores its failed writes): the process must
  // then exit without unloading the extension or destroying the server.
  bool Drain(const std::function<bool()>& stop_now);

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_HTTP_SERVER_H_
