// The request frame and the history handler over real HTTP against a real
// morvane-server and its extension library.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "e2e/e2e_store.h"
#include "support/held_http_server.h"
#include "support/server_process.h"

namespace morvane::testing {
namespace {

constexpr char kLimitMessage[] =
    "Maximum number of concurrent connections exceeded.  Please try again later";

// A mode "0" answer for a product without ticks (and without names).
constexpr char kNoTicks[] = "ERROR|No data for specified date|\r\nERROR|Record not found.|\r\n";

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override { server_ = std::make_unique<ServerProcess>(store_.dir(), store_.env()); }
  void TearDown() override { EXPECT_EQ(server_->Stop(), 0) << "the server must stop cleanly"; }

  HttpAnswer Get(const std::string& target) { return HttpGet(server_->port(), target); }

  E2eStore store_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(RequestTest, HeaderBlockIsExactAndHasNoLength) {
  const HttpAnswer a = Get("/anything?symbol=0005&mode=7");
  EXPECT_EQ(a.status_line, "HTTP/1.1 200 OK");
  // The extension's block, as it sent it; the host only adds how the body
  // of unknown length is framed.
  EXPECT_EQ(a.headers.rfind("Content-Type: text/plain\r\nContent:\r\n", 0), 0u) << a.headers;
  EXPECT_EQ(a.headers.find("Content-Length"), std::string::npos) << a.headers;
  EXPECT_TRUE(a.chunked);
  EXPECT_EQ(a.body, "");
  // Mode "01" is not mode "1", and a MODE field is found by any spelling.
  EXPECT_EQ(Get("/?symbol=0005&MODE=01").body, "");
}

TEST_F(RequestTest, ParameterErrorsAreExactRecords) {
  EXPECT_EQ(Get("/?symbol=0005&dateStart=2003/5/9").body,
            "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_EQ(Get("/?symbol=0005&timeOver=10:00").body, "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_EQ(Get("/?symbol=0005&timeStart=25:00").body, "ERROR|Invalid time format(yyyy/m/d).|\r\n");
  EXPECT_EQ(Get("/?symbol=0005&dateStart=2003/13/1&dateOver=2003/13/2").body,
            "ERROR|Invalid date format(yyyy/m/d).|\r\n");
  // Names ignore case; escapes and "+" are decoded before conversion.
  EXPECT_EQ(Get("/?DATESTART=2003/5/9").body, "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_EQ(
      Get("/?dateStart=2003%2F5%2F9&dateOver=2003/5/10&timeStart=10%3A00&timeOver=11:00").body,
      kNoTicks);
}

TEST_F(RequestTest, GetReadsTheQueryAndOtherMethodsTheBody) {
  // A lone dateStart in the source that is read gives the pair error; in the
  // source that is not read it is invisible.
  EXPECT_EQ(HttpPost(server_->port(), "/?symbol=1", "symbol=0005&dateStart=2003/5/9").body,
            "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_EQ(HttpPost(server_->port(), "/?dateStart=2003/5/9", "symbol=0005&mode=7").body, "");
  EXPECT_EQ(RawHttp(server_->port(),
                    "GET /?symbol=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                    "Content-Length: 18\r\n\r\ndateStart=2003/5/9")
                .body,
            kNoTicks);
}

TEST_F(RequestTest, MalformedEscapeGivesAnEmptyBodyAndALogLine) {
  const HttpAnswer a = Get("/?symbol=0005&mode=%zz");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "");
  EXPECT_NE(store_.Log().find(" when HistDatagetHistoryAction"), std::string::npos) << store_.Log();
}

TEST(HandlerLog, IntervalsFromTheSqlStoreAreBracketedInTheLog) {
  E2eStore store("MaxConnection=10\nDBMode=SQL\n");
  ServerProcess server(store.dir(), store.env());
  EXPECT_EQ(HttpGet(server.port(), "/?symbol=0005&mode=6").status, 200);
  // "06" is not "6": no generator, no lines.
  EXPECT_EQ(HttpGet(server.port(), "/?symbol=0005&mode=06").status, 200);
  EXPECT_EQ(server.Stop(), 0);
  const std::string log = store.Log();
  const size_t connected = log.find("SQLDB Connected\r\n");
  ASSERT_NE(connected, std::string::npos) << log;
  EXPECT_NE(log.find("Interval Done\r\n", connected), std::string::npos) << log;
  EXPECT_EQ(log.find("SQLDB Connected\r\n", connected + 1), std::string::npos) << log;
}

TEST_F(RequestTest, Http10AnswersEndWithTheConnection) {
  const HttpAnswer a =
      RawHttp(server_->port(), "GET /?symbol=0005&dateStart=2003/5/9 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(a.status, 200);
  EXPECT_FALSE(a.chunked);
  EXPECT_EQ(a.body, "ERROR|Invalid number of parameters.|\r\n");
}

TEST_F(RequestTest, OversizedBodiesAreRefusedBeforeTheExtension) {
  const std::string big(2 * 1024 * 1024, 'a');
  EXPECT_EQ(HttpPost(server_->port(), "/", big).status, 413);
  EXPECT_EQ(Get("/?mode=7").status, 200);
}

TEST_F(RequestTest, KeepAliveServesSeveralRequestsOnOneConnection) {
  const std::string one = "GET /?dateStart=2003/5/9 HTTP/1.1\r\nHost: x\r\n\r\n";
  const HttpAnswer a = RawHttp(server_->port(), one + one +
                                                    "GET /?mode=7 HTTP/1.1\r\nHost: x\r\n"
                                                    "Connection: close\r\n\r\n");
  size_t count = 0;
  for (size_t at = a.raw.find("HTTP/1.1 200 OK"); at != std::string::npos;
       at = a.raw.find("HTTP/1.1 200 OK", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3u) << a.raw;
}

// Requests are held in progress by making their settings look-ups wait: the
// settings file is removed once the server has read its pool limit, so every
// look-up downloads the settings page from the registry's host, a test server
// that answers each look-up only when the test lets it through. A request
// that finds every module busy makes one, looking the settings up once while
// it makes it; that look-up is let through, and the request then waits in
// the handler's own look-up, keeping its module busy. Requests go in one at a
// time, so the look-ups arrive in a known order and exactly the wanted number
// of modules is made and held, with no race.
class PoolLimitTest : public ::testing::TestWithParam<int> {};

size_t CountLines(const std::string& text, const std::string& line) {
  size_t n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

TEST_P(PoolLimitTest, RequestsBeyondTheLimitAreRefusedAndModulesReturn) {
  const int limit = GetParam();
  E2eStore store("MaxConnection=" + std::to_string(limit) + "\n");
  ServerProcess server(store.dir(), store.env());
  HeldHttpServer settings("[MORVANE]\r\nMaxConnection=2\r\n");
  WriteFile(store.etc_dir() / "registry.ini",
            "[Software\\Pellaro]\niniServer=127.0.0.1:" + std::to_string(settings.port()) + "\n");
  std::filesystem::remove(store.dir() / "oms.ini");

  // At the limit, or three modules when there is none.
  const int modules = limit > 0 ? limit : 3;
  std::vector<std::future<HttpAnswer>> in_flight;
  for (int i = 0; i < modules; ++i) {
    in_flight.push_back(std::async(std::launch::async, [&] {
      return HttpGet(server.port(), "/?symbol=0005&dateStart=2003/5/9");
    }));
    const int creation = 2 * i + 1;
    ASSERT_TRUE(settings.WaitForArrivals(creation));
    settings.LetThrough(creation);
    ASSERT_TRUE(settings.WaitForArrivals(creation + 1));  // held in the handler
  }
  ASSERT_EQ(CountLines(store.Log(), "IntervalQuery\r\n"), static_cast<size_t>(modules))
      << store.Log();

  if (limit > 0) {
    const HttpAnswer refused = HttpGet(server.port(), "/?symbol=0005");
    EXPECT_EQ(refused.status_line, std::string("HTTP/1.1 500 ") + kLimitMessage);
    EXPECT_NE(refused.headers.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(refused.body.find("<h1>Internal Server Error 500</h1>"), std::string::npos);
    EXPECT_NE(refused.body.find(std::string("Message: ") + kLimitMessage), std::string::npos);
    EXPECT_NE(refused.body.find("Exception: Exception<br>"), std::string::npos) << refused.body;
  }

  settings.Release();
  for (auto& f : in_flight) {
    const HttpAnswer a = f.get();
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "ERROR|Invalid number of parameters.|\r\n");
  }
  // The returned modules serve the next request; none is made for it.
  EXPECT_EQ(HttpGet(server.port(), "/?timeStart=10:00").body,
            "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_EQ(CountLines(store.Log(), "IntervalQuery\r\n"), static_cast<size_t>(modules));
  EXPECT_EQ(server.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, PoolLimitTest, ::testing::Values(2, 0, -1),
                         [](const auto& param_info) {
                           return param_info.param > 0    ? "Two"
                                  : param_info.param == 0 ? "Zero"
                                                          : "Negative";
                         });

// A store server that takes connections and never says a word: a login to
// it waits until the test closes the connection.
class SilentStore {
 public:
  SilentStore() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(a.sin_port);
  }
  ~SilentStore() {
    for (int c : taken_) close(c);
    close(fd_);
  }
  // A PostgreSQL alias for this server, as aliases.ini spells it.
  std::string Alias(const char* name) const {
    return std::string("[") + name +
           "]\nDRIVER=POSTGRES\nCONNINFO=host=127.0.0.1 port=" + std::to_string(port_) +
           " dbname=none user=none sslmode=disable gssencmode=disable connect_timeout=20\n";
  }
  // Waits (up to 10 s) for the next login; its connection, or -1.
  int Take() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return -1;
    const int c = accept(fd_, nullptr, nullptr);
    if (c >= 0) taken_.push_back(c);
    return c;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> taken_;
};

// Making a module logs in to the order database. While one module is being
// made against a store that does not answer, a request that finds an idle
// module is served at once, and the module being made still serves when its
// login fails at last.
TEST(PoolCreation, ASlowLoginDelaysNoRequestAnIdleModuleServes) {
  E2eStore store("MaxConnection=4\n");
  ServerProcess server(store.dir(), store.env());
  ASSERT_EQ(HttpGet(server.port(), "/?mode=7").status, 200);  // one module, now idle

  SilentStore silent;
  WriteFile(store.dir() / "aliases.ini", silent.Alias("HISTDATA") + silent.Alias("omsdata") +
                                             "[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n"
                                             "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n");
  // The idle module's tick history waits in its login to the tick store.
  auto busy = std::async(std::launch::async, [&] {
    return HttpGet(server.port(), "/?symbol=0005&dateStart=2003/3/12&dateOver=2003/3/12");
  });
  const int busy_login = silent.Take();
  ASSERT_GE(busy_login, 0);
  // Every module busy: this request makes one, which waits in its login.
  auto making = std::async(std::launch::async, [&] { return HttpGet(server.port(), "/?mode=7"); });
  const int making_login = silent.Take();
  ASSERT_GE(making_login, 0);

  // The tick store hangs up: that history fails, its module goes back to the
  // pool, and the next request takes it, neither waiting for the login.
  using Clock = std::chrono::steady_clock;
  const auto hang_up = Clock::now();
  shutdown(busy_login, SHUT_RDWR);
  EXPECT_EQ(busy.get().status, 200);
  const auto returned = Clock::now();
  const HttpAnswer served = HttpGet(server.port(), "/?symbol=0005&timeOver=10:00");
  const auto answered = Clock::now();
  EXPECT_EQ(served.body, "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_LT(returned - hang_up, std::chrono::milliseconds(100));
  EXPECT_LT(answered - returned, std::chrono::milliseconds(100));

  shutdown(making_login, SHUT_RDWR);
  const HttpAnswer made = making.get();
  EXPECT_EQ(made.status, 200);
  EXPECT_EQ(made.body, "");
  EXPECT_NE(store.Log().find("Cannot connect to database "), std::string::npos) << store.Log();
  EXPECT_EQ(server.Stop(), 0);
}

TEST(ServerLifecycle, ReadyLineAndCleanStopOnSigterm) {
  E2eStore store;
  ServerProcess server(store.dir(), store.env());
  EXPECT_NE(server.ready_line().find("http://127.0.0.1:"), std::string::npos);
  EXPECT_EQ(HttpGet(server.port(), "/?mode=7").status, 200);
  EXPECT_EQ(server.Stop(), 0);
  // The log was opened with its header and closed at unload.
  const std::string log = store.Log();
  EXPECT_EQ(log.rfind("Morvane(morvane-server) ", 0), 0u) << log;
}

}  // namespace
}  // namespace morvane::testing
