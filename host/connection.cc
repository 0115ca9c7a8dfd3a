#include "connection.h"

#include <sys/socket.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>

#include "answer.h"
#include "body_coders.h"
#include "drain.h"
#include "http_request.h"
#include "listener.h"
#include "loop_threads.h"
#include "request_handler.h"
#include "request_rules.h"
#include "socket_sender.h"
#include "turn_queue.h"

namespace morvane::host {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
using Parser = http::request_parser<http::string_body>;

// What the head of a refused request said, as far as it was read.
HttpRequest HeadOf(const std::optional<Parser>* parser, const std::string& address) {
  HttpRequest head;
  head.remote_address = address;
  head.received = std::chrono::steady_clock::now();
  if (parser == nullptr || !*parser || !(*parser)->is_header_done()) return head;
  const auto& message = (*parser)->get();
  head.method.assign(message.method_string());
  SplitTarget(message.target(), &head.path, &head.query);
  head.version = static_cast<int>(message.version());
  for (const auto& field : message) {
    head.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  return head;
}

class Conn final : public Drainable,
                   public TurnQueue::Waiter,
                   public std::enable_shared_from_this<Conn> {
 public:
  Conn(ConnectionContext& context, RequestHandler& handler, tcp::socket socket, std::string address)
      : context_(context),
        handler_(handler),
        stream_(std::move(socket)),
        wake_(stream_.get_executor()),
        body_deadline_(stream_.get_executor()),
        address_(std::move(address)) {}
  ~Conn() override {
    context_.registry.Remove(this);
    context_.admission.Release(address_);
  }

  net::any_io_executor executor() { return stream_.get_executor(); }
  net::awaitable<void> Serve();

  void Drain() override {
    net::post(executor(), [self = shared_from_this()] {
      self->draining_ = true;
      if (!self->in_flight_) self->Close();
    });
  }
  // The drain's time is up: close whatever the connection is doing. A
  // request running now sees `abandon_` at its next write, or within a
  // tenth of a second if it is waiting for the client; the socket itself
  // closes on the strand, once the request has let go of it.
  void ForceClose() override {
    abandon_.store(true);
    net::post(executor(), [self = shared_from_this()] {
      self->Close();
      self->wake_.cancel();
    });
  }
  // The turn is counted already: handed back if the connection is gone
  // meanwhile.
  void GiveTurn() override {
    net::post(executor(), [self = shared_from_this()] {
      if (self->closed_) {
        self->context_.turns.End(self->address_);
        return;
      }
      self->has_turn_ = true;
      self->wake_.cancel();
    });
  }

 private:
  void Close() {
    closed_ = true;
    beast::error_code ignored;
    stream_.socket().close(ignored);
  }

  void WatchForHangUp(unsigned request);
  net::awaitable<bool> WaitForTurn();
  net::awaitable<bool> ReadRequest(std::optional<Parser>& parser);
  net::awaitable<void> Refuse(int status, std::string_view reason, std::string_view text);
  net::awaitable<void> LingerClose();

  ConnectionContext& context_;
  RequestHandler& handler_;
  const std::optional<Parser>* parser_ = nullptr;  // of the request being read
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  net::steady_timer wake_;            // cancelled when the turn comes
  net::steady_timer body_deadline_;   // the body's total deadline
  std::atomic<bool> abandon_{false};  // set from any thread: stop sending
  std::string address_;
  unsigned request_number_ = 0;  // tells the hang-up watch of one wait from the next
  bool waiting_ = false;         // queued for a turn
  bool in_flight_ = false;
  bool has_turn_ = false;  // counted in the turn queue
  bool draining_ = false;
  bool closed_ = false;
  bool body_timed_out_ = false;
};

// A client that sends its next request early (pipelining) simply ends the
// watch: its bytes are read after the answer.
void Conn::WatchForHangUp(unsigned request) {
  stream_.socket().async_wait(
      tcp::socket::wait_read, [self = shared_from_this(), request](beast::error_code ec) {
        if (ec || !self->waiting_ || self->request_number_ != request) return;
        char byte;
        const ssize_t n =
            recv(self->stream_.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) return;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
          self->WatchForHangUp(request);
          return;
        }
        HostCounters::Add(self->context_.counters.hang_ups_total);
        self->context_.turns.Leave(self.get());
        self->Close();
        self->wake_.cancel();
      });
}

// True once the turn is taken; false when the connection closed meanwhile.
net::awaitable<bool> Conn::WaitForTurn() {
  has_turn_ = context_.turns.Take(address_, shared_from_this());
  if (has_turn_) co_return true;
  waiting_ = true;
  WatchForHangUp(++request_number_);
  while (!has_turn_ && !closed_) {
    wake_.expires_at(net::steady_timer::time_point::max());
    beast::error_code ignored;
    co_await wake_.async_wait(net::redirect_error(net::use_awaitable, ignored));
  }
  waiting_ = false;
  // The watch's wait ends with the next read or the close.
  co_return !closed_;
}

net::awaitable<void> Conn::Refuse(int status, std::string_view reason, std::string_view text) {
  if (closed_) co_return;
  switch (status) {
    case 400:
      HostCounters::Add(context_.counters.refused_400_total);
      break;
    case 413:
      HostCounters::Add(context_.counters.refused_413_total);
      break;
    case 417:
      HostCounters::Add(context_.counters.refused_417_total);
      break;
    default:
      HostCounters::Add(context_.counters.refused_503_total);
      break;
  }
  const std::string page = HostPage(status, reason, text);
  handler_.Unanswered(HeadOf(parser_, address_), status);
  beast::error_code ec;
  stream_.expires_after(
      std::min<HostLimits::Duration>(context_.limits.write_timeout, std::chrono::seconds(2)));
  co_await net::async_write(stream_, net::buffer(page),
                            net::redirect_error(net::use_awaitable, ec));
  co_await LingerClose();
}

// Closes after the last answer without losing it: the client may still be
// sending (the rest of a refused body, a pipelined request), and closing a
// socket with unread bytes resets the connection, which can destroy the
// answer before the client reads it. So: end our side, read and drop what
// still comes for a short while, then close.
net::awaitable<void> Conn::LingerClose() {
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
// returns false when the request must not reach the handler (the
// connection is then done).
net::awaitable<bool> Conn::ReadRequest(std::optional<Parser>& parser) {
  const HostLimits& limits = context_.limits;
  parser_ = &parser;
  beast::error_code ec;
  auto token = net::redirect_error(net::use_awaitable, ec);

  if (buffer_.size() == 0) {
    HostCounters::Up(context_.counters.connections_idle);
    stream_.expires_after(limits.idle_timeout);
    const size_t n = co_await stream_.async_read_some(buffer_.prepare(4096), token);
    HostCounters::Down(context_.counters.connections_idle);
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
  if (const char* problem = HeadProblem(parser->get().base(), limits.max_headers)) {
    co_await Refuse(400, "Bad Request", problem);
    co_return false;
  }
  if (draining_) {
    co_await Refuse(503, "Service Unavailable", "The server is shutting down.");
    co_return false;
  }
  if (parser->is_done()) co_return true;

  // The body, whole, before the handler runs: it then never waits on a
  // slow client while it holds a data module.
  if (!ExpectationMet(parser->get().base())) {
    co_await Refuse(417, "Expectation Failed", "Only \"Expect: 100-continue\" is understood.");
    co_return false;
  }
  if (parser->get().count(http::field::expect) > 0) {
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

// Keeps the connection alive for as long as it serves.
net::awaitable<void> Run(std::shared_ptr<Conn> self) {
  co_await self->Serve();
}

void MoveInto(http::request<http::string_body>&& message, const std::string& address,
              HttpRequest* request) {
  request->method.assign(message.method_string());
  SplitTarget(message.target(), &request->path, &request->query);
  request->version = static_cast<int>(message.version());
  request->headers.clear();
  for (const auto& field : message) {
    request->headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  request->body = std::move(message.body());
  request->remote_address = address;
  request->received = std::chrono::steady_clock::now();
}

net::awaitable<void> Conn::Serve() {
  HttpRequest request;
  for (;;) {
    std::optional<Parser> parser;
    if (!co_await ReadRequest(parser)) break;
    auto message = parser->release();
    // HTTP/1.0 answers carry no "keep-alive" of ours: such a client closes.
    const bool keep_alive = message.version() == 11 && message.keep_alive();
    MoveInto(std::move(message), address_, &request);

    in_flight_ = true;
    const bool needs_turn = handler_.NeedsTurn(request);
    if (needs_turn && !co_await WaitForTurn()) {
      handler_.Unanswered(request, 0);
      break;
    }

    // The request runs here, on this thread, and its answer goes straight
    // to the socket: nothing else reads or writes this connection until it
    // returns, and the other threads keep serving every other connection.
    SocketSender sender(stream_.socket().native_handle(), context_.limits.write_timeout, abandon_);
    Answer answer(request, sender, {.write_size = context_.limits.write_buffer});
    OfferCoding(request, context_.limits.coding, answer);
    HostCounters::Add(context_.counters.requests_started_total);
    HostCounters::Up(context_.counters.requests_running);
    if (needs_turn) context_.threads->EnterRequest();
    handler_.Handle(request, answer);
    if (!answer.Ended()) answer.End(false);
    if (needs_turn) context_.threads->LeaveRequest();
    HostCounters::Down(context_.counters.requests_running);
    HostCounters::Add(context_.counters.requests_ended_total);
    if (sender.Failed()) HostCounters::Add(context_.counters.hang_ups_total);

    const bool complete = answer.Reusable() && !sender.Failed() && !closed_;
    in_flight_ = false;
    if (has_turn_) {
      has_turn_ = false;
      context_.turns.End(address_);
    }
    if (!complete) break;
    if (!keep_alive || draining_) {
      co_await LingerClose();
      break;
    }
  }
  if (has_turn_) context_.turns.End(address_);
  Close();
}

}  // namespace

void Connection::Start(ConnectionContext& context, RequestHandler& handler, tcp::socket socket,
                       std::string address) {
  auto c = std::make_shared<Conn>(context, handler, std::move(socket), std::move(address));
  context.registry.Add(c);
  const auto executor = c->executor();
  net::co_spawn(executor, Run(std::move(c)), net::detached);
}

}  // namespace morvane::host
