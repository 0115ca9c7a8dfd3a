// One client connection: reads each request under its deadlines, checks its
// framing (request_rules.h), waits for its turn (turn_queue.h) when its
// handler asks for one, hands it to the handler with an answer path to the
// socket (answer.h), and keeps the connection for the next request when the
// answer's framing allows it.
//
// The deadlines (host_limits.h), each a total that a client trickling one
// byte at a time cannot stretch:
//   - idle: for the first byte of a request, on a new connection or between
//     two requests; the connection closes silently;
//   - head: from the first byte to the end of the head; closes silently;
//   - body: from the end of the head to the end of the body; answered 400
//     ("The request body did not arrive in time.") and closed.
//
// While a request waits for its turn nothing else reads the socket, so the
// connection watches it for the client hanging up (as one does when it
// gives up waiting): such a request leaves the queue at once. A request
// runs on the thread that read it, its answer written from there straight
// to the socket (socket_sender.h).
//
// A connection lives on its own strand: its coroutine and the handlers
// posted to it never run at once, so its state needs no lock. Its shared
// context outlives it.
#ifndef MORVANE_HOST_CONNECTION_H_
#define MORVANE_HOST_CONNECTION_H_

// Boost 1.74's awaitable.hpp uses std::exchange without including it.
#include <utility>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <string>

#include "host_counters.h"
#include "host_limits.h"

namespace morvane::host {

class Admission;
class ConnectionRegistry;
class LoopThreads;
class RequestHandler;
class TurnQueue;

// What every connection of a server shares.
struct ConnectionContext {
  ConnectionContext(const HostLimits& l, HostCounters& c, Admission& a, ConnectionRegistry& r,
                    TurnQueue& t)
      : limits(l), counters(c), admission(a), registry(r), turns(t) {}

  const HostLimits& limits;
  HostCounters& counters;
  Admission& admission;
  ConnectionRegistry& registry;
  TurnQueue& turns;
  // The threads that run requests; set before the first connection.
  LoopThreads* threads = nullptr;
  std::atomic<bool> draining{false};
};

namespace Connection {

// Starts serving an admitted `socket` (whose strand is its executor) from
// `address`; the connection registers itself with the context's registry
// and releases its admission when it closes.
void Start(ConnectionContext& context, RequestHandler& handler, boost::asio::ip::tcp::socket socket,
           std::string address);

}  // namespace Connection

}  // namespace morvane::host

#endif  // MORVANE_HOST_CONNECTION_H_
