// The data module: session naming and numbering, the private connection and
// its log lines, credentials from the settings, the pool limit, and release of
// everything a module made.
#include "data/hist_data.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "data/session_ids.h"
#include "data/symbol_lookup.h"
#include "module_stores.h"
#include "records/response_sink.h"
#include "support/clock.h"
#include "support/http_client.h"
#include "support/log.h"
#include "support/settings_location.h"
#include "support/test_env.h"

namespace morvane::testing {
namespace {

using Lines = std::vector<std::string>;

const Lines kOpenSteps = {"begin keep connection", "connection",   "Current Session", "connected",
                          "valid Query",           "IntervalQuery"};

class HistDataTest : public ModuleTest {
 protected:
  // A created module whose order database exists.
  std::unique_ptr<THistData> MakeModule() {
    Store("omsdata", load::StoreRole::kOrders);
    auto m = std::make_unique<THistData>();
    m->WebModuleCreate();
    return m;
  }
};

TEST_P(HistDataTest, FirstModuleNamesItsSessionAndPrivateConnection) {
  auto m = MakeModule();
  EXPECT_EQ(m->HistSession().SessionName(), "HistSession_1");
  EXPECT_TRUE(m->HistSession().Active());
  for (db::TDatabase* d : {&m->HistDB, &m->HistSQLDB, &m->PLRDB})
    EXPECT_EQ(d->SessionName(), "HistSession_1") << d->AliasName();

  const std::string id = std::string(kTestPrefix) + "00000065";
  ASSERT_NE(m->OrdDB, nullptr);
  EXPECT_EQ(m->OrdDB->DatabaseName(), "ordDB" + id);
  EXPECT_EQ(m->OrdDB->SessionName(), id);
  EXPECT_EQ(m->OrdDB->AliasName(), "omsdata");
  EXPECT_TRUE(m->OrdDB->Connected());
  EXPECT_TRUE(m->OrdDB->KeepConnection());
  EXPECT_EQ(ThreadSessionID(), id);
  ASSERT_NE(db::TSession::FindSession(id), nullptr);
  EXPECT_EQ(db::TSession::Current(), db::TSession::FindSession(id));

  ASSERT_NE(m->IntervalQuery, nullptr);
  ASSERT_NE(m->IsValidSymbolQuery, nullptr);
  EXPECT_NE(m->IntervalQuery.get(), m->IsValidSymbolQuery.get());
  EXPECT_EQ(m->IntervalQuery->Database(), m->OrdDB.get());
  EXPECT_EQ(m->IsValidSymbolQuery->Database(), m->OrdDB.get());
  EXPECT_EQ(m->IntervalQuery->SQL(), "");
  EXPECT_EQ(m->IsValidSymbolQuery->SQL(), "");
}

TEST_P(HistDataTest, ModulesCountOnAndAFreedSessionNumberIsReused) {
  auto first = MakeModule();
  auto second = MakeModule();
  const std::string id1 = std::string(kTestPrefix) + "00000065";
  const std::string id2 = std::string(kTestPrefix) + "00000066";
  EXPECT_EQ(first->HistSession().SessionName(), "HistSession_1");
  EXPECT_EQ(second->HistSession().SessionName(), "HistSession_2");
  ASSERT_NE(first->OrdDB, nullptr);
  ASSERT_NE(second->OrdDB, nullptr);
  EXPECT_EQ(first->OrdDB->DatabaseName(), "ordDB" + id1);
  EXPECT_EQ(second->OrdDB->DatabaseName(), "ordDB" + id2);

  first.reset();
  // Destroying a module releases its private session, and only its own.
  EXPECT_EQ(db::TSession::FindSession(id1), nullptr);
  EXPECT_EQ(db::TSession::FindSession("HistSession_1"), nullptr);
  EXPECT_NE(db::TSession::FindSession(id2), nullptr);
  EXPECT_TRUE(second->OrdDB->Connected());

  auto third = MakeModule();
  EXPECT_EQ(third->HistSession().SessionName(), "HistSession_1");
  ASSERT_NE(third->OrdDB, nullptr);
  EXPECT_EQ(third->OrdDB->DatabaseName(), std::string("ordDB") + kTestPrefix + "00000067");
  third.reset();
  second.reset();
  EXPECT_EQ(db::TSession::FindSession(id2), nullptr);
  EXPECT_EQ(db::TSession::FindSession("HistSession_2"), nullptr);
}

TEST_P(HistDataTest, SuccessfulCreationLogsTheConnectionStepsInOrder) {
  Store("omsdata", load::StoreRole::kOrders);
  const size_t mark = LogMark();
  THistData m;
  m.WebModuleCreate();
  EXPECT_EQ(LogLines(mark), kOpenSteps);
}

TEST_P(HistDataTest, DsnUserIsLoggedAndBecomesTheLogin) {
  // The test cluster's role; SQLite ignores logins.
  WriteSettings("[OMS_DATABASE]\nDSN_user=morvane\nDSN_password=secret\n");
  const size_t mark = LogMark();
  auto m = MakeModule();
  Lines expected = {std::string("Using database omsdata user morvane SessionID ") + kTestPrefix +
                    "00000065"};
  expected.insert(expected.end(), kOpenSteps.begin(), kOpenSteps.end());
  EXPECT_EQ(LogLines(mark), expected);
  ASSERT_NE(m->OrdDB, nullptr);
  EXPECT_EQ(m->OrdDB->Params(), (Lines{"USER NAME=morvane", "PASSWORD=secret"}));
  EXPECT_TRUE(m->OrdDB->Connected());
}

TEST_P(HistDataTest, EmptyDsnUserSetsNoCredentialsAndLogsNoUser) {
  WriteSettings("[OMS_DATABASE]\nDSN_user=\nDSN_password=ignored\n");
  const size_t mark = LogMark();
  auto m = MakeModule();
  EXPECT_EQ(LogLines(mark), kOpenSteps);
  ASSERT_NE(m->OrdDB, nullptr);
  EXPECT_TRUE(m->OrdDB->Params().empty());
  EXPECT_TRUE(m->OrdDB->Connected());
}

TEST_P(HistDataTest, OrderDatabaseAliasComesFromTheSettings) {
  WriteSettings("[OMS_DATABASE]\nDSN_source=\n");
  auto m = MakeModule();
  ASSERT_NE(m->OrdDB, nullptr);
  EXPECT_EQ(m->OrdDB->AliasName(), "omsdata");  // empty means the default

  // Entry names match without regard to case.
  WriteAliases("orders2");
  WriteSettings("[OMS_DATABASE]\ndsn_SOURCE=orders2\n");
  Store("orders2", load::StoreRole::kOrders);
  THistData other;
  other.WebModuleCreate();
  ASSERT_NE(other.OrdDB, nullptr);
  EXPECT_EQ(other.OrdDB->AliasName(), "orders2");
  EXPECT_TRUE(other.OrdDB->Connected());
  EXPECT_EQ(DBInitConfig(*omsIniFile()).source, "orders2");
}

TEST_P(HistDataTest, FailedPrivateConnectionIsLoggedAndTheModuleStillServes) {
  WriteSettings(std::string(kLogin) + "[OMS_DATABASE]\nDSN_source=nosuchalias\n");
  AddName("0005", "HSBC HOLDINGS", "HSBC");
  const size_t mark = LogMark();
  auto m = std::make_unique<THistData>();
  m->WebModuleCreate();  // does not raise

  const Lines lines = LogLines(mark);
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
            (Lines{"begin keep connection", "connection", "Current Session"}));
  const std::string prefix = "Cannot connect to database ";
  EXPECT_EQ(lines[3].rfind(prefix, 0), 0u) << lines[3];
  EXPECT_GT(lines[3].size(), prefix.size());  // the engine's message follows
  EXPECT_NE(lines[3].find("nosuchalias"), std::string::npos) << lines[3];

  EXPECT_EQ(m->OrdDB, nullptr);
  EXPECT_EQ(m->IntervalQuery, nullptr);
  EXPECT_EQ(m->IsValidSymbolQuery, nullptr);

  // The design-time connections serve as usual; the symbol check passes.
  StringSink sink;
  m->SetResponse(&sink);
  GenStockName(*m, "0005");
  EXPECT_EQ(sink.Body(), "NOTE|ENAME|HSBC HOLDINGS|\r\nNOTE|CNAME|HSBC|\r\n");
  EXPECT_TRUE(IsValidProduct("0005", m->IsValidSymbolQuery.get()));
  Store("plrdata", load::StoreRole::kBars);
  m->spMarketSessionQuery.ParamByName("@Symbol").SetAsString("0005");
  m->spMarketSessionQuery.Open();
  EXPECT_TRUE(m->spMarketSessionQuery.Eof());
  m->spMarketSessionQuery.Close();

  // Its private session is released with it all the same.
  const std::string id = std::string(kTestPrefix) + "00000065";
  EXPECT_NE(db::TSession::FindSession(id), nullptr);
  m.reset();
  EXPECT_EQ(db::TSession::FindSession(id), nullptr);

  // The next module tries again, with a new ID.
  WriteSettings("[OMS_DATABASE]\n");
  auto next = MakeModule();
  ASSERT_NE(next->OrdDB, nullptr);
  EXPECT_EQ(next->OrdDB->DatabaseName(), std::string("ordDB") + kTestPrefix + "00000066");
}

TEST_P(HistDataTest, MissingStoresAreReportedAndNeverMade) {
  if (Pg()) GTEST_SKIP() << "a server store always exists";
  // Neither the order database nor the stored-bar store exists.
  const size_t mark = LogMark();
  THistData m;
  m.WebModuleCreate();
  const Lines lines = LogLines(mark);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Cannot connect to database ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find("omsdata"), std::string::npos) << lines.back();
  EXPECT_EQ(m.OrdDB, nullptr);

  m.spMarketSessionQuery.ParamByName("@Symbol").SetAsString("0005");
  try {
    m.spMarketSessionQuery.Open();
    ADD_FAILURE() << "opened a missing store";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("plrdata"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "orders.db"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "plr.db"));
}

TEST_P(HistDataTest, OneCreationLooksUpAndReadsTheSettingsOnce) {
  if (Pg()) GTEST_SKIP() << "the settings do not depend on the driver";
  // No settings file anywhere: every look-up downloads the settings page,
  // so the downloads count the look-ups.
  class CountingHttp final : public HttpClient {
   public:
    HttpResponse Get(const std::string& /*url*/) const override {
      ++gets;
      return {200, std::string(kLogin) + "SplitTime=10:30:00\n"};
    }
    mutable std::atomic<int> gets{0};
  } http;
  struct Restore {
    ~Restore() { SetHttpClientForTesting(nullptr); }
  } restore;
  Store("omsdata", load::StoreRole::kOrders);
  std::filesystem::remove(dir_ / "oms.ini");
  const ScopedEnv sysconf("MORVANE_SYSCONFDIR", (dir_ / "etc").c_str());
  SetHttpClientForTesting(&http);
  ResetCalendarForTesting();

  THistData first;  // the first creation also loads the calendar
  first.WebModuleCreate();
  EXPECT_EQ(http.gets.load(), 1);
  THistData second;
  second.WebModuleCreate();
  EXPECT_EQ(http.gets.load(), 2);
  EXPECT_EQ(SplitTime(), EncodeTime(10, 30, 0, 0));
  EXPECT_NE(second.OrdDB, nullptr);
}

TEST_P(HistDataTest, ReopeningThePrivateConnectionReplacesOrEmptiesAllThree) {
  auto m = MakeModule();
  ASSERT_NE(m->OrdDB, nullptr);
  const std::string old_id = m->OrdDB->SessionName();

  EXPECT_TRUE(
      m->DatabaseNewQueryOpen(*omsIniFile(), &m->OrdDB, &m->IntervalQuery, &m->IsValidSymbolQuery));
  ASSERT_NE(m->OrdDB, nullptr);
  EXPECT_EQ(m->OrdDB->SessionName(), std::string(kTestPrefix) + "00000066");
  EXPECT_EQ(m->IsValidSymbolQuery->Database(), m->OrdDB.get());
  EXPECT_EQ(db::TSession::FindSession(old_id), nullptr);

  WriteSettings("[OMS_DATABASE]\nDSN_source=nosuchalias\n");
  EXPECT_FALSE(
      m->DatabaseNewQueryOpen(*omsIniFile(), &m->OrdDB, &m->IntervalQuery, &m->IsValidSymbolQuery));
  EXPECT_EQ(m->OrdDB, nullptr);
  EXPECT_EQ(m->IntervalQuery, nullptr);
  EXPECT_EQ(m->IsValidSymbolQuery, nullptr);
}

TEST_P(HistDataTest, SqlConnectionsTakeTheirLoginFromTheSettings) {
  struct Case {
    std::string settings;
    Lines params;
  };
  const Case cases[] = {
      {"[MORVANE]\n", {"USER NAME=sa", "PASSWORD="}},
      // Present but empty is an empty user, not the default.
      {"[MORVANE]\nDBUSER=\n", {"USER NAME=", "PASSWORD="}},
      {"[MORVANE]\nDBUSER=trader\n", {"USER NAME=trader", "PASSWORD="}},
      {"[MORVANE]\nDBUSER=trader\nDBPASSWORD=pw\n", {"USER NAME=trader", "PASSWORD=pw"}},
  };
  for (const Case& c : cases) {
    WriteSettings(c.settings);
    auto m = MakeModule();
    EXPECT_EQ(m->HistSQLDB.Params(), c.params) << c.settings;
    EXPECT_EQ(m->PLRDB.Params(), c.params) << c.settings;
    EXPECT_TRUE(m->HistDB.Params().empty()) << c.settings;  // no credentials for tick tables
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, HistDataTest,
                         ::testing::Values(Driver::kSqlite, Driver::kPostgres), DriverLabel);

// --- Process start-up: the pool limit and the session counter ------------

class GetMaxConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockForTesting(&clock_); }
  void TearDown() override {
    omsLogClose();
    SetClockForTesting(nullptr);
  }

  int32_t With(const std::string& settings) {
    WriteFile(dir_ / "oms.ini", settings);
    return GetMaxConnection();
  }

  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
  ScopedEnv log_env_{"MORVANE_LOG", (dir_ / "kmdl.log").c_str()};
  FrozenClock clock_{TestInstant()};
};

TEST_F(GetMaxConnectionTest, ReadsThePoolLimitWithTenForAnythingUnusable) {
  struct Case {
    const char* settings;
    int32_t expect;
  };
  const Case cases[] = {
      {"", 10},
      {"[MORVANE]\n", 10},
      {"[MORVANE]\nMaxConnection=\n", 10},
      {"[MORVANE]\nMaxConnection=abc\n", 10},
      {"[MORVANE]\nMaxConnection=25x\n", 10},
      {"[MORVANE]\nMaxConnection= 25\n", 25},
      {"[MORVANE]\nMaxConnection=-3\n", -3},
      {"[MORVANE]\nMaxConnection=0\n", 0},
      {"[MORVANE]\nMaxConnection=2147483647\n", 2147483647},
      {"[MORVANE]\nMaxConnection=2147483648\n", 10},
      {"[MORVANE]\nMaxConnection=$19\n", 25},
      {"[MORVANE]\nmaxconnection=7\n", 7},
      {"[OTHER]\nMaxConnection=7\n", 10},
  };
  for (const Case& c : cases) EXPECT_EQ(With(c.settings), c.expect) << c.settings;
}

TEST_F(GetMaxConnectionTest, OpensTheLogAndRestartsTheSessionCounter) {
  GenNextSessionID();
  With("[MORVANE]\nMaxConnection=4\n");
  EXPECT_EQ(LogFileName(), (dir_ / "kmdl.log").string());
  EXPECT_EQ(GenNextSessionID(), std::string(kTestPrefix) + "00000065");
  EXPECT_EQ(GenNextSessionID(), std::string(kTestPrefix) + "00000066");
  for (int i = 0; i < 57; ++i) GenNextSessionID();
  EXPECT_EQ(GenNextSessionID(), std::string(kTestPrefix) + "000000A0");  // after 9F
}

using SessionIdTest = GetMaxConnectionTest;

TEST_F(SessionIdTest, IdsStayUniqueAcrossThreads) {
  With("[MORVANE]\n");
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::vector<std::string>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, t] {
      for (int i = 0; i < kEach; ++i) made[static_cast<size_t>(t)].push_back(GenNextSessionID());
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::string> ids;
  for (const auto& v : made) ids.insert(v.begin(), v.end());
  ASSERT_EQ(ids.size(), static_cast<size_t>(kThreads * kEach));
  // 101 to 900: the first and last of the sorted IDs.
  EXPECT_EQ(*ids.begin(), std::string(kTestPrefix) + "00000065");
  EXPECT_EQ(*ids.rbegin(), std::string(kTestPrefix) + "00000384");
  for (const std::string& id : ids) EXPECT_EQ(id.size(), 14u) << id;
}

}  // namespace
}  // namespace morvane::testing
