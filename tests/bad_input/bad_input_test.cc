// Bad input of every kind, sent over real HTTP to a real morvane-server on a
// small SQLite store: sizes and counts, escapes and control characters, SQL
// text in the product code, extreme numbers and dates, every mode outside
// "0" to "6", slow clients, and pipelining after errors. Each case has one
// exact answer. After each group the server must still give a normal request
// the same bytes as before it, and hold no more descriptors than before it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/answer_fixture.h"
#include "e2e/e2e_store.h"
#include "support/server_process.h"

namespace morvane::testing {
namespace {

using std::chrono::milliseconds;

// The store: names of 0005, its ticks on two days, one daily bar.
constexpr char kNormalQuery[] = "symbol=0005&dateStart=2003/3/12&dateOver=2003/3/13";
constexpr char kTick12a[] = "TICK|0|2003/3/12|10:00:00|12.5|12.6|12.5|1000|5|100|\r\n";
constexpr char kTick12b[] = "TICK|1|2003/3/12|10:00:02|12.5|12.6|12.6|1000|5|200|\r\n";
constexpr char kTick13[] = "TICK|2|2003/3/13|09:30:00|12.4|12.5|12.4|900|6|50|\r\n";
const std::string kNormal =
    std::string(kNames0005) + kTick12a + kTick12b + kTick13 + "NOTE|RECORDCOUNT|3|\r\n";
constexpr char kNotFound[] = "ERROR|Record not found.|\r\n";
constexpr char kBadDate[] = "ERROR|Invalid date format(yyyy/m/d).|\r\n";
constexpr char kBadTime[] = "ERROR|Invalid time format(yyyy/m/d).|\r\n";

// An answer's status line, header block and body, byte for byte; only the
// chunks that carry the body depend on timing and are left out.
std::string Whole(const HttpAnswer& a) {
  return a.status_line + "\r\n" + a.headers + "\r\n" + a.body;
}
const std::string kNormalWhole =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent:\r\nTransfer-Encoding: "
    "chunked\r\n\r\n" +
    kNormal;

// What the host answers when it refuses a request, by its reason.
std::string Refusal(int status, const std::string& text) {
  return std::to_string(status) + " " + text + "\n";
}

// One answer as status and body, so that a case is one comparison.
std::string Shown(const HttpAnswer& a) {
  return std::to_string(a.status) + " " + a.body;
}
std::string Ok(const std::string& body) {
  return "200 " + body;
}

std::string GetRequest(const std::string& query, const std::string& connection = "close") {
  return "GET /?" + query + " HTTP/1.1\r\nHost: x\r\nConnection: " + connection + "\r\n\r\n";
}
std::string PostRequest(const std::string& body, const std::string& connection = "close") {
  return "POST / HTTP/1.1\r\nHost: x\r\nConnection: " + connection +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Every answer on one connection, in order, as "status body" joined by
// blank lines; chunked bodies joined, others read by their length.
std::string SplitAnswers(const std::string& raw) {
  std::string out;
  size_t at = 0;
  while (at < raw.size()) {
    const size_t head_end = raw.find("\r\n\r\n", at);
    if (head_end == std::string::npos) return out + "[unparsed: " + raw.substr(at) + "]";
    const std::string head = raw.substr(at, head_end + 2 - at);
    at = head_end + 4;
    std::string body;
    const size_t length = head.find("Content-Length: ");
    if (head.find("Transfer-Encoding: chunked") != std::string::npos) {
      for (;;) {
        const size_t eol = raw.find("\r\n", at);
        if (eol == std::string::npos) return out + "[cut chunk]";
        const size_t n = std::stoul(raw.substr(at, eol - at), nullptr, 16);
        at = eol + 2;
        if (n == 0) {
          at += 2;
          break;
        }
        body += raw.substr(at, n);
        at += n + 2;
      }
    } else if (length != std::string::npos) {
      const size_t n = std::stoul(head.substr(length + 16));
      body = raw.substr(at, n);
      at += n;
    } else {
      body = raw.substr(at);
      at = raw.size();
    }
    if (!out.empty()) out += "\n\n";
    out += head.substr(9, 3) + " " + body;
  }
  return out;
}

// Sends `first`, then `rest` one byte every `pause`, and returns every byte
// the server sent until it closed the connection (or 5 s passed).
std::string Trickle(int port, const std::string& first, const std::string& rest,
                    milliseconds pause) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "[connect failed]";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  send(fd, first.data(), first.size(), MSG_NOSIGNAL);
  std::string answer;
  size_t next = 0;
  char buf[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(pause.count())) > 0) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
    } else if (next < rest.size() && send(fd, rest.data() + next++, 1, MSG_NOSIGNAL) != 1) {
      break;
    }
  }
  close(fd);
  return answer;
}

size_t OpenDescriptors(pid_t pid) {
  size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = std::make_unique<E2eStore>();
    ASSERT_EQ(store_->LoadCsv("names", std::string(kNameHeader) + "0005,HSBC,HK\n"), 0);
    ASSERT_EQ(store_->LoadCsv("ticks", std::string(kTickHeader) +
                                           "2003-03-12,10:00:00,0005,12.5,12.6,12.5,1000,100,5\n"
                                           "2003-03-12,10:00:02,0005,12.5,12.6,12.6,1000,200,5\n"
                                           "2003-03-13,09:30:00,0005,12.4,12.5,12.4,900,50,6\n"),
              0);
    ASSERT_EQ(store_->LoadCsv("daily",
                              "c_date,stock_code,high,low,closing,shares_traded,turnover\n"
                              "2003-03-12,0005,13,12,12.5,1000,12500\n"),
              0);
    server_ = std::make_unique<ServerProcess>(
        store_->dir(), store_->env(),
        std::vector<std::string>{"--clock", "2003-03-14 15:00:00", "--header-timeout", "0.3",
                                 "--body-timeout", "1", "--idle-timeout", "2", "--max-body",
                                 "65536"});
    // Every mode once, so that the modules, connections and table files a
    // request keeps for the next are open before the count is taken.
    for (const char* mode : {"0", "1", "2", "3", "4", "5", "6"}) {
      RawHttp(port(), GetRequest(std::string(kNormalQuery) + "&mode=" + mode));
    }
    normal_ = Whole(RawHttp(port(), GetRequest(kNormalQuery)));
    ASSERT_EQ(normal_, kNormalWhole);
    descriptors_ = OpenDescriptors(server_->pid());
  }

  // The server is as it was: the same bytes for the normal request, and no
  // more descriptors once the connections of the group have closed.
  void TearDown() override {
    if (!server_) return;
    EXPECT_EQ(Whole(RawHttp(port(), GetRequest(kNormalQuery))), normal_);
    size_t now = OpenDescriptors(server_->pid());
    for (int i = 0; i < 40 && now > descriptors_; ++i) {
      std::this_thread::sleep_for(milliseconds(50));
      now = OpenDescriptors(server_->pid());
    }
    EXPECT_LE(now, descriptors_);
    EXPECT_EQ(server_->Stop(), 0);
  }

  int port() const { return server_->port(); }

  struct Case {
    std::string name;
    std::string request;  // a whole HTTP request
    std::string answer;   // "status body"
  };
  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      EXPECT_EQ(Shown(RawHttp(port(), c.request)), c.answer) << c.name;
    }
  }

  std::unique_ptr<E2eStore> store_;
  std::unique_ptr<ServerProcess> server_;
  std::string normal_;
  size_t descriptors_ = 0;
};

TEST_F(BadInput, SizesAndCounts) {
  std::string many_fields, many_symbols;
  for (int i = 0; i < 4000; ++i) {
    many_fields += "f" + std::to_string(i) + "=" + std::to_string(i) + "&";
    many_symbols += "&symbol=NOSUCH";
  }
  const std::string q = kNormalQuery;
  // Header lines up to 64 (Host and Connection among them).
  std::string lines62;
  for (int i = 0; i < 62; ++i) lines62 += "X-" + std::to_string(i) + ": y\r\n";
  const std::string get = "GET /?" + q + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
  const std::string post10 = "POST / HTTP/1.0\r\nContent-Length: " + std::to_string(q.size());
  const std::string post11 = "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(q.size());
  const std::string only_continue = "Only \"Expect: 100-continue\" is understood.";
  Check({
      {"64 header lines", get + lines62 + "\r\n", Ok(kNormal)},
      {"65 header lines", get + lines62 + "X-62: y\r\n\r\n",
       Refusal(400, "The request has too many header lines.")},
      {"Expect: 100-continue on HTTP/1.0", post10 + "\r\nExpect: 100-continue\r\n\r\n" + q,
       Refusal(417, only_continue)},
      {"another expectation", post11 + "\r\nExpect: 200-ok\r\n\r\n" + q,
       Refusal(417, only_continue)},
      {"query past the head limit", GetRequest(q + "&pad=" + std::string(17000, 'a')),
       Refusal(400, "The request head is too large.")},
      {"long query within it", GetRequest(q + "&pad=" + std::string(15000, 'a')), Ok(kNormal)},
      {"body past --max-body", PostRequest(q + "&pad=" + std::string(65536, 'a')),
       Refusal(413, "The request body is larger than the server accepts.")},
      {"long body within it", PostRequest(q + "&pad=" + std::string(65000, 'a')), Ok(kNormal)},
      {"4000 fields before the real ones", PostRequest(many_fields + q), Ok(kNormal)},
      {"4000 later symbols: the first wins", PostRequest(q + many_symbols), Ok(kNormal)},
      {"5000 empty fields", PostRequest(std::string(5000, '&') + q), Ok(kNormal)},
      {"fields without a name or a value", PostRequest("=&==&symbol&mode&" + q), Ok(kNormal)},
      {"a 60000-byte product code", PostRequest("symbol=" + std::string(60000, '5')), Ok(kNoData)},
  });
}

TEST_F(BadInput, EscapesAndControlCharacters) {
  const std::string dates = "&dateStart=2003/3/12&dateOver=2003/3/13";
  Check({
      // A malformed escape anywhere in the fields read: nothing is answered.
      {"%zz", GetRequest("symbol=%zz" + dates), Ok("")},
      {"%g0", GetRequest("symbol=0005%g0" + dates), Ok("")},
      {"%0g", GetRequest("symbol=0005%0g" + dates), Ok("")},
      {"% and one character at the end", GetRequest(kNormalQuery + std::string("&x=%4")), Ok("")},
      {"% at the end", GetRequest(kNormalQuery + std::string("&x=%")), Ok("")},
      {"escape in an unread field", GetRequest(kNormalQuery + std::string("&junk=%q1")), Ok("")},
      {"escape in a name", GetRequest("sym%bol=0005" + dates), Ok("")},
      {"malformed escape in a body", PostRequest("symbol=0005%z"), Ok("")},
      // Well-formed escapes make product codes that do not exist.
      {"%% is a percent sign", GetRequest("symbol=0005%%" + dates), Ok(kNoData)},
      {"NUL after the code", GetRequest("symbol=0005%00" + dates), Ok(kNoData)},
      {"NUL inside the code", GetRequest("symbol=00%0005" + dates), Ok(kNoData)},
      {"NUL in the mode", GetRequest(kNormalQuery + std::string("&mode=0%00")), Ok("")},
      {"control characters", GetRequest("symbol=%01%1b[2J%7f" + dates), Ok(kNoData)},
      {"escaped CR LF", GetRequest("symbol=0005%0d%0aX" + dates), Ok(kNoData)},
      {"bytes above 127", GetRequest("symbol=%ff%fe0005" + dates), Ok(kNoData)},
      {"raw byte 255", GetRequest("symbol=\xff" + dates), Ok(kNoData)},
      {"plus is a blank", GetRequest("symbol=00+05" + dates), Ok(kNoData)},
      {"escaped & and =", GetRequest("symbol=0005%26mode%3D7" + dates), Ok(kNoData)},
      {"quotes keep & inside the field", GetRequest("symbol=\"0005&mode=7\"" + dates), Ok(kNoData)},
      {"an unclosed quote takes the rest", GetRequest("mode=\"7&" + std::string(kNormalQuery)),
       Ok("")},
      // Raw CR and LF in a body end a field like "&".
      {"raw CR LF between fields",
       PostRequest("symbol=0005\r\ndateStart=2003/3/12\r\n\r\ndateOver=2003/3/13"), Ok(kNormal)},
      // Raw control characters never reach the extension.
      {"raw control character", GetRequest("symbol=\x01"),
       Refusal(400, "The request head is malformed.")},
      {"raw tab", GetRequest("symbol=a\tb"), Refusal(400, "The request head is malformed.")},
      {"raw DEL", GetRequest("symbol=\x7f"), Refusal(400, "The request head is malformed.")},
      {"raw NUL", GetRequest(std::string("symbol=\0", 8)),
       Refusal(400, "The request head is malformed.")},
  });
  // Request text reaches the log escaped: no control character gets in.
  const std::string log = store_->Log();
  EXPECT_EQ(log.find_first_of(std::string("\x01\x1b\x7f\0", 4)), std::string::npos) << log;
}

// Every value reaches the stores as a bound parameter, never as SQL text.
TEST_F(BadInput, SqlTextInTheProductCode) {
  const std::string dates = "&dateStart=2003/3/12&dateOver=2003/3/13";
  const std::string always_true = "symbol=x%27%20OR%20%271%27%3D%271";  // x' OR '1'='1
  const std::string drop_names = "symbol=0005%27%3B%20DROP%20TABLE%20DailySymbol%3B%20--";
  const std::string drop_ticks = "symbol=0005%22)%3B%20DROP%20TABLE%20hist030312%3B%20--";
  const std::string daily = std::string(kNames0005) +
                            "TICK|0|2003/3/12|13|12|12.5|1000|12500|\r\n" +
                            "NOTE|RECORDCOUNT|1|\r\n";
  Check({
      {"OR in mode 0", GetRequest(always_true + dates), Ok(kNoData)},
      {"OR in mode 1", GetRequest(always_true + dates + "&mode=1"), Ok("ERROR|Record not found.|")},
      {"OR in mode 2", GetRequest(always_true + "&mode=2"), Ok("ERROR|Record not found.|")},
      {"OR in mode 3", GetRequest(always_true + dates + "&mode=3"), Ok(kNoData)},
      {"OR in mode 4", GetRequest(always_true + dates + "&mode=4"), Ok(kNotFound)},
      {"OR in mode 5", GetRequest(always_true + dates + "&mode=5"), Ok("")},
      {"OR in mode 6", GetRequest(always_true + dates + "&mode=6"), Ok(kNotFound)},
      {"DROP in mode 0", GetRequest(drop_names + dates), Ok(kNoData)},
      {"DROP in mode 1", GetRequest(drop_names + dates + "&mode=1"),
       Ok("ERROR|Record not found.|")},
      {"DROP in mode 5", GetRequest(drop_names + dates + "&mode=5"), Ok("")},
      {"DROP of a day table", GetRequest(drop_ticks + dates + "&mode=6"), Ok(kNotFound)},
      {"names and daily bars intact", GetRequest(kNormalQuery + std::string("&mode=1")), Ok(daily)},
      {"ticks intact", GetRequest(kNormalQuery), Ok(kNormal)},
  });
}

TEST_F(BadInput, NumbersDatesAndModes) {
  const std::string q = kNormalQuery;
  const std::string names = kNames0005;
  const std::string price_changes = kNormal;  // every tick changes the price
  const std::string last_day =
      names + "TICK|0|2003/3/13|09:30:00|12.4|12.5|12.4|900|6|50|\r\nNOTE|RECORDCOUNT|1|\r\n";
  std::vector<Case> cases = {
      // Counts: out of the 32-bit range means 0; negative counts stop at once.
      {"DayCount at its maximum", GetRequest(q + "&mode=3&DayCount=2147483647"), Ok(price_changes)},
      {"DayCount at its minimum", GetRequest(q + "&mode=3&DayCount=-2147483648"), Ok(last_day)},
      {"DayCount past the range", GetRequest(q + "&mode=3&DayCount=2147483648"), Ok(price_changes)},
      {"DayCount of 20 digits", GetRequest(q + "&mode=3&DayCount=99999999999999999999"),
       Ok(price_changes)},
      {"DayCount in hexadecimal", GetRequest(q + "&mode=3&DayCount=0x7fffffff"), Ok(price_changes)},
      {"BackCount at its maximum", GetRequest(q + "&mode=5&iunit=1&BackCount=2147483647"),
       Ok(names)},
      {"BackCount at its minimum", GetRequest(q + "&mode=5&iunit=1&BackCount=-2147483648"),
       Ok(names)},
      // Bar lengths: none of 0 or below; the longest hold everything in one.
      {"interval 0, mode 4", GetRequest(q + "&mode=4&interval=0"), Ok(names + kNotFound)},
      {"interval -1, mode 4", GetRequest(q + "&mode=4&interval=-1"), Ok(names + kNotFound)},
      {"interval minimum, mode 6", GetRequest(q + "&mode=6&interval=-2147483648"),
       Ok(names + kNotFound)},
      {"interval 0, mode 6", GetRequest(q + "&mode=6&interval=0"), Ok(names + kNotFound)},
      // A bar of 68 years reaches past every window: none is written.
      {"interval maximum, mode 6", GetRequest(q + "&mode=6&interval=2147483647"),
       Ok(names + kNotFound)},
      {"1-second bars", GetRequest(q + "&mode=6&interval=1&timeStart=10:00:00&timeOver=10:00:03"),
       // High and low take in the bid and offer (12.5, 12.6) of every tick.
       Ok(names + "INTERVAL|0|2003/03/12|10:00:00|12.500|12.600|12.500|12.500|100|\r\n" +
          "INTERVAL|1|2003/03/12|10:00:01|-|-|-|-|-|\r\n" +
          "INTERVAL|2|2003/03/12|10:00:02|12.600|12.600|12.500|12.600|100|\r\n" +
          "NOTE|RECORDCOUNT|3|\r\n")},
      {"iunit 3", GetRequest(q + "&mode=5&iunit=3"), Ok(names)},
      {"iunit -1", GetRequest(q + "&mode=5&iunit=-1"), Ok(names)},
      {"hours of the longest length", GetRequest(q + "&mode=5&iunit=2&interval=2147483647"),
       Ok(names)},
      {"negative minutes", GetRequest(q + "&mode=5&iunit=1&interval=-5"), Ok(names)},
      // Dates and times.
      {"reversed range", GetRequest("symbol=0005&dateStart=2003/3/13&dateOver=2003/3/12"),
       Ok(names + kNoData)},
      {"last possible day", GetRequest("symbol=0005&dateStart=9999/12/31&dateOver=9999/12/31"),
       Ok(names + kNoData)},
      {"first possible day", GetRequest("symbol=0005&dateStart=0001/01/01&dateOver=0001/01/01"),
       Ok(names + kNoData)},
      {"year 0", GetRequest("symbol=0005&dateStart=0000/1/1&dateOver=2003/3/13"), Ok(kBadDate)},
      {"year 10000", GetRequest("symbol=0005&dateStart=2003/3/12&dateOver=10000/1/1"),
       Ok(kBadDate)},
      {"negative year", GetRequest("symbol=0005&dateStart=-2003/3/12&dateOver=2003/3/13"),
       Ok(kBadDate)},
      {"29 February 2003", GetRequest("symbol=0005&dateStart=2003/2/29&dateOver=2003/3/13"),
       Ok(kBadDate)},
      {"month 0", GetRequest("symbol=0005&dateStart=2003/0/12&dateOver=2003/3/13"), Ok(kBadDate)},
      {"day 32", GetRequest("symbol=0005&dateStart=2003/1/32&dateOver=2003/3/13"), Ok(kBadDate)},
      {"four parts", GetRequest("symbol=0005&dateStart=2003/3/12/1&dateOver=2003/3/13"),
       Ok(kBadDate)},
      {"hour 24", GetRequest(q + "&timeStart=24:00&timeOver=23:00"), Ok(kBadTime)},
      {"second 60", GetRequest(q + "&timeStart=10:00:60&timeOver=11:00"), Ok(kBadTime)},
      {"negative hour", GetRequest(q + "&timeStart=-1:00&timeOver=11:00"), Ok(kBadTime)},
      {"four decimals", GetRequest(q + "&timeStart=10:00:00.1234&timeOver=11:00"), Ok(kBadTime)},
      {"end before start", GetRequest(q + "&timeStart=11:00&timeOver=10:00"),
       Ok(names + "TICK|0|2003/3/13|09:30:00|12.4|12.5|12.4|900|6|50|\r\nNOTE|RECORDCOUNT|1|\r\n")},
      // Mode: only "0" to "6", exactly; an empty mode is no mode ("0").
      {"empty mode", GetRequest(q + "&mode="), Ok(kNormal)},
  };
  for (const std::string& mode :
       std::vector<std::string>{"7", "-1", "00", "0x", "%200", "0%20", "+0", "%EF%BC%90", "0%0d%0a",
                                std::string(10000, '0')}) {
    cases.push_back({"mode " + mode.substr(0, 12), GetRequest(q + "&mode=" + mode), Ok("")});
  }
  Check(cases);
}

// A range longer than the hundred years after which day tables' names repeat
// is read from its latest hundred years: each table once, not once a century.
TEST_F(BadInput, RangesOfCenturies) {
  Check({
      {"every day there is", GetRequest("symbol=0005&dateStart=0001/01/01&dateOver=9999/12/31"),
       Ok(kNormal)},
      {"two centuries", GetRequest("symbol=0005&dateStart=1900/1/1&dateOver=2099/12/31"),
       Ok(kNormal)},
      {"price changes, counting every day",
       GetRequest("symbol=0005&mode=3&DayCount=2147483647&dateStart=0001/01/01&"
                  "dateOver=9999/12/31"),
       Ok(kNormal)},
  });
}

// Each deadline is its own: the head's (0.3 s), the body's (1 s) and the idle
// connection's (2 s), each ending its connection no sooner than its own time
// and well before the next one's.
TEST_F(BadInput, SlowClients) {
  const auto started = std::chrono::steady_clock::now();
  auto mark = started;
  const auto lasted = [&mark] {
    const auto now = std::chrono::steady_clock::now();
    const auto ms = std::chrono::duration_cast<milliseconds>(now - mark).count();
    mark = now;
    return ms;
  };
  const std::string head = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 40\r\n\r\n";
  // A head trickled past its deadline: closed without an answer.
  EXPECT_EQ(
      Trickle(port(), "GET /?symbol=0005 HTTP/1.1\r\n", std::string(200, 'X'), milliseconds(100)),
      "");
  int64_t ms = lasted();
  EXPECT_TRUE(ms >= 300 && ms < 900) << ms;
  // A body trickled past its deadline: refused.
  EXPECT_EQ(
      SplitAnswers(Trickle(port(), head + "symbol=", std::string(33, '5'), milliseconds(100))),
      Refusal(400, "The request body did not arrive in time."));
  ms = lasted();
  EXPECT_TRUE(ms >= 1000 && ms < 1800) << ms;
  // A connection that never sends: closed.
  EXPECT_EQ(Trickle(port(), "", "", milliseconds(100)), "");
  ms = lasted();
  EXPECT_TRUE(ms >= 2000) << ms;
  // A kept-alive connection idle after an answer: closed after it.
  EXPECT_EQ(
      SplitAnswers(Trickle(port(), GetRequest("mode=7", "keep-alive"), "", milliseconds(100))),
      Ok(""));
  ms = lasted();
  EXPECT_TRUE(ms >= 2000) << ms;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(BadInput, PipeliningAfterErrors) {
  const std::string keep = "keep-alive";
  const std::string normal = GetRequest(kNormalQuery);
  const std::vector<Case> cases = {
      {"answers in order after extension errors",
       GetRequest("symbol=%zz", keep) + GetRequest("dateStart=2003/3/12", keep) +
           GetRequest("mode=7", keep) + PostRequest("symbol=0005%", keep) +
           PostRequest("timeStart=99:00&timeOver=10:00", keep) + normal,
       Ok("") + "\n\n" + Ok("ERROR|Invalid number of parameters.|\r\n") + "\n\n" + Ok("") + "\n\n" +
           Ok("") + "\n\n" + Ok(kBadTime) + "\n\n" + Ok(kNormal)},
      {"nothing read after a refused head", GetRequest("symbol=\x01", keep) + normal,
       Refusal(400, "The request head is malformed.")},
      {"nothing read after a refused body", PostRequest(std::string(70000, 'a'), keep) + normal,
       Refusal(413, "The request body is larger than the server accepts.")},
      {"HTTP/1.0 then HTTP/1.1", "GET /?mode=7 HTTP/1.0\r\n\r\n" + normal, Ok("")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitAnswers(RawHttp(port(), c.request).raw), c.answer) << c.name;
  }
}

// The product code reaches each store exactly as the request spelled it, as a
// bound value: SQL text in it is only text, and a zero byte is not where the
// code ends (PostgreSQL refuses a zero byte in text, as it refuses bytes that
// are not UTF-8; the request then ends without records).
class ProductCodeOnEveryStore : public AnswerTest {};

TEST_P(ProductCodeOnEveryStore, IsBoundWhole) {
  MakeStore();
  LoadNames();
  Load("ticks", std::string(kTickHeader) + "2003-03-12,10:00:00,0005,12.5,12.6,12.5,1000,100,5\n");
  Load("daily",
       "c_date,stock_code,high,low,closing,shares_traded,turnover\n"
       "2003-03-12,0005,13,12,12.5,1000,12500\n");
  Serve("2003-03-14 15:00:00");
  const bool pg = GetParam() == StoreKind::kPostgres;
  const std::string dates = "&dateStart=2003/3/12&dateOver=2003/3/12";
  const std::string daily_not_found = "ERROR|Record not found.|";
  struct Case {
    std::string query;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"symbol=x%27%20OR%20%271%27%3D%271" + dates, kNoData},
      {"symbol=x%27%20OR%20%271%27%3D%271&mode=1" + dates, daily_not_found},
      {"symbol=0005%27%3B%20DROP%20TABLE%20DailySymbol%3B%20--&mode=1" + dates, daily_not_found},
      {"symbol=0005%00x" + dates, pg ? "" : kNoData},
      {"symbol=0005%00x&mode=1" + dates, pg ? "" : daily_not_found},
      {"symbol=0005%ff" + dates, pg ? "" : kNoData},
      {"symbol=0005&mode=1" + dates, std::string(kNames0005) +
                                         "TICK|0|2003/3/12|13|12|12.5|1000|12500|\r\n"
                                         "NOTE|RECORDCOUNT|1|\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Get(c.query), c.answer) << c.query;
}

MORVANE_ON_EVERY_STORE(ProductCodeOnEveryStore);

}  // namespace
}  // namespace morvane::testing
