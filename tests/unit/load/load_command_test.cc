// The morvane-load command as a user runs it: exit status, messages, and
// `init` then `demo` making a store the server can read.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
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

// `ticks`: the tick store's PATH, a file or (ending in '/') a directory.
void WriteSqliteStores(const TempDir& dir, const std::string& ticks = "ticks") {
  WriteFile(dir / "aliases.ini", "[HISTDATA]\nDRIVER=SQLITE\nPATH=" + ticks + "\n" +
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

TEST(LoadCommand, SeedMustBeAWholeUnsignedNumber) {
  TempDir dir;
  WriteSqliteStores(dir);
  for (const char* seed : {"-1", "' 5'", "+5", "5x", "''", "18446744073709551616"}) {
    const Outcome o = RunLoad(dir, std::string("demo --seed ") + seed);
    EXPECT_EQ(o.status, 2) << seed;
    EXPECT_NE(o.err.find("--seed needs a number"), std::string::npos) << seed << ": " << o.err;
  }
}

TEST(LoadCommand, IntervalsTakesTheGlobalOptionsAfterItsName) {
  TempDir dir;
  WriteSqliteStores(dir);
  WriteFile(dir / "other.ini", "[omsdata]\nDRIVER=SQLITE\nPATH=other.db\n");
  WriteFile(dir / "i.csv",
            "Symbol,Date,Time,Open,High,Low,Close,Volume\n0005,2024-01-02,09:31:00,1,2,1,2,10\n");
  // An empty --alias is refused here as before the command.
  Outcome o = RunLoad(dir, "intervals --length 60 --alias= i.csv");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--alias needs a name"), std::string::npos) << o.err;

  // --aliases after the command picks the alias file; it is not a data file.
  ASSERT_EQ(RunLoad(dir, "--aliases other.ini init").status, 0);
  o = RunLoad(dir, "intervals i.csv --length=180 --aliases other.ini");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "i.csv: 1 rows loaded into alias omsdata\n");
  testing::ScopedEnv env("MORVANE_ALIASES", (dir / "other.ini").c_str());
  db::TDatabase other;
  other.SetAliasName("omsdata");
  db::TQuery q;
  q.SetDatabase(&other);
  q.SetSQL("select count(*) as n from IntervalTable180");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "omsdata.db"));
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

int64_t Scalar(const char* alias, const std::string& sql) {
  db::TDatabase d;
  d.SetAliasName(alias);
  db::TQuery q;
  q.SetDatabase(&d);
  q.SetSQL(sql);
  q.Open();
  return q.Fields(0).AsLargeInt();
}

void Execute(const char* alias, const std::string& sql) {
  db::TDatabase d;
  d.SetAliasName(alias);
  d.ExecuteDirect(sql);
}

TEST(LoadCommand, DemoReplacesOnlyItsOwnTicksAndAFailedDemoLeavesNoNewDayFile) {
  TempDir dir;
  WriteSqliteStores(dir, "ticks/");
  testing::ScopedEnv env("MORVANE_ALIASES", (dir / "aliases.ini").c_str());
  ASSERT_EQ(RunLoad(dir, "init").status, 0);
  const std::string args = "demo --days 1 --symbols 2 --ticks-per-day 10 --end ";
  Outcome o = RunLoad(dir, args + "2024-01-02");
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_TRUE(std::filesystem::exists(dir / "ticks/hist240102.db"));  // a table per file
  const std::string count = "select count(*) from hist240102";
  const int64_t demo_ticks = Scalar("HISTDATA", count);
  ASSERT_GT(demo_ticks, 0);
  Execute("HISTDATA",
          "insert into hist240102 (Date, Time, Symbol, Price) "
          "values ('2024-01-02', '10:00:00', '9999', 1)");
  o = RunLoad(dir, args + "2024-01-02");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Scalar("HISTDATA", count), demo_ticks + 1);

  // A store that refuses the daily bars fails the demo after a new day's
  // ticks are written: everything is rolled back, and the new day's file goes.
  Execute("Historical",
          "create trigger refuse before insert on DailyBars "
          "begin select raise(abort, 'refused'); end");
  o = RunLoad(dir, args + "2024-01-03");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("refused"), std::string::npos) << o.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "ticks/hist240103.db"));
  EXPECT_FALSE(std::filesystem::exists(dir / "ticks/hist240103.db-journal"));
  EXPECT_EQ(Scalar("omsdata", "select count(*) from symbolTable"), 2);
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
