// Daily history (mode "1") and the delayed quote (mode "2") over real HTTP,
// on both drivers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "data/engine.h"
#include "e2e/answer_fixture.h"
#include "support/test_env.h"

namespace morvane::testing {
namespace {

constexpr char kDailyHeader[] = "c_date,stock_code,high,low,closing,shares_traded,turnover\n";
constexpr char kBareNotFound[] = "ERROR|Record not found.|";

class DailyQuoteAnswers : public AnswerTest {
 protected:
  // Runs `sql` on the daily-bar store, as its owner would.
  void OnHistorical(const std::string& sql) {
    ScopedEnv aliases("MORVANE_ALIASES", (store().dir() / "aliases.ini").c_str());
    db::TDatabase db;
    db.SetAliasName("Historical");
    db.SetDatabaseName("TestOwner");
    db.Open();
    db.ExecuteDirect(sql);
    db.Close();
  }
};

TEST_P(DailyQuoteAnswers, DailyBarsInTheirStoredForms) {
  MakeStore();
  LoadNames();
  Load("daily", std::string(kDailyHeader) +
                    "2003-03-10,0005,10.5,9.75,10,1200,12600.5\n"
                    "2003-03-11,0005,,9.8,10.1,1300,13130\n"
                    "2003-03-12,0005,10.2,10,10.2,100000000000000000,0.000001\n"
                    "2003-03-12,0006,1,1,1,1,1\n");
  Serve("2003-03-12 15:00:00");
  EXPECT_EQ(Get("symbol=0005&mode=1&dateStart=2003/3/10&dateOver=2003/3/12"),
            std::string(kNames0005) +
                "TICK|0|2003/3/10|10.5|9.75|10|1200|12600.5|\r\n"
                "TICK|1|2003/3/11||9.8|10.1|1300|13130|\r\n"
                "TICK|2|2003/3/12|10.2|10|10.2|1E17|1E-6|\r\n"
                "NOTE|RECORDCOUNT|3|\r\n");
  // Nothing in the range: the bare record with no line end, after the names.
  EXPECT_EQ(Get("symbol=0005&mode=1&dateStart=2003/3/1&dateOver=2003/3/9"),
            std::string(kNames0005) + kBareNotFound);
  // Without dates: today. Without names: only the bars.
  EXPECT_EQ(Get("symbol=0006&mode=1"), "TICK|0|2003/3/12|1|1|1|1|1|\r\nNOTE|RECORDCOUNT|1|\r\n");
  EXPECT_EQ(Get("symbol=0007&mode=1"), kBareNotFound);
}

// A daily store that fails after the names were written: each attempt's
// half answer is dropped, so three failures leave an empty body, and the log
// tells the three attempts with the growing close note.
TEST_P(DailyQuoteAnswers, FailedDailyAttemptsSendNothing) {
  MakeStore();
  LoadNames();
  Load("daily", std::string(kDailyHeader) + "2003-03-12,0005,1,1,1,1,1\n");
  if (GetParam() == StoreKind::kSqlite) {
    OnHistorical(
        "UPDATE morvane_procedures SET body = 'SELECT nothing FROM nowhere' "
        "WHERE name = 'usp_Closing_Price'");
  } else {
    OnHistorical("DROP FUNCTION usp_closing_price");
  }
  Serve("2003-03-12 15:00:00");
  EXPECT_EQ(Get("symbol=0005&mode=1"), "");
  const std::string log = store().Log();
  EXPECT_NE(log.find(". Retry 1. Close: 12.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(". Retry 2. Close: 1212.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(". Retry 3. Close: 121212.\r\n"), std::string::npos) << log;
  // The module is still good for the next request.
  EXPECT_EQ(Get("symbol=0005&mode=0&dateStart=2003/3/12&dateOver=2003/3/12"),
            std::string(kNames0005) + kNoData);
}

TEST_P(DailyQuoteAnswers, DelayedQuoteLooksBackAndRounds) {
  MakeStore();
  LoadNames();
  std::string ticks = std::string(kTickHeader) +
                      "2003-03-12,13:00:00,0005,1,1,1,1,1,1\n"
                      "2003-03-12,13:29:59,0005,12.5,12.55,12.5,2.5,1000,3.5\n"
                      "2003-03-12,13:45:00,0005,2,2,2,2,2,2\n"
                      "2003-03-12,13:45:00,0006,2,2,2,2,2,2\n"
                      "2003-03-10,09:00:00,0005,9,9,9,9,9,9\n"
                      "2003-03-10,15:00:00,0006,6,6,6,6,6,6\n"
                      "2003-03-10,16:00:00,0006,7,7,7,,7.5,6.5\n"
                      "2003-03-03,10:00:00,0007,3,3,3,3,3,3\n"
                      "2003-03-04,10:00:00,0009,4,4,4,4,4,4\n"
                      "2003-03-09,11:00:00,0010,5,5,5,5,5,5\n"
                      "2003-03-12,13:00:00,0008,1,1,1,1,1,1\n"
                      "2003-03-12,13:29:59.400,0008,2,2,2,2,2,2\n"
                      "2003-03-12,13:30:00,0008,3,3,3,3,3,3\n"
                      "2003-03-12,13:10:00,AB1,5,5,5,5,5,5\n"
                      "2003-03-12,13:20:00,ab1,6,6,6,6,6,6\n";
  // Tables without 0007 on every day from the 4th to the 9th (the 11th is a
  // holiday without a table).
  for (int d = 4; d <= 9; ++d)
    ticks += "2003-03-0" + std::to_string(d) + ",10:00:00,ZZZZ,1,1,1,1,1,1\n";
  Load("ticks", ticks);

  Serve("2003-03-12 14:30:00");
  // The last tick at least an hour old; prices with two decimals, sizes
  // rounded half to even.
  EXPECT_EQ(Get("symbol=0005&mode=2"),
            std::string(kNames0005) + "TICK|0|2003/03/12|13:29:59|12.50|12.55|12.50|2|4|1000|\r\n");
  // Nothing old enough today: the last tick of the nearest earlier day with a
  // table, past the holiday; a null size is 0.
  EXPECT_EQ(Get("symbol=0006&mode=2"), "TICK|0|2003/03/10|16:00:00|7.00|7.00|7.00|0|6|8|\r\n");
  // Tables of the last 7 days without the product: the first table further
  // back (8 days) is still read; the one after it (9 days) is not.
  EXPECT_EQ(Get("symbol=0009&mode=2"), "TICK|0|2003/03/04|10:00:00|4.00|4.00|4.00|4|4|4|\r\n");
  // Every earlier day is looked at, one by one.
  EXPECT_EQ(Get("symbol=0010&mode=2"), "TICK|0|2003/03/09|11:00:00|5.00|5.00|5.00|5|5|5|\r\n");
  EXPECT_EQ(Get("symbol=0007&mode=2"), kBareNotFound);
  // A tick exactly at the cut-off counts; a row of the code in another letter
  // case is not the product's, though it is newer.
  EXPECT_EQ(Get("symbol=0008&mode=2"), "TICK|0|2003/03/12|13:30:00|3.00|3.00|3.00|3|3|3|\r\n");
  EXPECT_EQ(Get("symbol=AB1&mode=2"), "TICK|0|2003/03/12|13:10:00|5.00|5.00|5.00|5|5|5|\r\n");
  // So does one exactly at a cut-off between two seconds.
  Serve("2003-03-12 14:29:59.400");
  EXPECT_EQ(Get("symbol=0008&mode=2"), "TICK|0|2003/03/12|13:29:59|2.00|2.00|2.00|2|2|2|\r\n");

  Serve("2003-03-12 00:30:00");  // before 01:00 nothing of today counts
  EXPECT_EQ(Get("symbol=0005&mode=2"),
            std::string(kNames0005) + "TICK|0|2003/03/10|09:00:00|9.00|9.00|9.00|9|9|9|\r\n");
  Serve("2003-03-30 12:00:00");  // the first table further back than 7 days is still read
  EXPECT_EQ(Get("symbol=0006&mode=2"), "TICK|0|2003/03/12|13:45:00|2.00|2.00|2.00|2|2|2|\r\n");
  Serve("2003-05-30 12:00:00");  // over a month without any table: the search ends
  EXPECT_EQ(Get("symbol=0006&mode=2"), kBareNotFound);
}

MORVANE_ON_EVERY_STORE(DailyQuoteAnswers);

// The daily store's PostgreSQL server stops and starts again under a running
// morvane-server: while it is down the daily answer fails whole (nothing
// half-written reaches the client), and once it is back the same server
// answers in full. A private cluster, since the run's shared one serves
// other tests meanwhile.
TEST(DailyRestart, PostgresStoppedAndStartedAgain) {
  if (PostgresConnInfo().empty()) GTEST_SKIP() << "no PostgreSQL server binaries in this run";
  TempDir state;
  const std::string script = (SourceDir() / "tests" / "pg_cluster.sh").string();
  const auto cluster = [&](const std::string& action) {
    return std::system(
        (script + " " + action + " '" + state.path().string() + "' >/dev/null 2>&1").c_str());
  };
  ASSERT_EQ(cluster("start"), 0);
  struct Stop {
    std::function<int(const std::string&)> run;
    ~Stop() { run("stop"); }
  } stop{cluster};
  ScopedEnv private_cluster("MORVANE_TEST_PG_STATE", (state / "conninfo").c_str());

  E2eStore store("MaxConnection=10\n", StoreKind::kPostgres);
  ASSERT_EQ(store.LoadCsv("names", std::string(kNameHeader) + "0005,HSBC,HK\n"), 0);
  ASSERT_EQ(store.LoadCsv("daily", std::string(kDailyHeader) + "2003-03-12,0005,2,1,1.5,10,15\n"),
            0);
  ServerProcess server(store.dir(), store.env(), {"--clock", "2003-03-12 15:00:00"});
  const std::string full =
      std::string(kNames0005) + "TICK|0|2003/3/12|2|1|1.5|10|15|\r\nNOTE|RECORDCOUNT|1|\r\n";
  EXPECT_EQ(HttpGet(server.port(), "/?symbol=0005&mode=1").body, full);

  ASSERT_EQ(cluster("pause"), 0);
  EXPECT_EQ(HttpGet(server.port(), "/?symbol=0005&mode=1").body, "");
  EXPECT_NE(store.Log().find(". Retry 3. Close: "), std::string::npos) << store.Log();

  ASSERT_EQ(cluster("resume"), 0);
  EXPECT_EQ(HttpGet(server.port(), "/?symbol=0005&mode=1").body, full);
}

}  // namespace
}  // namespace morvane::testing
