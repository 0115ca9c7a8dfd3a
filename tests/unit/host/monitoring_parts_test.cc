// The monitoring parts on their own: the access log's line and its
// escaping (against a small model of the unescaping a log reader does), the
// request metrics' histogram buckets, and the admin routes.
#include <gtest/gtest.h>

#include <prometheus/text_serializer.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "access_log.h"
#include "admin_handler.h"
#include "answer.h"
#include "chart_pages.h"
#include "extension_loader.h"
#include "request_metrics.h"

namespace morvane::host {
namespace {

class StringSender final : public ByteSender {
 public:
  bool Send(std::span<const std::string_view> pieces) override {
    for (auto p : pieces) wire.append(p);
    return true;
  }
  std::string wire;
};

// What a reader of the log does to a field: \xHH back to its byte. Written
// here, not taken from the code under test.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

TEST(AccessLog, LineIsCombinedThenDurationBytesModeAndOutcome) {
  setenv("TZ", "UTC", 1);
  tzset();
  HttpRequest request;
  request.method = "GET";
  request.path = "/a b";
  request.query = "symbol=0001&mode=2";
  request.remote_address = "10.1.2.3";
  request.headers = {{"User-Agent", "curl/8"}, {"Referer", "http://x/\"q\""}};
  request.received = FinishedRequest::Clock::time_point(std::chrono::seconds(100));
  FinishedRequest f{.request = request};
  f.status = 200;
  f.body_bytes = 61;
  f.bytes_sent = 174;
  f.end = request.received + std::chrono::microseconds(2345);
  f.mode = 2;
  f.outcome = Outcome::kErrorRecords;
  std::string line;
  AccessLog::FormatLine(f, 1057595400, &line);  // 2003-07-07 16:30:00 UTC
  EXPECT_EQ(line,
            "10.1.2.3 - - [07/Jul/2003:16:30:00 +0000] \"GET /a\\x20b?symbol=0001&mode=2 "
            "HTTP/1.1\" 200 61 \"http://x/\\x22q\\x22\" \"curl/8\" 0.002 174 2 error_records\n");

  // Given up while waiting, and refused before its head was read.
  f.status = 0;
  f.mode = kModeNone;
  f.outcome = Outcome::kClientGone;
  AccessLog::FormatLine(f, 1057595400, &line);
  EXPECT_NE(line.find("\" 499 61 "), std::string::npos) << line;
  EXPECT_TRUE(line.ends_with(" none client_gone\n"));
  HttpRequest unread;
  FinishedRequest g{.request = unread};
  g.status = 400;
  g.outcome = Outcome::kRefused;
  AccessLog::FormatLine(g, 1057595400, &line);
  constexpr std::string_view kRefused = "- - - [07/Jul/2003:16:30:00 +0000] \"-\" 400 0 \"-\" ";
  EXPECT_EQ(line.substr(0, kRefused.size()), kRefused);
}

// Random request text of every byte value: each line stays one line of
// printable ASCII with exactly the quotes of its format, and each field
// reads back as sent.
TEST(AccessLog, EscapedTextNeverForgesALineAndReadsBack) {
  std::mt19937 rng(22);
  for (int round = 0; round < 2000; ++round) {
    std::string text(rng() % 40, '\0');
    for (char& c : text) c = static_cast<char>(rng() % 256);
    if (round % 3 == 0) text += "\" 200 0 \"-\" \"-\" 0.000 0 2 answered\n1.2.3.4 - - [";
    const bool blank = round % 2 == 0;
    std::string escaped;
    AccessLog::AppendEscaped(text, blank, &escaped);
    for (const char c : escaped) {
      ASSERT_TRUE(c >= 0x20 && c < 0x7f && c != '"') << round;
      if (blank) {
        ASSERT_NE(c, ' ');
      }
    }
    ASSERT_EQ(Unescape(escaped), text) << round;
  }
}

TEST(RequestMetrics, CountsAndBucketsAsPrometheusReadsThem) {
  RequestMetrics metrics;
  HttpRequest request;
  request.received = FinishedRequest::Clock::now();
  const struct {
    size_t mode;
    Outcome outcome;
    int first_byte_us;  // 0: no answer began
    int end_us;
  } requests[] = {
      {2, Outcome::kAnswered, 300, 400},     {2, Outcome::kAnswered, 900, 1000},
      {2, Outcome::kAnswered, 400, 70000},   {0, Outcome::kLimitPage, 100, 200},
      {kModeNone, Outcome::kRefused, 0, 50},  // counted, never timed
  };
  for (const auto& r : requests) {
    FinishedRequest f{.request = request};
    f.mode = r.mode;
    f.outcome = r.outcome;
    f.body_bytes = 10;
    f.records = 1;
    if (r.first_byte_us > 0)
      f.first_byte = request.received + std::chrono::microseconds(r.first_byte_us);
    f.end = request.received + std::chrono::microseconds(r.end_us);
    metrics.Finished(f);
  }
  Families families;
  metrics.Collect(&families);
  std::ostringstream text;
  prometheus::TextSerializer().Serialize(text, families);
  const std::string page = text.str();
  for (const char* line : {
           "morvane_requests_total{mode=\"2\",outcome=\"answered\"} 3\n",
           "morvane_requests_total{mode=\"0\",outcome=\"limit_page\"} 1\n",
           "morvane_requests_total{mode=\"none\",outcome=\"refused\"} 1\n",
           "morvane_requests_total{mode=\"6\",outcome=\"client_gone\"} 0\n",
           "morvane_answer_bytes_total{mode=\"2\"} 30\n",
           "morvane_request_duration_seconds_bucket{mode=\"2\",le=\"0.0005\"} 1\n",
           "morvane_request_duration_seconds_bucket{mode=\"2\",le=\"0.001\"} 2\n",
           "morvane_request_duration_seconds_bucket{mode=\"2\",le=\"0.05\"} 2\n",
           "morvane_request_duration_seconds_bucket{mode=\"2\",le=\"0.1\"} 3\n",
           "morvane_request_duration_seconds_bucket{mode=\"2\",le=\"+Inf\"} 3\n",
           "morvane_request_duration_seconds_count{mode=\"2\"} 3\n",
           // 0.0714 s, in as many digits as the serializer writes.
           "morvane_request_duration_seconds_sum{mode=\"2\"} 0.0714",
           "morvane_time_to_first_byte_seconds_bucket{mode=\"2\",le=\"0.0005\"} 2\n",
           "morvane_request_duration_seconds_count{mode=\"none\"} 0\n",
       }) {
    EXPECT_NE(page.find(line), std::string::npos) << line << page.substr(0, 2000);
  }
}

TEST(AdminHandler, RoutesByExactPathAndMethod) {
  AdminHandler admin;
  admin.Add("/ok", [](const HttpRequest&, Answer& a) {
    AdminHandler::SendPage(a, 200, "OK", "text/plain", "fine\n");
  });
  admin.Add(
      "/slow", [](const HttpRequest&, Answer&) {}, /*needs_turn=*/true);
  const struct {
    const char* method;
    const char* path;
    const char* wire;
    bool needs_turn;
  } cases[] = {
      {"GET", "/ok",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\nCache-Control: "
       "no-store\r\n\r\nfine\n",
       false},
      {"HEAD", "/ok",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\nCache-Control: "
       "no-store\r\n\r\n",
       false},
      {"GET", "/ok/", "HTTP/1.1 404 Not Found\r\n", false},
      {"POST", "/ok", "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\n", false},
      {"GET", "/slow", "HTTP/1.1 500 Internal Server Error\r\n", true},
  };
  for (const auto& c : cases) {
    HttpRequest request;
    request.method = c.method;
    request.path = c.path;
    StringSender sender;
    Answer answer(request, sender, {});
    EXPECT_EQ(admin.NeedsTurn(request), c.needs_turn) << c.path;
    admin.Handle(request, answer);
    EXPECT_TRUE(answer.Ended());
    EXPECT_EQ(sender.wire.substr(0, std::string_view(c.wire).size()), c.wire) << c.path;
  }
}

// The chart's paths: the page's files built in and served without a turn;
// the product list and the data with one, the data through the public
// port's handler with the request as it came.
TEST(ChartPages, FilesBuiltInDataThroughTheHandler) {
  class Recorder final : public RequestHandler {
   public:
    bool NeedsTurn(const HttpRequest&) const override { return true; }
    void Handle(const HttpRequest& request, Answer& answer) override {
      seen = request.query;
      answer.Begin(ResponseHead{});
      answer.Write("TICK|0|", 7);
      answer.End(true);
    }
    std::string seen;
  } handler;
  const ExtensionLoader none;  // offers no services
  AdminHandler admin;
  AddChartPages(admin, none, handler);
  const struct {
    const char* path;
    bool needs_turn;
    const char* head;  // the start of the answer's head
    const char* body;  // in its body
  } cases[] = {
      {"/chart", false, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n",
       "<!DOCTYPE html>"},
      {"/chart/chart.js", false, "HTTP/1.1 200 OK\r\nContent-Type: text/javascript",
       "// The chart"},
      {"/chart/uPlot.min.js", false, "HTTP/1.1 200 OK\r\n",
       "/*! https://github.com/leeoniya/uPlot (v1.6.32) */"},
      {"/chart/symbols", true, "HTTP/1.1 503 Service Unavailable\r\n",
       "This extension does not list its products."},
      {"/chart/data", true, "HTTP/1.1 200 OK\r\n", "TICK|0|"},
  };
  for (const auto& c : cases) {
    HttpRequest request;
    request.method = "GET";
    request.path = c.path;
    request.query = "symbol=0005&mode=4";
    StringSender sender;
    Answer answer(request, sender, {});
    EXPECT_EQ(admin.NeedsTurn(request), c.needs_turn) << c.path;
    admin.Handle(request, answer);
    const size_t end = sender.wire.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << c.path;
    EXPECT_TRUE(sender.wire.starts_with(c.head)) << sender.wire.substr(0, end);
    // (The data's body is chunked: its text comes after the chunk's size.)
    EXPECT_NE(sender.wire.find(c.body, end + 4), std::string::npos) << c.path;
  }
  EXPECT_EQ(handler.seen, "symbol=0005&mode=4");
}

}  // namespace
}  // namespace morvane::host
