#include "http_server.h"

// Boost 1.74's awaitable.hpp uses std::exchange without including it.
#include <utility>

#include <malloc.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <optional>
#include <vector>

#include "connection.h"
#include "drain.h"
#include "listener.h"
#include "loop_threads.h"
#include "turn_queue.h"

namespace morvane::host {

namespace net = boost::asio;

struct ServerCore {
  explicit ServerCore(const HostLimits& l)
      : limits(l),
        admission(limits, counters),
        turns(static_cast<size_t>(limits.threads), limits.max_active_per_address, &counters),
        context(limits, counters, admission, registry, turns) {}

  const HostLimits limits;
  HostCounters counters;
  Admission admission;
  ConnectionRegistry registry;
  TurnQueue turns;
  ConnectionContext context;

  // Destroyed first (they are last), while the members above still exist:
  // destroying the I/O context destroys the connections it still holds.
  // Run by many threads, but told it is one (loop_threads.h): handing out
  // an event then never wakes a second thread.
  net::io_context io{BOOST_ASIO_CONCURRENCY_HINT_1};
  std::vector<std::unique_ptr<Listener>> listeners;
  std::optional<net::executor_work_guard<net::io_context::executor_type>> keep_running;
  std::optional<LoopThreads> threads;
};

namespace {

// The allocator keeps what a burst of connections freed (a heap per thread,
// grown to the burst's peak) and gives it back to the system only when told
// to. Told every few seconds while no request runs, so the server's size
// comes back down after a burst instead of staying at its peak.
net::awaitable<void> TrimWhenIdle(ServerCore& core) {
  net::steady_timer tick(co_await net::this_coro::executor);
  for (;;) {
    tick.expires_after(std::chrono::seconds(2));
    boost::system::error_code ec;
    co_await tick.async_wait(net::redirect_error(net::use_awaitable, ec));
    if (ec || core.context.draining.load()) co_return;
    if (core.turns.Running() == 0) malloc_trim(0);
  }
}

}  // namespace

HttpServer::HttpServer(const HostLimits& limits) : core_(std::make_unique<ServerCore>(limits)) {}

HttpServer::~HttpServer() {
  // Sockets and pending handlers go before the state they refer to.
  core_->listeners.clear();
  core_->keep_running.reset();
  core_->io.stop();
}

bool HttpServer::Listen(const std::string& host, const std::string& port, RequestHandler& handler,
                        std::string* error) {
  ServerCore& core = *core_;
  auto listener = std::make_unique<Listener>(core.io, core.context, handler);
  if (!listener->Open(host, port, error)) return false;
  if (!core.threads) {
    core.keep_running.emplace(core.io.get_executor());
    net::co_spawn(net::make_strand(core.io), TrimWhenIdle(core), net::detached);
    // Two more threads than requests may run at once: while every request
    // slot is taken, events are still served. They find work only once the
    // listener below accepts, after `context.threads` is set.
    core.threads.emplace([&core] { core.io.run(); }, [&core] { net::post(core.io, [] {}); },
                         core.limits.threads + 2);
    core.context.threads = &*core.threads;
  }
  listener->Start();
  core.listeners.push_back(std::move(listener));
  return true;
}

int HttpServer::port(size_t index) const {
  return index < core_->listeners.size() ? core_->listeners[index]->port() : 0;
}

const HostCounters& HttpServer::counters() const {
  return core_->counters;
}

size_t HttpServer::Running() const {
  return core_->turns.Running();
}

bool HttpServer::Draining() const {
  return core_->context.draining.load();
}

bool HttpServer::Drain(const std::function<bool()>& stop_now) {
  ServerCore& core = *core_;
  if (!core.threads) return true;
  core.context.draining = true;
  for (auto& listener : core.listeners) listener->Close();
  DrainConnections(core.registry, core.limits.drain_timeout, stop_now);
  // Every connection has ended, but a thread may still be inside a handler
  // if the extension ignores the failed writes of an abandoned answer.
  core.keep_running.reset();
  core.io.stop();
  return core.threads->Join(std::chrono::seconds(2));
}

}  // namespace morvane::host
