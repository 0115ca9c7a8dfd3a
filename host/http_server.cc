#include "http_server.h"

// Boost 1.74's awaitable.hpp uses std::exchange without including it.
#include <utility>

#include <malloc.h>
#include <sys/socket.h>
#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "extension_call.h"
#include "extension_loader.h"
#include "http_request.h"
#include "loop_threads.h"
#include "socket_sender.h"

namespace morvane::host {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

class Connection;

// Everything the connections share. Declared outside the anonymous namespace
// because HttpServer holds it.
struct ServerCore {
  struct AddressLoad {
    size_t connections = 0;
    size_t active = 0;  // requests past TakeTurn and not yet ended
  };
  ServerCore(const ExtensionLoader& ext, const HostLimits& lim) : extension(ext), limits(lim) {}

  // Counts a new connection from `address`; false when a limit is reached.
  bool Admit(const std::string& address) {
    std::lock_guard lock(mu);
    if (open >= limits.max_connections) return false;
    AddressLoad& load = per_address[address];
    if (load.connections >= limits.max_per_address) return false;
    ++load.connections;
    ++open;
    return true;
  }

  void Register(const std::shared_ptr<Connection>& c);
  void Release(Connection* c, const std::string& address) {
    std::lock_guard lock(mu);
    connections.erase(c);
    --open;
    AddressLoad& load = per_address[address];
    --load.connections;
    ForgetIfUnused(address, load);
  }
  // Called with `mu` held.
  void ForgetIfUnused(const std::string& address, const AddressLoad& load) {
    if (load.connections == 0 && load.active == 0) {
      per_address.erase(address);
    }
  }

  // Requests running at once are bounded, in all (by the threads that may
  // run them) and from one address (so that one client, a slow reader with
  // many long answers say, cannot hold every thread and data module). True:
  // `c` may run its request now. False: it is queued, and its GiveTurn()
  // runs when a turn frees up, in arrival order among those that fit.
  bool TakeTurn(const std::shared_ptr<Connection>& c, const std::string& address);
  // A request from `address` has ended: the next one waiting goes.
  void EndTurn(const std::string& address);

  size_t Open() {
    std::lock_guard lock(mu);
    return open;
  }
  std::vector<std::weak_ptr<Connection>> Snapshot() {
    std::lock_guard lock(mu);
    std::vector<std::weak_ptr<Connection>> all;
    all.reserve(connections.size());
    for (auto& [raw, weak] : connections) all.push_back(weak);
    return all;
  }

  const ExtensionLoader& extension;
  const HostLimits limits;
  std::atomic<bool> draining{false};

  std::mutex mu;  // guards the three below
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;
  std::unordered_map<std::string, AddressLoad> per_address;
  size_t open = 0;
  size_t active = 0;
  std::deque<std::pair<std::weak_ptr<Connection>, std::string>> waiting;

  // Destroyed first (they are last), while the members above still exist:
  // destroying the I/O context destroys the connections it still holds.
  std::optional<net::io_context> io;
  std::optional<tcp::acceptor> acceptor;
  std::optional<net::executor_work_guard<net::io_context::executor_type>> keep_running;
  std::optional<LoopThreads> threads;
};

namespace {

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

// A complete answer of the host's own, for a request the extension never
// sees; the connection closes after it. `text` is fixed text, never request
// bytes.
std::string HostPage(int status, std::string_view reason, std::string_view text) {
  std::string page = "HTTP/1.1 " + std::to_string(status) + " ";
  page.append(reason);
  page += "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size() + 1) +
          "\r\nConnection: close\r\n\r\n";
  page.append(text);
  page += "\n";
  return page;
}

using Parser = http::request_parser<http::string_body>;

// What the parser lets through but a request must not have: the framing
// rules that keep a proxy in front of the server and the server itself from
// disagreeing on where a request ends. Null when the head is sound.
const char* HeadProblem(const Parser& parser, const HostLimits& limits) {
  const auto& req = parser.get();
  if (req.version() != 10 && req.version() != 11) return "Only HTTP/1.0 and HTTP/1.1 are served.";
  size_t lines = 0;
  for (auto it = req.begin(); it != req.end(); ++it) ++lines;
  if (lines > limits.max_headers) return "The request has too many header lines.";
  if (req.count(http::field::content_length) > 1)
    return "The request has two Content-Length headers.";
  const auto te = req.find(http::field::transfer_encoding);
  if (te != req.end()) {
    if (req.version() == 10) return "An HTTP/1.0 request cannot use Transfer-Encoding.";
    if (!beast::iequals(te->value(), "chunked")) {
      return "Only the chunked transfer coding is accepted.";
    }
  }
  return nullptr;
}

// The fixed text of a 400 for a head the parser refused.
const char* ParseProblem(const beast::error_code& ec) {
  if (ec == http::error::header_limit) return "The request head is too large.";
  if (ec == http::error::bad_content_length) {
    return "The request's Content-Length is invalid or contradicts another header.";
  }
  if (ec == http::error::bad_transfer_encoding) {
    return "The request's Transfer-Encoding is invalid or comes with a Content-Length.";
  }
  if (ec == http::error::bad_version) return "The request line's HTTP version is malformed.";
  if (ec == http::error::partial_message) return "The request head is incomplete.";
  return "The request head is malformed.";
}

}  // namespace

// One client connection. Its coroutine (Run) and the handlers posted to it
// (Drain, ForceClose, the wake-up) run on the connection's strand, so its
// members need no lock.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(ServerCore& core, tcp::socket socket, std::string address)
      : core_(core),
        stream_(std::move(socket)),
        wake_(stream_.get_executor()),
        body_deadline_(stream_.get_executor()),
        address_(std::move(address)) {}
  ~Connection() { core_.Release(this, address_); }

  static net::awaitable<void> Run(std::shared_ptr<Connection> self) { co_await self->Serve(); }

  net::any_io_executor executor() { return stream_.get_executor(); }

  // The server is stopping: a connection between requests or still sending
  // one closes now; one whose request is in flight closes after its answer.
  void Drain() {
    net::post(executor(), [self = shared_from_this()] {
      self->draining_ = true;
      if (!self->in_flight_) self->Close();
    });
  }
  // Its address's turn has come (ServerCore::TakeTurn). The turn is
  // counted already: handed back if the connection is gone meanwhile.
  static void GiveTurn(std::weak_ptr<Connection> weak, ServerCore& core, std::string address,
                       net::any_io_executor ex) {
    net::post(ex, [weak = std::move(weak), &core, address = std::move(address)] {
      auto self = weak.lock();
      if (!self || self->closed_) {
        core.EndTurn(address);
        return;
      }
      self->has_turn_ = true;
      self->wake_.cancel();
    });
  }
  // While a request is in flight nothing reads the socket; this notices a
  // client that closes or resets its connection meanwhile (as one does
  // when it gives up waiting), so that its request is dropped from the
  // queue, or its answer abandoned, at once instead of after the extension
  // has produced it all. A client that sends its next request early
  // (pipelining) simply ends the watch.
  void WatchForHangUp(unsigned request) {
    stream_.socket().async_wait(
        tcp::socket::wait_read, [self = shared_from_this(), request](beast::error_code ec) {
          if (ec || !self->in_flight_ || self->request_number_ != request) return;
          char byte;
          const ssize_t n =
              recv(self->stream_.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
          if (n > 0) return;
          if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            self->WatchForHangUp(request);
            return;
          }
          self->Close();
          self->wake_.cancel();
        });
  }
  // The drain's time is up: close whatever the connection is doing.
  // A request running now sees `abandon_` at its next write, or within a
  // tenth of a second if it is waiting for the client; the socket itself
  // closes on the strand, once the request has let go of it.
  void ForceClose() {
    abandon_.store(true);
    net::post(executor(), [self = shared_from_this()] {
      self->Close();
      self->wake_.cancel();
    });
  }

 private:
  void Close() {
    closed_ = true;
    beast::error_code ignored;
    stream_.socket().close(ignored);
  }

  net::awaitable<void> Serve();
  net::awaitable<bool> ReadRequest(std::optional<Parser>& parser);
  net::awaitable<void> Refuse(int status, std::string_view reason, std::string_view text);
  net::awaitable<void> LingerClose();

  ServerCore& core_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  net::steady_timer wake_;            // cancelled when the address's turn comes
  net::steady_timer body_deadline_;   // the body's total deadline
  std::atomic<bool> abandon_{false};  // set from any thread: stop sending
  std::string address_;
  bool in_flight_ = false;
  unsigned request_number_ = 0;  // tells the hang-up watch of one request from the next
  bool has_turn_ = false;        // counted in its address's active requests
  bool draining_ = false;
  bool closed_ = false;
  bool body_timed_out_ = false;
};

void ServerCore::Register(const std::shared_ptr<Connection>& c) {
  std::lock_guard lock(mu);
  connections.emplace(c.get(), c);
}

bool ServerCore::TakeTurn(const std::shared_ptr<Connection>& c, const std::string& address) {
  std::lock_guard lock(mu);
  AddressLoad& load = per_address[address];
  if (active < static_cast<size_t>(limits.threads) && load.active < limits.max_active_per_address) {
    ++load.active;
    ++active;
    return true;
  }
  waiting.emplace_back(c, address);
  return false;
}

void ServerCore::EndTurn(const std::string& address) {
  std::vector<std::pair<std::weak_ptr<Connection>, std::string>> go;
  {
    std::lock_guard lock(mu);
    AddressLoad& load = per_address[address];
    if (load.active > 0) --load.active;
    if (active > 0) --active;
    ForgetIfUnused(address, load);
    for (auto it = waiting.begin();
         it != waiting.end() && active < static_cast<size_t>(limits.threads);) {
      if (it->first.expired()) {
        it = waiting.erase(it);
        continue;
      }
      AddressLoad& next = per_address[it->second];
      if (next.active >= limits.max_active_per_address) {
        ++it;
        continue;
      }
      ++next.active;
      ++active;
      go.push_back(std::move(*it));
      it = waiting.erase(it);
    }
  }
  for (auto& [weak, next_address] : go) {
    if (auto c = weak.lock()) {
      Connection::GiveTurn(weak, *this, next_address, c->executor());
    } else {
      EndTurn(next_address);
    }
  }
}

net::awaitable<void> Connection::Refuse(int status, std::string_view reason,
                                        std::string_view text) {
  if (closed_) co_return;
  const std::string page = HostPage(status, reason, text);
  beast::error_code ec;
  stream_.expires_after(
      std::min<HostLimits::Duration>(core_.limits.write_timeout, std::chrono::seconds(2)));
  co_await net::async_write(stream_, net::buffer(page),
                            net::redirect_error(net::use_awaitable, ec));
  co_await LingerClose();
}

// Closes after the last answer without losing it: the client may still be
// sending (the rest of a refused body, a pipelined request), and closing a
// socket with unread bytes resets the connection, which can destroy the
// answer before the client reads it. So: end our side, read and drop what
// still comes for a short while, then close.
net::awaitable<void> Connection::LingerClose() {
  if (closed_) co_return;
  beast::error_code ec;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
  if (!ec) {
    stream_.expires_after(std::chrono::milliseconds(500));
    char sink[4096];
    for (size_t dropped = 0; dropped < 1024 * 1024;) {
      const size_t n = co_await stream_.async_read_some(
          net::buffer(sink), net::redirect_error(net::use_awaitable, ec));
      if (ec) break;
      dropped += n;
    }
  }
  Close();
}

// Reads one request, head and body, under its deadlines. Answers and
// returns false when the request must not reach the extension (the
// connection is then done).
net::awaitable<bool> Connection::ReadRequest(std::optional<Parser>& parser) {
  const HostLimits& limits = core_.limits;
  beast::error_code ec;
  auto token = net::redirect_error(net::use_awaitable, ec);

  // Waiting for the first byte: an idle connection, new or kept alive.
  if (buffer_.size() == 0) {
    stream_.expires_after(limits.idle_timeout);
    const size_t n = co_await stream_.async_read_some(buffer_.prepare(4096), token);
    if (ec) co_return false;
    buffer_.commit(n);
  }
  if (draining_ || closed_) co_return false;

  parser.emplace();
  parser->header_limit(static_cast<std::uint32_t>(limits.max_head_bytes));
  parser->body_limit(limits.max_body);
  stream_.expires_after(limits.header_timeout);
  co_await http::async_read_header(stream_, buffer_, *parser, token);
  if (ec == http::error::body_limit) {
    co_await Refuse(413, "Payload Too Large",
                    "The request body is larger than the server accepts.");
    co_return false;
  }
  if (ec == beast::error::timeout || ec == net::error::operation_aborted || closed_) {
    co_return false;  // too slow, or the server is stopping: nothing to say
  }
  if (ec) {
    co_await Refuse(400, "Bad Request", ParseProblem(ec));
    co_return false;
  }
  if (const char* problem = HeadProblem(*parser, limits)) {
    co_await Refuse(400, "Bad Request", problem);
    co_return false;
  }
  if (draining_) {
    co_await Refuse(503, "Service Unavailable", "The server is shutting down.");
    co_return false;
  }
  if (parser->is_done()) co_return true;

  // The body, whole, before the extension runs: it then never waits on a
  // slow client while it holds a data module.
  const auto& req = parser->get();
  if (const auto expect = req.find(http::field::expect); expect != req.end()) {
    if (!beast::iequals(expect->value(), "100-continue") || req.version() != 11) {
      co_await Refuse(417, "Expectation Failed", "Only \"Expect: 100-continue\" is understood.");
      co_return false;
    }
    stream_.expires_after(limits.write_timeout);
    co_await net::async_write(stream_, net::buffer(kContinue), token);
    if (ec) co_return false;
  }
  // The stream's own deadline would close the socket when it passes; this
  // one only cancels the read, so that the client still hears why.
  stream_.expires_never();
  body_timed_out_ = false;
  body_deadline_.expires_after(limits.body_timeout);
  body_deadline_.async_wait([self = shared_from_this()](beast::error_code wait_ec) {
    if (wait_ec) return;
    self->body_timed_out_ = true;
    beast::error_code ignored;
    self->stream_.socket().cancel(ignored);
  });
  co_await http::async_read(stream_, buffer_, *parser, token);
  body_deadline_.cancel();
  if (closed_) co_return false;
  if (ec == http::error::body_limit) {
    co_await Refuse(413, "Payload Too Large",
                    "The request body is larger than the server accepts.");
    co_return false;
  }
  if (body_timed_out_) {
    co_await Refuse(400, "Bad Request", "The request body did not arrive in time.");
    co_return false;
  }
  if (ec) {
    co_await Refuse(400, "Bad Request", "The request body is incomplete or badly framed.");
    co_return false;
  }
  co_return true;
}

net::awaitable<void> Connection::Serve() {
  for (;;) {
    std::optional<Parser> parser;
    if (!co_await ReadRequest(parser)) break;

    auto message = parser->release();
    auto request = std::make_shared<HttpRequest>();
    request->method.assign(message.method_string());
    SplitTarget(message.target(), &request->path, &request->query);
    request->version = static_cast<int>(message.version());
    for (const auto& field : message) {
      request->headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    request->body = std::move(message.body());
    request->remote_address = address_;
    // HTTP/1.0 answers carry no "keep-alive" of ours: such a client closes.
    const bool keep_alive = message.version() == 11 && message.keep_alive();

    in_flight_ = true;
    WatchForHangUp(++request_number_);
    has_turn_ = core_.TakeTurn(shared_from_this(), address_);
    while (!has_turn_ && !closed_) {
      wake_.expires_at(net::steady_timer::time_point::max());
      beast::error_code ignored;
      co_await wake_.async_wait(net::redirect_error(net::use_awaitable, ignored));
    }
    if (closed_) break;

    // The request runs here, on this thread, and its answer goes straight
    // to the socket: nothing else reads or writes this connection until it
    // returns, and the other threads keep serving every other connection.
    SocketSender sender(stream_.socket().native_handle(), core_.limits.write_timeout, abandon_);
    core_.threads->EnterRequest();
    const CallOutcome outcome =
        RunExtension(core_.extension, *request, sender, core_.limits.write_buffer);
    core_.threads->LeaveRequest();
    const bool complete = outcome.reusable && !sender.Failed() && !closed_;
    in_flight_ = false;
    has_turn_ = false;
    core_.EndTurn(address_);
    if (!complete) break;
    if (!keep_alive || draining_) {
      co_await LingerClose();
      break;
    }
  }
  if (has_turn_) core_.EndTurn(address_);
  Close();
}

HttpServer::HttpServer(const ExtensionLoader& extension, const HostLimits& limits)
    : core_(std::make_unique<ServerCore>(extension, limits)) {}

HttpServer::~HttpServer() {
  // Sockets and pending handlers go before the state they refer to.
  core_->acceptor.reset();
  core_->io.reset();
}

namespace {

net::awaitable<void> AcceptLoop(ServerCore& core) {
  beast::error_code ec;
  auto token = net::redirect_error(net::use_awaitable, ec);
  net::steady_timer pause(core.acceptor->get_executor());
  for (;;) {
    tcp::socket socket = co_await core.acceptor->async_accept(net::make_strand(*core.io), token);
    if (ec == net::error::operation_aborted || !core.acceptor->is_open()) co_return;
    if (ec) {
      // Out of descriptors, most likely: the connections still open will
      // give some back. Accepting again at once would spin.
      pause.expires_after(std::chrono::milliseconds(50));
      co_await pause.async_wait(token);
      continue;
    }
    const auto remote = socket.remote_endpoint(ec);
    if (ec || core.draining.load()) continue;  // the socket closes as it goes
    std::string address = remote.address().to_string();
    if (!core.Admit(address)) continue;
    socket.set_option(tcp::no_delay(true), ec);
    auto connection = std::make_shared<Connection>(core, std::move(socket), std::move(address));
    core.Register(connection);
    net::co_spawn(connection->executor(), Connection::Run(connection), net::detached);
  }
}

}  // namespace

// The allocator keeps what a burst of connections freed (a heap per thread,
// grown to the burst's peak) and gives it back to the system only when told
// to. Told every few seconds while no request runs, so the server's size
// comes back down after a burst instead of staying at its peak.
net::awaitable<void> TrimWhenIdle(ServerCore& core) {
  net::steady_timer tick(co_await net::this_coro::executor);
  for (;;) {
    tick.expires_after(std::chrono::seconds(2));
    beast::error_code ec;
    co_await tick.async_wait(net::redirect_error(net::use_awaitable, ec));
    if (ec || core.draining.load()) co_return;
    bool idle = false;
    {
      std::lock_guard lock(core.mu);
      idle = core.active == 0;
    }
    if (idle) malloc_trim(0);
  }
}

bool HttpServer::Start(const std::string& host, const std::string& port, std::string* error) {
  ServerCore& core = *core_;
  core.io.emplace();
  beast::error_code ec;
  tcp::resolver resolver(*core.io);
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
  core.acceptor.emplace(net::make_strand(*core.io));
  core.acceptor->open(endpoint.protocol(), ec);
  if (!ec) core.acceptor->set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) core.acceptor->bind(endpoint, ec);
  if (!ec) core.acceptor->listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + host + ":" + port + ": " + ec.message();
    return false;
  }
  core.keep_running.emplace(core.io->get_executor());
  net::co_spawn(core.acceptor->get_executor(), AcceptLoop(core), net::detached);
  net::co_spawn(net::make_strand(*core.io), TrimWhenIdle(core), net::detached);
  // Two more threads than requests may run at once: while every request
  // slot is taken, events are still served.
  core.threads.emplace([&core] { return core.io->run_one() > 0; }, core.limits.threads + 2, 1);
  return true;
}

int HttpServer::port() const {
  beast::error_code ec;
  return core_->acceptor ? core_->acceptor->local_endpoint(ec).port() : 0;
}

bool HttpServer::Drain(const std::function<bool()>& stop_now) {
  ServerCore& core = *core_;
  if (!core.io) return true;
  core.draining = true;
  net::post(core.acceptor->get_executor(), [&core] {
    beast::error_code ignored;
    core.acceptor->close(ignored);
  });
  for (auto& weak : core.Snapshot()) {
    if (auto c = weak.lock()) c->Drain();
  }
  const auto wait_for_connections = [&](Clock::time_point deadline, bool interruptible) {
    while (core.Open() > 0 && Clock::now() < deadline) {
      if (interruptible && stop_now()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  wait_for_connections(Clock::now() + core.limits.drain_timeout, true);
  if (core.Open() > 0) {
    for (auto& weak : core.Snapshot()) {
      if (auto c = weak.lock()) c->ForceClose();
    }
    wait_for_connections(Clock::now() + std::chrono::seconds(1), false);
  }
  // Every connection has ended, but a thread may still be inside the
  // extension if it ignores the failed writes of an abandoned answer.
  core.keep_running.reset();
  core.io->stop();
  const bool done = core.threads->Join(std::chrono::seconds(2));
  return done;
}

}  // namespace morvane::host
