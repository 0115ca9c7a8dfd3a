// A listening socket and who may connect through it.
//
// Admission counts open connections in all and per client address, and
// turns a new one away (closing it at once, before a byte is read) beyond
// either bound (HostLimits::max_connections, max_per_address) or while the
// server stops. Every listener of a server shares one Admission, so the
// bounds hold for the process.
//
// A Listener accepts on one address and starts a connection (connection.h)
// for each admitted socket, with the handler that serves that listener's
// requests. Accepting runs on the server's event loop; a failed accept
// (out of descriptors, most likely) pauses it briefly instead of spinning.
#ifndef MORVANE_HOST_LISTENER_H_
#define MORVANE_HOST_LISTENER_H_

// Boost 1.74's awaitable.hpp uses std::exchange without including it.
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

#include "host_counters.h"
#include "host_limits.h"

namespace morvane::host {

struct ConnectionContext;
class RequestHandler;

class Admission {
 public:
  Admission(const HostLimits& limits, HostCounters& counters)
      : limits_(limits), counters_(counters) {}

  // Counts a new connection from `address`; false (counted as a refusal)
  // when a bound is reached. Safe for concurrent use.
  bool Admit(const std::string& address);
  // A connection admitted from `address` has closed.
  void Release(const std::string& address);
  size_t Open() const;

 private:
  const HostLimits& limits_;
  HostCounters& counters_;
  mutable std::mutex mu_;  // guards the two below
  std::unordered_map<std::string, size_t> per_address_;
  size_t open_ = 0;
};

class Listener {
 public:
  // Requires: `context` and `handler` outlive the listener's accept loop.
  Listener(boost::asio::io_context& io, ConnectionContext& context, RequestHandler& handler);

  // Resolves, binds and listens on `host`:`port` (port 0 picks a free one;
  // "[::1]" style brackets are allowed). False with the reason in *error.
  bool Open(const std::string& host, const std::string& port, std::string* error);
  // Starts accepting on the event loop. Requires: Open() returned true.
  void Start();
  // Stops accepting; connections already made are not touched.
  void Close();
  int port() const;

 private:
  boost::asio::io_context& io_;
  ConnectionContext& context_;
  RequestHandler& handler_;
  boost::asio::ip::tcp::acceptor acceptor_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_LISTENER_H_
