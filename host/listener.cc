#include "listener.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <memory>

#include "connection.h"

namespace morvane::host {

namespace net = boost::asio;
using tcp = net::ip::tcp;

bool Admission::Admit(const std::string& address) {
  std::lock_guard lock(mu_);
  if (open_ >= limits_.max_connections) {
    HostCounters::Add(counters_.refused_total_limit_total);
    return false;
  }
  size_t& mine = per_address_[address];
  if (mine >= limits_.max_per_address) {
    HostCounters::Add(counters_.refused_per_address_total);
    return false;
  }
  ++mine;
  ++open_;
  HostCounters::Add(counters_.connections_total);
  HostCounters::Up(counters_.connections_open);
  return true;
}

void Admission::Release(const std::string& address) {
  std::lock_guard lock(mu_);
  --open_;
  HostCounters::Down(counters_.connections_open);
  if (auto it = per_address_.find(address); it != per_address_.end() && --it->second == 0) {
    per_address_.erase(it);
  }
}

size_t Admission::Open() const {
  std::lock_guard lock(mu_);
  return open_;
}

Listener::Listener(net::io_context& io, ConnectionContext& context, RequestHandler& handler)
    : io_(io), context_(context), handler_(handler), acceptor_(net::make_strand(io)) {}

bool Listener::Open(const std::string& host, const std::string& port, std::string* error) {
  boost::system::error_code ec;
  tcp::resolver resolver(io_);
  std::string name = host;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  if (name.empty()) name = "0.0.0.0";
  const auto found = resolver.resolve(name, port, tcp::resolver::passive, ec);
  if (ec || found.empty()) {
    *error = "cannot resolve " + host + ":" + port;
    return false;
  }
  const tcp::endpoint endpoint = *found.begin();
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + host + ":" + port + ": " + ec.message();
    return false;
  }
  return true;
}

namespace {

net::awaitable<void> AcceptLoop(net::io_context& io, tcp::acceptor& acceptor,
                                ConnectionContext& context, RequestHandler& handler) {
  boost::system::error_code ec;
  auto token = net::redirect_error(net::use_awaitable, ec);
  net::steady_timer pause(acceptor.get_executor());
  for (;;) {
    tcp::socket socket = co_await acceptor.async_accept(net::make_strand(io), token);
    if (ec == net::error::operation_aborted || !acceptor.is_open()) co_return;
    if (ec) {
      // Out of descriptors, most likely: the connections still open will
      // give some back. Accepting again at once would spin.
      pause.expires_after(std::chrono::milliseconds(50));
      co_await pause.async_wait(token);
      continue;
    }
    const auto remote = socket.remote_endpoint(ec);
    if (ec) continue;  // the socket closes as it goes
    if (context.draining.load()) {
      HostCounters::Add(context.counters.refused_draining_total);
      continue;
    }
    std::string address = remote.address().to_string();
    if (!context.admission.Admit(address)) continue;
    socket.set_option(tcp::no_delay(true), ec);
    Connection::Start(context, handler, std::move(socket), std::move(address));
  }
}

}  // namespace

void Listener::Start() {
  net::co_spawn(acceptor_.get_executor(), AcceptLoop(io_, acceptor_, context_, handler_),
                net::detached);
}

void Listener::Close() {
  net::post(acceptor_.get_executor(), [this] {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
  });
}

int Listener::port() const {
  boost::system::error_code ec;
  return acceptor_.is_open() ? acceptor_.local_endpoint(ec).port() : 0;
}

}  // namespace morvane::host
