// The connection layer of morvane-server: its parts, put together.
//
// A small set of threads (loop_threads.h) serves every socket's events
// without blocking; a connection (connection.h) costs a thread only while
// its complete request is inside its handler, which runs on the thread
// that read it and writes its answer straight to the socket (answer.h).
// Everything else (waiting for the first byte, a slow head or body, a
// keep-alive connection between requests, a client that reads slowly) is a
// few hundred bytes of state and a deadline (host_limits.h).
//
// Each listener (listener.h) serves its requests with its own handler
// (request_handler.h): the extension on the public port, the host's own
// pages on another. Admission (connections per address and in all), the
// turns (requests running per address and in all, turn_queue.h), the
// counters (host_counters.h) and the drain (drain.h) are the server's, so
// their bounds hold across listeners.
#ifndef MORVANE_HOST_HTTP_SERVER_H_
#define MORVANE_HOST_HTTP_SERVER_H_

#include <functional>
#include <memory>
#include <string>

#include "host_counters.h"
#include "host_limits.h"

namespace morvane::host {

class RequestHandler;
struct ServerCore;

class HttpServer {
 public:
  explicit HttpServer(const HostLimits& limits);
  // Requires: Drain() returned true, or Listen() never succeeded.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on `host`:`port` (port 0 picks a free one) and serves every
  // request that arrives there with `handler`; the first listener starts
  // the threads. On failure returns false with the reason in *error.
  // Requires: `handler` outlives the server; called from one thread.
  bool Listen(const std::string& host, const std::string& port, RequestHandler& handler,
              std::string* error);
  // The port of the `index`-th listener (in the order Listen added them).
  int port(size_t index = 0) const;

  const HostCounters& counters() const;
  // Requests running now, in all.
  size_t Running() const;
  bool Draining() const;

  // Stops as drain.h describes and returns when every connection is
  // closed. `stop_now` is asked every few milliseconds while requests
  // finish; true cuts the wait short. Returns false when a thread is still
  // inside a handler after it all (the extension ignores its failed
  // writes): the process must then exit without unloading the extension or
  // destroying the server.
  bool Drain(const std::function<bool()>& stop_now);

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_HTTP_SERVER_H_
