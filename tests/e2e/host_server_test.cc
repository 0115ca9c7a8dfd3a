// morvane-server over real HTTP, serving the echo extension (the request
// frame answering with what it received): framing, keep-alive, the limit's
// failure page, the body cap and shutdown.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/server_process.h"

extern char** environ;

namespace {

std::string BuildDir() {
  const char* dir = std::getenv("MORVANE_BUILD_DIR");
  return dir ? dir : ".";
}

// A morvane-server child on an ephemeral loopback port.
class Server {
 public:
  explicit Server(std::vector<std::string> extra_args = {}, const char* limit = "2") {
    const std::string server = BuildDir() + "/morvane-server";
    const std::string extension = BuildDir() + "/libecho_extension.so";
    std::vector<std::string> args = {server, "--listen", "127.0.0.1:0", "--extension", extension};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    setenv("MORVANE_ECHO_LIMIT", limit, 1);
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    EXPECT_EQ(posix_spawn(&pid_, server.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    out_fd_ = out[0];
    const std::string prefix = "morvane-server listening on http://127.0.0.1:";
    EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
    port_ = std::atoi(line.c_str() + prefix.size());
    EXPECT_GT(port_, 0);
  }
  ~Server() {
    if (pid_ > 0) Stop();
    close(out_fd_);
  }

  // SIGTERM; returns the exit status.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int port() const { return port_; }

 private:
  pid_t pid_ = 0;
  int out_fd_ = -1;
  int port_ = 0;
};

// Sends `request` raw and reads until the server closes the connection.
std::string Exchange(int port, const std::string& request) {
  const int fd = morvane::testing::ConnectLoopback(port);
  if (fd < 0) return "connect failed";
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

std::string Get(int port, const std::string& target, const std::string& version = "1.1",
                const std::string& extra = "Connection: close\r\n") {
  return Exchange(port, "GET " + target + " HTTP/" + version + "\r\nHost: x\r\n" + extra + "\r\n");
}

// The body of a chunked answer, with its chunks joined; "" if malformed.
std::string Dechunk(const std::string& answer) {
  size_t at = answer.find("\r\n\r\n");
  if (at == std::string::npos) return "";
  at += 4;
  std::string body;
  for (;;) {
    const size_t line_end = answer.find("\r\n", at);
    if (line_end == std::string::npos) return "";
    const size_t size = std::stoul(answer.substr(at, line_end - at), nullptr, 16);
    at = line_end + 2;
    if (size == 0) return answer.compare(at, 2, "\r\n") == 0 ? body : "";
    body += answer.substr(at, size);
    at += size + 2;
  }
}

constexpr const char* kEchoHead =
    "NOTE|METHOD|GET|\r\nNOTE|PATH|/any/path|\r\nNOTE|PROTOCOL|HTTP/1.1|\r\n";

TEST(HostServer, Http11AnswerIsTheHeaderBlockThenAChunkedBody) {
  Server server;
  const std::string answer = Get(server.port(), "/any/path?symbol=0005&a+b%20c=%%");
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent:\r\nTransfer-Encoding: "
      "chunked\r\n\r\n";
  ASSERT_EQ(answer.substr(0, head.size()), head);
  EXPECT_EQ(Dechunk(answer),
            std::string(kEchoHead) + "NOTE|FIELD|symbol=0005|\r\nNOTE|FIELD|a b c=%|\r\n");
}

TEST(HostServer, LongAnswerArrivesWholeAndInOrder) {
  Server server;
  const std::string body = Dechunk(Get(server.port(), "/?records=20000"));
  ASSERT_FALSE(body.empty());
  size_t at = body.find("TICK|1|");
  for (int i = 1; i <= 20000; ++i) {
    const std::string want = "TICK|" + std::to_string(i) + "|";
    ASSERT_EQ(body.compare(at, want.size(), want), 0) << i;
    at = body.find("\r\n", at) + 2;
  }
  EXPECT_EQ(body.substr(at), "NOTE|RECORDCOUNT|20000|\r\n");
}

TEST(HostServer, KeepAliveServesTwoRequestsOnOneConnection) {
  Server server;
  const std::string answer =
      Exchange(server.port(),
               "GET /a?n=1 HTTP/1.1\r\nHost: x\r\n\r\n"
               "GET /b?n=2 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const size_t second = answer.find("HTTP/1.1 200 OK", 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(Dechunk(answer.substr(0, second)).find("NOTE|FIELD|n=1|"), std::string::npos);
  EXPECT_NE(Dechunk(answer.substr(second)).find("NOTE|FIELD|n=2|"), std::string::npos);
}

TEST(HostServer, Http10AnswerEndsWithTheConnection) {
  Server server;
  // Even when the client asks to keep the connection: there is no length.
  const std::string answer =
      Get(server.port(), "/any/path?x=1", "1.0", "Connection: keep-alive\r\n");
  const std::string head =
      "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent:\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(answer.substr(0, head.size()), head);
  EXPECT_EQ(answer.substr(head.size()),
            "NOTE|METHOD|GET|\r\nNOTE|PATH|/any/path|\r\nNOTE|PROTOCOL|HTTP/1.0|\r\n"
            "NOTE|FIELD|x=1|\r\n");
}

TEST(HostServer, AnswerShorterThanItsLengthEndsTheConnection) {
  Server server;
  // Two requests in one write, neither naming "Connection": HTTP/1.1 would
  // keep the connection, but the first answer is broken (fewer bytes than
  // its length), so the connection must end after it and the second request
  // must not be read as the rest of the first answer's body.
  const std::string one = "GET /?short=5 HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string answer = Exchange(server.port(), one + one);
  EXPECT_EQ(answer.find("HTTP/1.1 200"), 0u) << answer;
  EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << answer;
  EXPECT_NE(answer.find("\r\n\r\nxxxxx"), std::string::npos) << answer;
}

TEST(HostServer, PostBodyReachesTheExtensionWhole) {
  Server server;
  const std::string body = "symbol=0005&mode=1";
  const std::string head = "POST /p?ignored=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
  // With its length, and chunked in two pieces (in any letter case).
  for (const std::string& framed :
       {"Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
        "Transfer-Encoding: Chunked\r\n\r\nb\r\n" + body.substr(0, 11) + "\r\n7\r\n" +
            body.substr(11) + "\r\n0\r\n\r\n"}) {
    SCOPED_TRACE(framed);
    EXPECT_EQ(Dechunk(Exchange(server.port(), head + framed)),
              "NOTE|METHOD|POST|\r\nNOTE|PATH|/p|\r\nNOTE|PROTOCOL|HTTP/1.1|\r\n"
              "NOTE|FIELD|symbol=0005|\r\nNOTE|FIELD|mode=1|\r\n");
  }
}

TEST(HostServer, BodyOverTheCapIsRefusedWith413) {
  Server server({"--max-body", "100"});
  const std::string body(101, 'a');
  const std::string answer = Exchange(
      server.port(),
      "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 101\r\n\r\n" + body);
  EXPECT_EQ(answer.substr(0, 13), "HTTP/1.1 413 ");
  EXPECT_EQ(answer.find("NOTE|"), std::string::npos);
}

// Requests whose end a proxy and the server could disagree on are refused
// before the extension sees them, and the connection ends there: the valid
// request sent behind each one (what a smuggler would hide) is never read.
TEST(HostServer, DoubtfulFramingIsRefusedWith400AndEndsTheConnection) {
  Server server({"--body-timeout", "1"});
  std::string many_headers;
  for (int i = 0; i < 70; ++i) many_headers += "X-" + std::to_string(i) + ": y\r\n";
  const std::string post = "POST / HTTP/1.1\r\nHost: x\r\n";
  const std::string chunked = post + "Transfer-Encoding: chunked\r\n\r\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"short body", post + "Content-Length: 100\r\n\r\n" + std::string(31, 'a')},
      {"chunk size zz", chunked + "zz\r\nabc\r\n0\r\n\r\n"},
      {"chunk size -5", chunked + "-5\r\nabc\r\n0\r\n\r\n"},
      {"chunk size overlong", chunked + std::string(40, 'f') + "\r\nabc\r\n0\r\n\r\n"},
      {"no last chunk", chunked + "3\r\nabc\r\n"},
      {"70 headers", post + many_headers + "Content-Length: 5\r\n\r\nGET /"},
      {"two lengths", post + "Content-Length: 3\r\nContent-Length: 5\r\n\r\nabcde"},
      {"same length twice", post + "Content-Length: 3\r\nContent-Length: 3\r\n\r\nabc"},
      {"length and chunked",
       post + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
      {"gzip coding", post + "Transfer-Encoding: gzip\r\n\r\nabc"},
      {"chunked on HTTP/1.0",
       "POST / HTTP/1.0\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
      {"version text in the status line", "GET / 1.1 200 OK\r\nX-Injected: yes\r\n\r\n"},
      {"raw NUL", std::string("GET /\0 HTTP/1.1\r\nHost: x\r\n\r\n", 28)},
      {"HTTP/2.0", "GET / HTTP/2.0\r\nHost: x\r\n\r\n"},
      {"head over 16 KiB",
       "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(17000, 'b') + "\r\n\r\n"},
  };
  const std::string smuggled = "GET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n";
  for (const auto& [name, request] : cases) {
    const std::string answer = Exchange(server.port(), request + smuggled);
    EXPECT_EQ(answer.rfind("HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\n", 0), 0u)
        << name << ": " << answer;
    EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << name << ": " << answer;
    EXPECT_EQ(answer.find("NOTE|"), std::string::npos) << name << ": " << answer;
    EXPECT_EQ(answer.find("Injected"), std::string::npos) << name;
  }
  EXPECT_EQ(Exchange(server.port(), cases[0].second),
            "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 41\r\n"
            "Connection: close\r\n\r\nThe request body did not arrive in time.\n");
}

// curl sends "Expect: 100-continue" before a larger body and waits for the
// interim answer before sending it.
TEST(HostServer, ExpectContinueIsAnsweredBeforeTheBody) {
  Server server;
  const int fd = morvane::testing::ConnectLoopback(server.port());
  ASSERT_GE(fd, 0);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  const std::string head =
      "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 3\r\n"
      "Expect: 100-continue\r\n\r\n";
  ASSERT_EQ(send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
  char interim[64] = {};
  const ssize_t n = recv(fd, interim, sizeof(interim) - 1, 0);
  EXPECT_EQ(std::string(interim, n > 0 ? static_cast<size_t>(n) : 0),
            "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_EQ(send(fd, "x=1", 3, MSG_NOSIGNAL), 3);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
    answer.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  EXPECT_NE(Dechunk(answer).find("NOTE|FIELD|x=1|"), std::string::npos) << answer;
}

TEST(HostServer, RequestBeyondTheLimitGetsTheFailurePageWithItsLength) {
  Server server;
  std::thread a([&] { Get(server.port(), "/?sleep=1500"); });
  std::thread b([&] { Get(server.port(), "/?sleep=1500"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::string answer = Get(server.port(), "/");
  a.join();
  b.join();
  const std::string page =
      "<html><title>Internal Server Error 500</title>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: Exception<br>\r\n"
      "Message: Maximum number of concurrent connections exceeded.  Please try again "
      "later<br></html>\r\n";
  EXPECT_EQ(answer,
            "HTTP/1.1 500 Maximum number of concurrent connections exceeded.  Please try again "
            "later\r\nContent-Type: text/html\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page);
  // The modules are back: the next request is served.
  EXPECT_NE(Dechunk(Get(server.port(), "/")).find("NOTE|METHOD|GET|"), std::string::npos);
}

TEST(HostServer, ShutdownLetsTheRequestInFlightFinishAndExitsZero) {
  Server server;
  std::string answer;
  std::thread client([&] { answer = Get(server.port(), "/?sleep=800&records=3"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(server.Stop(), 0);
  client.join();
  EXPECT_NE(Dechunk(answer).find("NOTE|RECORDCOUNT|3|\r\n"), std::string::npos) << answer;
}

}  // namespace
