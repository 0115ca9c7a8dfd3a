// The morvane-load command as a user runs it: exit status, messages, and
// `init` then `demo` making a store the server can read.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "data/engine.h"
#include "support/test_env.h"

namespace morvane::load {
namespace {

using testing::TempDir;
using testing::WriteFile;

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome RunLoad(const TempDir& dir, const std::string& args, const std::string& env = "") {
  const std::string bin = (testing::BuildDir() / "morvane-load").string();
  const std::string cmd = "cd '" + dir.path().string() + "' && " + env + " '" + bin + "' " + args +
                          " >out.txt 2>err.txt";
  const int rc = std::system(cmd.c_str());
  Outcome o;
  o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  o.out = testing::ReadFile(dir / "out.txt");
  o.err = testing::ReadFile(dir / "err.txt");
  return o;
}

void WriteSqliteStores(const TempDir& dir) {
  WriteFile(dir / "aliases.ini",
            "[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks\n"
            "[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n"
            "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n"
            "[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n");
  WriteFile(dir / "oms.ini", "[OMS_DATABASE]\nDSN_source=omsdata\n[2024]\nHoliday=01/01\n");
}

TEST(LoadCommand, UsageErrorsExitWithTwo) {
  TempDir dir;
  WriteSqliteStores(dir);
  EXPECT_EQ(RunLoad(dir, "--help").status, 0);
  EXPECT_EQ(RunLoad(dir, "").status, 2);
  EXPECT_EQ(RunLoad(dir, "frobnicate").status, 2);
  EXPECT_EQ(RunLoad(dir, "ticks").status, 2);
  EXPECT_EQ(RunLoad(dir, "intervals --length 90 x.csv").status, 2);
  EXPECT_EQ(RunLoad(dir, "demo --days 0").status, 2);
  const Outcome o = RunLoad(dir, "--aliases nowhere.ini init");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("nowhere.ini does not exist"), std::string::npos) << o.err;
}

TEST(LoadCommand, ABadRowExitsWithOneAndNamesFileAndLine) {
  TempDir dir;
  WriteSqliteStores(dir);
  ASSERT_EQ(RunLoad(dir, "init").status, 0);
  WriteFile(dir / "s.csv", "symbol,isValid\n0005,1\n,1\n");
  const Outcome o = RunLoad(dir, "symbols s.csv");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "morvane-load: s.csv:3: column symbol is empty; a value is required\n");
}

TEST(LoadCommand, InitThenDemoFillsEveryStoreAndTheAliasOptionRedirects) {
  TempDir dir;
  WriteSqliteStores(dir);
  ASSERT_EQ(RunLoad(dir, "init").status, 0);
  const std::string args = "demo --days 3 --symbols 4 --ticks-per-day 50 --end 2024-01-02";
  Outcome o = RunLoad(dir, args);
  ASSERT_EQ(o.status, 0) << o.err;
  // Running it again replaces the demo's rows rather than doubling them.
  o = RunLoad(dir, args);
  ASSERT_EQ(o.status, 0) << o.err;

  testing::ScopedEnv env("MORVANE_ALIASES", (dir / "aliases.ini").c_str());
  db::TDatabase ticks;
  ticks.SetAliasName("HISTDATA");
  db::TTable t;
  t.SetDatabase(&ticks);
  // 2024-01-01 is a holiday, 12-30/31 a weekend: the days are 12-28, 12-29, 01-02.
  for (const char* name : {"hist231228", "hist231229", "hist240102"}) {
    t.SetTableName(name);
    EXPECT_TRUE(t.Exists()) << name;
  }
  for (const char* name : {"hist231231", "hist240101"}) {
    t.SetTableName(name);
    EXPECT_FALSE(t.Exists()) << name;
  }
  db::TDatabase ord;
  ord.SetAliasName("omsdata");
  db::TQuery q;
  q.SetDatabase(&ord);
  q.SetSQL("select count(*) as n, sum(isValid = '1') as v from symbolTable");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 4);
  EXPECT_EQ(q.FieldByName("v").AsInteger(), 3);

  // --alias writes the names into another store instead.
  WriteFile(dir / "aliases.ini",
            testing::ReadFile(dir / "aliases.ini") + "[spare]\nDRIVER=SQLITE\nPATH=spare.db\n");
  ASSERT_EQ(RunLoad(dir, "--alias spare init").status, 0);
  WriteFile(dir / "n.csv", "Stock_code,name_e,name_c\n0005,HSBC,滙豐控股\n");
  ASSERT_EQ(RunLoad(dir, "names n.csv --alias spare").status, 0);
  db::TDatabase spare;
  spare.SetAliasName("spare");
  db::TQuery names;
  names.SetDatabase(&spare);
  names.SetSQL("select name_c from DailySymbol");
  names.Open();
  EXPECT_EQ(names.FieldByName("name_c").AsString(), "滙豐控股");
}

TEST(LoadCommand, DemoOnPostgresKeepsDailyBarsConsistentWithTheTicks) {
  if (testing::PostgresConnInfo().empty()) GTEST_SKIP() << "no PostgreSQL test cluster";
  testing::ScratchPostgresDb pg;
  TempDir dir;
  std::string aliases;
  for (const char* a : {"HISTDATA", "Historical", "plrdata", "omsdata"}) {
    aliases += std::string("[") + a + "]\nDRIVER=POSTGRES\nCONNINFO=" + pg.conninfo() + "\n";
  }
  WriteFile(dir / "aliases.ini", aliases);
  WriteFile(dir / "oms.ini", "[OMS_DATABASE]\nDSN_source=omsdata\n");
  ASSERT_EQ(RunLoad(dir, "init").status, 0);
  const Outcome o =
      RunLoad(dir, "demo --days 2 --symbols 3 --ticks-per-day 40 --end 2024-01-05 --seed 3");
  ASSERT_EQ(o.status, 0) << o.err;

  testing::ScopedEnv env("MORVANE_ALIASES", (dir / "aliases.ini").c_str());
  db::TDatabase store;
  store.SetAliasName("Historical");
  db::TQuery q;
  q.SetDatabase(&store);
  q.SetSQL(
      "select d.high, d.low, d.shares_traded, (select max(Price) from hist240105 t where "
      "t.Symbol = d.stock_code) as th, (select min(Price) from hist240105 t where t.Symbol = "
      "d.stock_code) as tl, (select max(Volume) from hist240105 t where t.Symbol = "
      "d.stock_code) as tv from DailyBars d where d.c_date = '2024-01-05'");
  q.Open();
  int n = 0;
  for (; !q.Eof(); q.Next(), ++n) {
    EXPECT_EQ(q.FieldByName("high").AsFloat(), q.FieldByName("th").AsFloat());
    EXPECT_EQ(q.FieldByName("low").AsFloat(), q.FieldByName("tl").AsFloat());
    EXPECT_EQ(q.FieldByName("shares_traded").AsFloat(), q.FieldByName("tv").AsFloat());
  }
  EXPECT_EQ(n, 3);
}

}  // namespace
}  // namespace morvane::load
