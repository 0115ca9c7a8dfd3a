// Long answers and failing stores over real HTTP: a tick history streamed in
// chunks, a client that goes away half-way, and generator failures that are
// logged with the call's arguments while the server goes on serving.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "e2e/answer_fixture.h"
#include "support/server_process.h"

namespace morvane::testing {
namespace {

class StreamAnswers : public AnswerTest {};

// Sends a GET for `target`, reads `n` bytes of the answer and hangs up,
// with a reset when `reset` (as a client that is killed, or whose network
// drops, leaves).
void ReadSomeAndLeave(int port, const std::string& target, size_t n, bool reset = false) {
  const int fd = ConnectLoopback(port);
  ASSERT_GE(fd, 0);
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::string got(n, '\0');
  size_t have = 0;
  while (have < n) {
    const ssize_t r = recv(fd, got.data() + have, n - have, 0);
    if (r <= 0) break;
    have += static_cast<size_t>(r);
  }
  if (reset) {
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  close(fd);
}

TEST_P(StreamAnswers, LongHistoryArrivesWholeAndAClientMayLeave) {
  MakeStore();
  constexpr int kTicks = 20000;
  std::string csv = kTickHeader;
  char line[96];
  for (int i = 0; i < kTicks; ++i) {
    std::snprintf(line, sizeof line, "2003-03-12,%02d:%02d:%02d.%03d,0005,1,2,%d.5,4,%d,6\n",
                  9 + i / 3600 % 8, i / 60 % 60, i % 60, i % 1000, i % 97, i);
    csv += line;
  }
  Load("ticks", csv);
  Serve("2003-03-12 18:00:00");
  const std::string target = "/?symbol=0005&dateStart=2003/3/12&dateOver=2003/3/12";
  // Clients that hang up after the first bytes do not stop the server.
  for (int i = 0; i < 4; ++i) ReadSomeAndLeave(port(), target, 300);
  const HttpAnswer a = HttpGet(port(), target);
  EXPECT_TRUE(a.chunked);
  EXPECT_EQ(a.body.rfind("TICK|0|2003/3/12|09:00:00|1|2|0.5|4|6|0|\r\n", 0), 0u);
  EXPECT_NE(a.body.find("TICK|19999|2003/3/12|"), std::string::npos);
  const std::string end = "NOTE|RECORDCOUNT|20000|\r\n";
  ASSERT_GE(a.body.size(), end.size());
  EXPECT_EQ(a.body.substr(a.body.size() - end.size()), end);
}

// A client that leaves a long history after its first bytes frees the data
// module within 50 ms: the answer stops at its next record rather than being
// formed to its end for nobody. With one module in all, the request that
// follows is served, not refused.
TEST_P(StreamAnswers, AClientThatLeavesFreesItsModuleAtOnce) {
  MakeStore("MaxConnection=1\n");
  // 1,001,000 ticks of product 0005 on one day.
  ASSERT_EQ(store().Load("demo --days 1 --symbols 1 --ticks-per-day 1100000 --end 2003-03-12"), 0);
  Serve("2003-03-12 18:00:00");
  ReadSomeAndLeave(port(), "/?symbol=0005&dateStart=2003/3/12&dateOver=2003/3/12", 4096, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Get("symbol=0005&timeOver=10:00"), "ERROR|Invalid number of parameters.|\r\n");
}

// A damaged day table: each generator's failure is logged with its call's
// arguments, the client keeps what was written, and the next request on the
// same module is answered in full.
TEST_P(StreamAnswers, FailuresAreLoggedAndTheModuleServesOn) {
  MakeStore("MaxConnection=1\n");
  LoadNames();
  Load("ticks", std::string(kTickHeader) +
                    "2003-03-11,10:00:00,0005,1,2,3,4,5,6\n"
                    "2003-03-12,10:00:00,0005,1,2,3,4,5,6\n");
  WriteFile(store().dir() / "ticks" / "hist030312.db", std::string(4096, 'x'));
  Serve("2003-03-12 15:00:00");
  const std::string bad = "symbol=0005&dateStart=2003/3/11&dateOver=2003/3/12";
  const std::string good = "symbol=0005&dateStart=2003/3/11&dateOver=2003/3/11";
  // The ticks of the 11th went out before the 12th failed.
  EXPECT_EQ(Get(bad), std::string(kNames0005) + "TICK|0|2003/3/11|10:00:00|1|2|3|4|6|5|\r\n");
  EXPECT_EQ(Get(bad + "&mode=3&DayCount=0"),
            std::string(kNames0005) + "TICK|0|2003/3/11|10:00:00|1|2|3|4|6|5|\r\n");
  EXPECT_EQ(
      Get(bad + "&mode=6&interval=60&timeStart=10:00:00&timeOver=10:00:59"),
      std::string(kNames0005) + "INTERVAL|0|2003/03/11|10:00:00|3.000|3.000|1.000|3.000|5|\r\n");
  EXPECT_EQ(Get(good), std::string(kNames0005) +
                           "TICK|0|2003/3/11|10:00:00|1|2|3|4|6|5|\r\nNOTE|RECORDCOUNT|1|\r\n");
  const std::string log = store().Log();
  EXPECT_NE(log.find(" when HistDatagetHistoryAction\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" when DoGenIntraday(Symbol[0005],timeBegin[00:00:00],timeEnd[23:59:59],"
                     "dateBegin[2003/03/11],dateEnd[2003/03/12],DayCount[0]).\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" when GenInterval3(Symbol[0005],timeBegin[10:00:00],timeEnd[10:00:59],"
                     "dateBegin[2003/03/11],dateEnd[2003/03/12],DayCount[0],interval[60]).\r\n"),
            std::string::npos)
      << log;
}

// The stream does not depend on the store, and the damage is done to a
// SQLite day file.
INSTANTIATE_TEST_SUITE_P(Stores, StreamAnswers, ::testing::Values(StoreKind::kSqlite),
                         StoreKindName);

}  // namespace
}  // namespace morvane::testing
