// The admin listener, the metrics and the access log of a real
// morvane-server over real HTTP: requests of every mode counted exactly by
// mode and outcome, one access log line each, readiness that names the
// store it cannot open, store errors by alias, and the limit page.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_store.h"
#include "support/server_process.h"

namespace morvane::testing {
namespace {

const std::vector<std::string> kAdmin = {"--admin-listen", "127.0.0.1:0", "--clock",
                                         "2003-07-07 17:30:00"};

// The value of the sample `series` (name and labels exactly as written) on
// the metrics page; -1 when absent.
double Sample(const std::string& page, const std::string& series) {
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > series.size() && line.compare(0, series.size(), series) == 0 &&
        line[series.size()] == ' ') {
      return std::strtod(line.c_str() + series.size() + 1, nullptr);
    }
  }
  return -1;
}

std::string Requests(const std::string& mode, const std::string& outcome) {
  return "morvane_requests_total{mode=\"" + mode + "\",outcome=\"" + outcome + "\"}";
}

// Records of an answer: lines ended by CR LF, and a last one without (the
// bare "record not found").
size_t RecordsIn(const std::string& body) {
  size_t n = 0;
  for (size_t at = body.find("\r\n"); at != std::string::npos; at = body.find("\r\n", at + 2)) ++n;
  if (!body.empty() && !body.ends_with("\r\n")) ++n;
  return n;
}

// The answer of `target` once `pred` holds of it, or the last one after 5 s.
HttpAnswer GetWhen(int port, const std::string& target, bool (*pred)(const HttpAnswer&)) {
  HttpAnswer a;
  for (int i = 0; i < 100; ++i) {
    a = HttpGet(port, target);
    if (pred(a)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return a;
}

class Monitoring : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(store_.Load("demo --days 3 --symbols 3 --ticks-per-day 200 --end 2003-07-07"), 0);
  }
  E2eStore store_;
};

TEST_F(Monitoring, EveryRequestIsCountedByModeAndOutcomeAndLoggedOnce) {
  const std::filesystem::path log = store_.dir() / "access.log";
  std::vector<std::string> args = kAdmin;
  args.insert(args.end(), {"--access-log", log.string()});
  ServerProcess server(store_.dir(), store_.env(), args);
  ASSERT_GT(server.admin_port(), 0) << server.ready_line();

  // Mode m asked m + 1 times, so that every count is its own.
  size_t records[7] = {};
  size_t bytes[7] = {};
  size_t sent = 0;
  for (int m = 0; m <= 6; ++m) {
    for (int i = 0; i <= m; ++i, ++sent) {
      const HttpAnswer a = HttpGet(server.port(), "/?symbol=0001&mode=" + std::to_string(m));
      ASSERT_EQ(a.status, 200);
      records[m] += RecordsIn(a.body);
      bytes[m] += a.body.size();
    }
  }
  EXPECT_GT(records[0], 100u);
  for (int i = 0; i < 2; ++i, ++sent) {
    const HttpAnswer a = HttpGet(server.port(), "/?symbol=0001&mode=2&dateStart=x");
    records[2] += RecordsIn(a.body);
    bytes[2] += a.body.size();
  }
  HttpGet(server.port(), "/?symbol=0001&mode=9"), ++sent;
  const HttpAnswer refused = RawHttp(server.port(),
                                     "GET /?mode=2 HTTP/1.1\r\nHost: a\r\nUser-Agent: \"x\r\n"
                                     "Content-Length: 1\r\nContent-Length: 1\r\n\r\nx");
  ++sent;
  EXPECT_EQ(refused.status, 400);
  // A head that could not be read whole names no request in the log, even
  // when its first line was read.
  EXPECT_EQ(RawHttp(server.port(), "GET /?mode=2 HTTP/1.1\r\nno colon\r\n\r\n").status, 400);
  ++sent;

  const std::string page = HttpGet(server.admin_port(), "/metrics").body;
  for (int m = 0; m <= 6; ++m) {
    const std::string mode = std::to_string(m);
    EXPECT_EQ(Sample(page, Requests(mode, "answered")), m + 1) << mode;
    EXPECT_EQ(Sample(page, "morvane_answer_records_total{mode=\"" + mode + "\"}"),
              static_cast<double>(records[m]))
        << mode;
    EXPECT_EQ(Sample(page, "morvane_answer_bytes_total{mode=\"" + mode + "\"}"),
              static_cast<double>(bytes[m]))
        << mode;
    EXPECT_EQ(Sample(page, "morvane_request_duration_seconds_count{mode=\"" + mode + "\"}"),
              m + 1 + (m == 2 ? 2 : 0));
  }
  EXPECT_EQ(Sample(page, Requests("2", "error_records")), 2);
  EXPECT_EQ(Sample(page, Requests("other", "answered")), 1);
  EXPECT_EQ(Sample(page, Requests("none", "refused")), 2);
  EXPECT_EQ(Sample(page, Requests("0", "exception")), 0);
  EXPECT_EQ(Sample(page, "morvane_framing_refusals_total{code=\"400\"}"), 2);
  EXPECT_EQ(Sample(page, "morvane_data_modules_max"), 10);
  EXPECT_GT(Sample(page, "morvane_log_lines_total"), 0);
  EXPECT_GT(Sample(page, "morvane_store_link_reuses_total{alias=\"HISTDATA\"}"), 0);
  EXPECT_GT(Sample(page, "process_resident_memory_bytes"), 1e6);

  EXPECT_EQ(HttpGet(server.admin_port(), "/healthz").body, "ok\n");
  EXPECT_EQ(HttpGet(server.admin_port(), "/").status, 404);
  EXPECT_EQ(HttpPost(server.admin_port(), "/metrics", "").status, 405);
  // The public port knows no admin page: the extension answers every path.
  EXPECT_TRUE(HttpGet(server.port(), "/metrics").headers.find("text/plain\r\n") !=
              std::string::npos);
  ++sent;

  ASSERT_EQ(server.Stop(), 0);  // writes out the access log
  const std::string text = ReadFile(log);
  std::istringstream lines(text);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_EQ(all.size(), sent) << text;
  static const std::regex kLine(
      R"(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] )"
      R"("GET /\?symbol=0001&mode=2 HTTP/1\.1" 200 (\d+) "-" "-" \d+\.\d{3} (\d+) 2 answered)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(all[3], m, kLine)) << all[3];
  EXPECT_EQ(std::stoul(m[1]) * 3 + 2 * 39, bytes[2]);  // three quotes, two 39-byte error records
  // The refused request's head was read: its line shows it, its forged
  // quote escaped, and the host's status.
  EXPECT_NE(text.find(R"("GET /?mode=2 HTTP/1.1" 400 0 "-" "\x22x" )"), std::string::npos) << text;
  EXPECT_NE(text.find(" none refused\n"), std::string::npos);
  EXPECT_NE(text.find("] \"-\" 400 0 \"-\" \"-\" "), std::string::npos) << text;
}

TEST_F(Monitoring, ReadinessNamesTheStoreItCannotOpenAndErrorsCountByAlias) {
  ServerProcess server(store_.dir(), store_.env(), kAdmin);
  const int admin = server.admin_port();
  auto ready = [](const HttpAnswer& a) { return a.status == 200; };
  auto not_ready = [](const HttpAnswer& a) { return a.status == 503; };
  EXPECT_EQ(GetWhen(admin, "/readyz", ready).body, "ready\n");

  std::filesystem::rename(store_.dir() / "historical.db", store_.dir() / "moved.db");
  const HttpAnswer down = GetWhen(admin, "/readyz", not_ready);
  EXPECT_EQ(down.status, 503);
  EXPECT_EQ(down.body.rfind("not ready: store Historical: Cannot open alias 'Historical'", 0), 0u)
      << down.body;

  // The daily history tries three times, and each failure names its alias.
  EXPECT_EQ(HttpGet(server.port(), "/?symbol=0001&mode=1").status, 200);
  const std::string page = HttpGet(admin, "/metrics").body;
  EXPECT_EQ(Sample(page, "morvane_store_errors_total{alias=\"Historical\"}"), 3) << page;
  EXPECT_EQ(Sample(page, "morvane_daily_history_retries_total"), 2);
  EXPECT_EQ(Sample(page, Requests("1", "exception")), 1);
  EXPECT_EQ(Sample(page, "morvane_ready"), 0);

  std::filesystem::rename(store_.dir() / "moved.db", store_.dir() / "historical.db");
  EXPECT_EQ(GetWhen(admin, "/readyz", ready).body, "ready\n");
  EXPECT_EQ(server.Stop(), 0);
}

// The echo extension reports no mode of its own; its limit page is counted
// against the mode its fields name (none given: "0").
TEST_F(Monitoring, TheLimitPageIsCountedAndAnExtensionThatDoesNotReportStillCounts) {
  std::vector<std::string> args = kAdmin;
  args.insert(args.end(), {"--extension", (BuildDir() / "libecho_extension.so").string()});
  auto env = store_.env();
  env["MORVANE_ECHO_LIMIT"] = "1";
  ServerProcess server(store_.dir(), env, args);
  auto held = std::async(std::launch::async, [&] { return HttpGet(server.port(), "/?sleep=600"); });
  HttpAnswer refused;
  for (int i = 0; i < 50 && refused.status != 500; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    refused = HttpGet(server.port(), "/?x=1");
  }
  EXPECT_EQ(refused.status, 500);
  EXPECT_EQ(held.get().status, 200);
  const std::string page = HttpGet(server.admin_port(), "/metrics").body;
  EXPECT_GE(Sample(page, Requests("0", "limit_page")), 1);
  EXPECT_EQ(Sample(page, Requests("none", "answered")), 1);
  // No figures and no store check from this extension: ready once loaded.
  EXPECT_EQ(Sample(page, "morvane_data_modules_max"), -1);
  EXPECT_EQ(HttpGet(server.admin_port(), "/readyz").body, "ready\n");
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace morvane::testing
