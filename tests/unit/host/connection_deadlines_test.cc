// A real server on loopback with a handler of the test's own: the idle,
// head and body deadlines are told apart (each set to a different value),
// and a request reaches the handler through the seam complete; each refusal
// is counted by its status.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "http_server.h"
#include "request_handler.h"
#include "support/server_process.h"

namespace morvane::host {
namespace {

using Clock = std::chrono::steady_clock;

class EchoPath final : public RequestHandler {
 public:
  bool NeedsTurn(const HttpRequest&) const override { return true; }
  void Handle(const HttpRequest& request, Answer& answer) override {
    answer.Begin(ResponseHead::Parse("200 OK", 6, "", 200));
    const std::string body = request.method + " " + request.path + " " + request.body;
    answer.Write(body.data(), body.size());
    answer.End(true);
  }
};

// What the server sent until it closed, and how long after `sent_at`.
struct Outcome {
  std::string bytes;
  long long ms;
};

Outcome SendThenRead(int port, const std::string& first, const std::string& trickle) {
  const int fd = testing::ConnectLoopback(port);
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  const auto start = Clock::now();
  send(fd, first.data(), first.size(), MSG_NOSIGNAL);
  // One header line every 100 ms: every read makes progress, but the
  // head's deadline is a total.
  std::thread drip([&] {
    for (char c : trickle) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
    }
  });
  Outcome out;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
    out.bytes.append(buffer, static_cast<size_t>(n));
  }
  out.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  shutdown(fd, SHUT_RDWR);
  drip.join();
  close(fd);
  return out;
}

TEST(Connection, IdleHeadAndBodyDeadlinesAreToldApart) {
  HostLimits limits;
  limits.threads = 2;
  limits.idle_timeout = std::chrono::milliseconds(400);
  limits.header_timeout = std::chrono::milliseconds(1600);
  limits.body_timeout = std::chrono::milliseconds(2800);
  limits.max_body = 1000;
  EchoPath handler;
  HttpServer server(limits);
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", "0", handler, &error)) << error;
  // Only the address asked for is listened on, and a bracketed address
  // without its closing bracket is no address at all.
  sockaddr_in other{};
  other.sin_family = AF_INET;
  other.sin_port = htons(static_cast<uint16_t>(server.port()));
  other.sin_addr.s_addr = htonl(0x7f000002);  // 127.0.0.2, loopback too
  const int other_fd = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(connect(other_fd, reinterpret_cast<const sockaddr*>(&other), sizeof(other)), 0);
  close(other_fd);
  EXPECT_FALSE(server.Listen("[::1", "0", handler, &error));

  const std::string trickle(60, 'x');  // far longer than any deadline
  const Outcome idle = SendThenRead(server.port(), "", "");
  const Outcome head = SendThenRead(server.port(), "GET / HTTP/1.1\r\nX: ", trickle);
  const Outcome body = SendThenRead(
      server.port(), "POST /p HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nab", trickle);
  const Outcome whole = SendThenRead(
      server.port(), "POST /p HTTP/1.1\r\nConnection: close\r\nContent-Length: 2\r\n\r\nab", "");
  const Outcome large =
      SendThenRead(server.port(), "POST /p HTTP/1.1\r\nContent-Length: 1001\r\n\r\n", "");

  EXPECT_EQ(idle.bytes, "");
  EXPECT_GE(idle.ms, 350);
  EXPECT_LT(idle.ms, 1500);
  EXPECT_EQ(head.bytes, "");  // too slow: closed without a word
  EXPECT_GE(head.ms, 1550);
  EXPECT_LT(head.ms, 2700);
  EXPECT_EQ(body.bytes.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << body.bytes;
  EXPECT_NE(body.bytes.find("The request body did not arrive in time."), std::string::npos);
  EXPECT_GE(body.ms, 2750);
  EXPECT_EQ(whole.bytes,
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0000000a\r\nPOST /p "
            "ab\r\n0\r\n\r\n");
  EXPECT_EQ(large.bytes.rfind("HTTP/1.1 413 Payload Too Large\r\n", 0), 0u) << large.bytes;
  EXPECT_EQ(server.counters().refused_400_total.load(), 1u);
  EXPECT_EQ(server.counters().refused_413_total.load(), 1u);
  EXPECT_EQ(server.counters().requests_ended_total.load(), 1u);
  EXPECT_TRUE(server.Drain([] { return false; }));
}

}  // namespace
}  // namespace morvane::host
