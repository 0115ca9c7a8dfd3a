// The engine's behaviour on both drivers: what the data module and the
// generators rely on when they read tables, queries and procedures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "data/connection_pool.h"
#include "data/engine.h"
#include "engine_stores.h"
#include "support/file_watch.h"

namespace morvane::db::testing {
namespace {

TDateTime T(int h, int m, int s, int ms = 0) {
  return EncodeTime(h, m, s, ms);
}

class EngineTest : public StoreTest {
 protected:
  // Five products' ticks inserted out of index order; two symbols differ
  // only in letter case.
  void MakeTicks() {
    CreateDayTable(db_, "hist030509");
    AddTick(db_, "hist030509", "B", T(10, 0, 0), 2.0);
    AddTick(db_, "hist030509", "a", T(9, 0, 0), 1.0);
    AddTick(db_, "hist030509", "C", T(10, 0, 0, 500), 3.5);
    AddTick(db_, "hist030509", "A", T(9, 30, 0), 1.5);
    AddTick(db_, "hist030509", "b", T(8, 0, 0), 2.5);
    table_.SetDatabase(&db_);
    table_.SetTableName("hist030509");
    table_.SetIndexName("SymbolTime");
    table_.SetReadOnly(true);
  }

  // The current row as "Symbol@hh:nn:ss", or "EOF".
  std::string Here() {
    if (table_.Eof()) return "EOF";
    return table_.FieldByName("Symbol").AsString() + "@" + table_.FieldByName("Time").AsString();
  }

  TTable table_;
};

TEST_P(EngineTest, OpenStandsOnFirstRowAndReadsInIndexOrder) {
  MakeTicks();
  TField* symbol = table_.DeclareField("Symbol", FieldType::kText);
  table_.Open();
  ASSERT_TRUE(table_.Active());
  std::vector<std::string> rows;
  for (; !table_.Eof(); table_.Next()) rows.push_back(Here());
  // Case-insensitive by symbol, then by time: "a" and "A" interleave by time.
  EXPECT_EQ(rows, (std::vector<std::string>{"a@09:00:00", "A@09:30:00", "b@08:00:00", "B@10:00:00",
                                            "C@10:00:00"}));
  table_.Next();  // past the end stays at the end
  EXPECT_TRUE(table_.Eof());
  EXPECT_EQ(symbol, &table_.FieldByName("SYMBOL"));  // the declared object, found ignoring case
  EXPECT_EQ(table_.RecordCount(), 5);
  table_.Close();
  EXPECT_FALSE(table_.Active());
}

TEST_P(EngineTest, FindNearestSeeksAlongTheIndex) {
  MakeTicks();
  table_.Open();
  struct Case {
    std::vector<TTable::KeyValue> key;
    std::string expect;
  };
  const Case cases[] = {
      {{std::string("a"), T(9, 0, 0)}, "a@09:00:00"},        // at the key
      {{std::string("A"), T(9, 15, 0)}, "A@09:30:00"},       // after it, case ignored
      {{std::string("b")}, "b@08:00:00"},                    // symbol only
      {{std::string("B"), T(9, 0, 0)}, "B@10:00:00"},        // the other spelling's row
      {{std::string("C"), T(10, 0, 0, 250)}, "C@10:00:00"},  // milliseconds count
      {{std::string("C"), T(10, 0, 1)}, "EOF"},              // past the end
      {{std::string("ZZZ")}, "EOF"},
      {{std::string("0")}, "a@09:00:00"},  // before everything
  };
  for (const Case& c : cases) {
    table_.FindNearest(c.key);
    EXPECT_EQ(Here(), c.expect);
  }
  // Reading goes on from the found row.
  table_.FindNearest({std::string("b"), T(9, 0, 0)});
  table_.Next();
  EXPECT_EQ(Here(), "C@10:00:00");
  EXPECT_EQ(table_.FieldByName("Price").AsFloat(), 3.5);

  // Backwards: the last row at or before the key, then towards the first.
  const Case back[] = {
      {{std::string("a"), T(9, 30, 0)}, "A@09:30:00"},       // at the key, case ignored
      {{std::string("A"), T(9, 15, 0)}, "a@09:00:00"},       // before it
      {{std::string("b")}, "B@10:00:00"},                    // symbol only: its last row
      {{std::string("C"), T(10, 0, 0, 499)}, "B@10:00:00"},  // milliseconds count
      {{std::string("ZZZ")}, "C@10:00:00"},
      {{std::string("0")}, "EOF"},  // before everything
  };
  for (const Case& c : back) {
    table_.FindPrior(c.key);
    EXPECT_EQ(Here(), c.expect);
  }
  table_.FindPrior({std::string("b"), T(9, 0, 0)});
  std::vector<std::string> rows;
  for (; !table_.Eof(); table_.Next()) rows.push_back(Here());
  EXPECT_EQ(rows, (std::vector<std::string>{"b@08:00:00", "A@09:30:00", "a@09:00:00"}));
  table_.FindNearest({std::string("C")});  // forward again
  EXPECT_EQ(Here(), "C@10:00:00");
}

TEST_P(EngineTest, RowCountTestAnswersTenVersusEleven) {
  CreateDayTable(db_, "hist030510");
  CreateDayTable(db_, "hist030511");
  for (int i = 0; i < 10; ++i) AddTick(db_, "hist030510", "X", T(9, 0, i), 1);
  for (int i = 0; i < 11; ++i) AddTick(db_, "hist030511", "Y", T(9, 0, i), 1);
  TTable t;
  t.SetDatabase(&db_);
  t.SetTableName("hist030510");
  EXPECT_FALSE(t.HasMoreRowsThan(10));
  EXPECT_TRUE(t.HasMoreRowsThan(9));
  t.SetTableName("hist030511");
  EXPECT_TRUE(t.HasMoreRowsThan(10));
  EXPECT_FALSE(t.Active());
  t.SetTableName("hist990101");
  EXPECT_THROW(t.HasMoreRowsThan(10), EDatabaseError);
}

TEST_P(EngineTest, ExistsAnswersWithoutOpening) {
  CreateDayTable(db_, "hist030509");
  TTable t;
  t.SetDatabase(&db_);
  t.SetTableName("hist030509");
  EXPECT_TRUE(t.Exists());
  EXPECT_FALSE(t.Active());
  t.SetTableName("hist030508");
  EXPECT_FALSE(t.Exists());
  EXPECT_FALSE(t.Active());
}

TEST_P(EngineTest, FieldsReadInEveryForm) {
  db_.ExecuteDirect(Pg() ? "CREATE TABLE forms (d date, t time, dt timestamp, f float8, i integer,"
                           " s varchar(20), n float8)"
                         : "CREATE TABLE forms (d DATE, t TIME, dt DATETIME, f FLOAT, i INTEGER,"
                           " s VARCHAR(20), n FLOAT)");
  TQuery ins;
  ins.SetDatabase(&db_);
  ins.SetSQL("INSERT INTO forms (d, t, dt, f, i, s, n) VALUES (:d, :t, :dt, :f, :i, :s, :n)");
  ins.ParamByName("d").SetAsDateTime(EncodeDate(2003, 5, 9));
  ins.ParamByName("t").SetAsDateTime(T(10, 0, 5));
  ins.ParamByName("dt").SetAsDateTime(EncodeDate(2003, 5, 9) + T(10, 0, 5));
  ins.ParamByName("f").SetAsFloat(12.5);
  ins.ParamByName("i").SetAsInteger(42);
  ins.ParamByName("s").SetAsString("text");
  ins.ExecSQL();  // :n never bound: null

  TQuery q;
  q.SetDatabase(&db_);
  q.SetSQL("SELECT d, t, dt, f, i, s, n FROM forms");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("d").AsString(), "2003/5/9");
  EXPECT_EQ(q.FieldByName("d").AsDateTime(), EncodeDate(2003, 5, 9));
  EXPECT_EQ(q.FieldByName("t").AsString(), "10:00:05");
  EXPECT_NEAR(q.FieldByName("t").AsDateTime(), T(10, 0, 5), 1e-9);
  EXPECT_EQ(q.FieldByName("dt").AsString(), "2003/5/9 10:00:05");
  EXPECT_EQ(q.FieldByName("f").AsString(), "12.5");
  EXPECT_EQ(q.FieldByName("f").AsInteger(), 12);  // rounded, a tie to the even neighbour
  EXPECT_EQ(q.FieldByName("i").AsString(), "42");
  EXPECT_EQ(q.FieldByName("i").AsFloat(), 42.0);
  EXPECT_EQ(q.FieldByName("s").AsString(), "text");
  EXPECT_EQ(q.FieldByName("s").TextView(), "text");
  EXPECT_TRUE(q.FieldByName("n").IsNull());
  EXPECT_EQ(q.FieldByName("n").AsString(), "");
  EXPECT_EQ(q.FieldByName("n").AsFloat(), 0.0);
  std::string line = "x|";
  q.FieldByName("f").AppendText(&line);
  EXPECT_EQ(line, "x|12.5");
  q.Next();
  EXPECT_TRUE(q.Eof());
}

TEST_P(EngineTest, FloatsReadAsTheirStoredTextAndNullTextReadsEmpty) {
  // Row order by k; the text column is null on the second row, after a value.
  db_.ExecuteDirect(Pg() ? "CREATE TABLE floats (k integer, f float8, s varchar(10))"
                         : "CREATE TABLE floats (k INTEGER, f FLOAT, s VARCHAR(10))");
  const std::pair<double, const char*> cases[] = {
      {1e-5, "0.00001"},
      {9.99999e-6, "9.99999E-6"},
      {-1e-6, "-1E-6"},
      {1e14, "100000000000000"},
      {1e15, "1E15"},
      {1e16, "1E16"},
      {-3.0, "-3"},
      {42.0, "42"},
      {0.1 + 0.2, "0.3"},
      {123456789.012345, "123456789.012345"},
      {-0.000123456789012345, "-0.000123456789012345"},
  };
  TQuery ins;
  ins.SetDatabase(&db_);
  ins.SetSQL("INSERT INTO floats (k, f, s) VALUES (:k, :f, :s)");
  int k = 0;
  for (const auto& [value, text] : cases) {
    ins.ParamByName("k").SetAsInteger(k);
    ins.ParamByName("f").SetAsFloat(value);
    if (k == 0) ins.ParamByName("s").SetAsString("first");
    if (k == 1) ins.ParamByName("s").Clear();
    ins.ExecSQL();
    ++k;
  }

  TQuery q;
  q.SetDatabase(&db_);
  // The same value from an expression, which SQLite gives no type: the
  // declared text type stands in.
  q.DeclareField("t", FieldType::kText);
  q.SetSQL("SELECT f, f + 0 AS t, s FROM floats ORDER BY k");
  q.Open();
  std::string got;
  std::string want;
  bool first = true;
  for (const auto& [value, text] : cases) {
    ASSERT_FALSE(q.Eof());
    got += q.FieldByName("f").AsString() + "|";
    q.FieldByName("f").AppendText(&got);
    got += "|" + q.FieldByName("t").AsString() + "|" + std::string(q.FieldByName("s").TextView()) +
           "\n";
    want += std::string(text) + "|" + text + "|" + text + "|" + (first ? "first" : "") + "\n";
    first = false;
    q.Next();
  }
  EXPECT_EQ(got, want);
}

TEST_P(EngineTest, QueryParametersMatchIgnoringCaseAndDefaultToNull) {
  CreateDayTable(db_, "hist030509");
  AddTick(db_, "hist030509", "0005", T(9, 0, 0), 1);
  TQuery q;
  q.SetDatabase(&db_);
  q.SetSQL("SELECT Price FROM hist030509 WHERE Symbol = :Symbol AND Price >= :MIN");
  q.ParamByName("symbol").SetAsString("0005");
  q.ParamByName("Min").SetAsFloat(0.5);
  q.Open();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("price").AsFloat(), 1.0);
  q.Close();
  EXPECT_THROW(q.ParamByName("Nope"), EDatabaseError);

  q.SetSQL("SELECT COALESCE(:x, 'none') AS v");
  q.Open();
  EXPECT_EQ(q.FieldByName("v").AsString(), "none");
}

TEST_P(EngineTest, StoredProcedureReturnsWhatTheStoreDefines) {
  if (Pg()) {
    db_.ExecuteDirect("CREATE TABLE daily (c_date date, stock_code varchar(10), closing float8)");
    db_.ExecuteDirect(
        "CREATE FUNCTION usp_closing_price(from_symbol text, to_symbol text, from_date timestamp,"
        " to_date timestamp, adj integer) RETURNS TABLE (c_date date, stock_code varchar,"
        " closing float8) LANGUAGE sql AS $$ SELECT c_date, stock_code, closing FROM daily"
        " WHERE stock_code BETWEEN from_symbol AND to_symbol AND c_date >= from_date"
        " AND (to_date IS NULL OR c_date <= to_date) AND adj IS NULL ORDER BY c_date $$");
  } else {
    db_.ExecuteDirect("CREATE TABLE daily (c_date DATE, stock_code VARCHAR(10), closing FLOAT)");
    db_.ExecuteDirect(
        "CREATE TABLE morvane_procedures (name TEXT PRIMARY KEY, body TEXT);"
        "INSERT INTO morvane_procedures VALUES ('usp_Closing_Price', 'SELECT c_date, stock_code,"
        " closing FROM daily WHERE stock_code BETWEEN @From_Symbol AND @To_Symbol"
        " AND c_date >= @From_Date AND (@To_Date IS NULL OR c_date <= @To_Date)"
        " AND @Adj IS NULL ORDER BY c_date')");
  }
  db_.ExecuteDirect(
      "INSERT INTO daily VALUES ('2003-05-07', '0005', 10), ('2003-05-08', '0005', 11),"
      " ('2003-05-09', '0005', 12.25), ('2003-05-09', '0006', 99)");
  TStoredProc sp;
  sp.SetDatabase(&db_);
  sp.SetStoredProcName("usp_Closing_Price;1");
  sp.DeclareParam("@RETURN_VALUE", db::ParamType::kInteger, ParamDirection::kResult);
  sp.DeclareParam("@From_Symbol", db::ParamType::kText, ParamDirection::kInput);
  sp.DeclareParam("@To_Symbol", db::ParamType::kText, ParamDirection::kInput);
  sp.DeclareParam("@From_Date", db::ParamType::kDateTime, ParamDirection::kInput);
  sp.DeclareParam("@To_Date", db::ParamType::kDateTime, ParamDirection::kInput);
  sp.DeclareParam("@Adj", db::ParamType::kInteger, ParamDirection::kInput);
  TField* closing = sp.DeclareField("closing", FieldType::kFloat);
  sp.ParamByName("@from_symbol").SetAsString("0005");
  sp.ParamByName("@TO_SYMBOL").SetAsString("0005");
  sp.ParamByName("@From_Date").SetAsDateTime(EncodeDate(2003, 5, 8));
  sp.Open();  // @To_Date and @Adj unbound: null
  std::vector<std::string> rows;
  for (; !sp.Eof(); sp.Next()) {
    rows.push_back(sp.FieldByName("c_date").AsString() + " " + closing->AsString());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"2003/5/8 11", "2003/5/9 12.25"}));
  EXPECT_EQ(sp.RecordCount(), 2);
  sp.Close();

  sp.SetStoredProcName("usp_Missing;1");
  try {
    sp.Open();
    FAIL() << "a missing procedure opened";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("sp_Missing"), std::string::npos) << e.what();
  }
}

TEST_P(EngineTest, FailuresRaiseDatabaseErrorsThatSayWhat) {
  const auto message_of = [](auto&& f) -> std::string {
    try {
      f();
    } catch (const EDatabaseError& e) {
      return e.what();
    }
    return "(no error)";
  };
  TDatabase unknown;
  unknown.SetAliasName("NOSUCHALIAS");
  EXPECT_NE(message_of([&] { unknown.Open(); }).find("NOSUCHALIAS"), std::string::npos);
  EXPECT_FALSE(unknown.Connected());

  TTable t;
  t.SetDatabase(&db_);
  t.SetTableName("hist991231");
  EXPECT_NE(message_of([&] { t.Open(); }).find("hist991231"), std::string::npos);
  EXPECT_FALSE(t.Active());

  TQuery q;
  q.SetDatabase(&db_);
  q.SetSQL("SELEKT nothing");
  EXPECT_NE(message_of([&] { q.Open(); }), "(no error)");
  EXPECT_NE(message_of([&] { q.ExecSQL(); }), "(no error)");
  // The link survives a bad statement.
  q.SetSQL("SELECT 1 AS one");
  q.Open();
  EXPECT_EQ(q.FieldByName("one").AsInteger(), 1);
}

TEST_P(EngineTest, PreparedInsertIsReusedAndRollbackUndoesIt) {
  db_.ExecuteDirect("CREATE TABLE tx (v INTEGER)");
  TQuery ins;
  ins.SetDatabase(&db_);
  ins.SetSQL("INSERT INTO tx (v) VALUES (:v)");
  db_.StartTransaction();
  EXPECT_TRUE(db_.InTransaction());
  for (int i = 1; i <= 3; ++i) {
    ins.ParamByName("v").SetAsInteger(i);
    ins.ExecSQL();
  }
  db_.Rollback();
  EXPECT_FALSE(db_.InTransaction());

  TQuery sum;
  sum.SetDatabase(&db_);
  sum.SetSQL("SELECT count(*) AS n, sum(v) AS s FROM tx");
  sum.Open();
  EXPECT_EQ(sum.FieldByName("n").AsInteger(), 0);
  sum.Close();

  db_.StartTransaction();
  ins.SetSQL("INSERT INTO tx (v) VALUES (:v)");  // same text: same statement, values cleared
  for (int i = 1; i <= 4; ++i) {
    ins.ParamByName("v").SetAsInteger(i * 10);
    ins.ExecSQL();
  }
  db_.Commit();
  sum.Open();
  EXPECT_EQ(sum.FieldByName("n").AsInteger(), 4);
  EXPECT_EQ(sum.FieldByName("s").AsInteger(), 100);
  EXPECT_THROW(db_.Commit(), EDatabaseError);  // none active
}

TEST_P(EngineTest, CloseDropsTheLinkAndDataSetsReconnect) {
  db_.ExecuteDirect("CREATE TABLE one (v INTEGER)");
  db_.ExecuteDirect("INSERT INTO one VALUES (7)");
  TQuery q;
  q.SetDatabase(&db_);
  q.SetSQL("SELECT v FROM one");
  q.Open();
  EXPECT_TRUE(db_.Connected());
  db_.Close();
  EXPECT_FALSE(db_.Connected());
  EXPECT_FALSE(q.Active());
  q.Open();
  EXPECT_TRUE(db_.Connected());
  EXPECT_EQ(q.FieldByName("v").AsInteger(), 7);
  q.Close();
  EXPECT_TRUE(db_.Connected());  // keep-connection is on by default

  db_.SetKeepConnection(false);
  db_.Close();
  q.Open();
  q.Close();
  EXPECT_FALSE(db_.Connected());
}

TEST_P(EngineTest, ClosedLinksAreKeptForTheSameStoreUnlessFailedOrReplaced) {
  ConnectionPool& pool = ConnectionPool::Process();
  pool.Clear();
  db_.ExecuteDirect("CREATE TABLE one (v INTEGER)");
  db_.ExecuteDirect("INSERT INTO one VALUES (7)");
  TQuery q;
  q.SetDatabase(&db_);
  q.SetSQL("SELECT v FROM one");
  db_.Close();
  EXPECT_EQ(pool.IdleCount(), 1u);
  q.Open();  // takes the kept link
  EXPECT_EQ(pool.IdleCount(), 0u);
  EXPECT_EQ(q.FieldByName("v").AsInteger(), 7);
  db_.Discard();  // a failed link is not kept
  EXPECT_EQ(pool.IdleCount(), 0u);
  // A link given back inside a transaction is closed, and its transaction
  // with it: the next open sees none of its writes.
  TQuery count;
  count.SetDatabase(&db_);
  count.SetSQL("SELECT count(*) AS n FROM one");
  db_.StartTransaction();
  db_.ExecuteDirect("INSERT INTO one VALUES (9)");
  db_.Close();
  EXPECT_EQ(pool.IdleCount(), 0u);
  count.Open();
  EXPECT_EQ(count.FieldByName("n").AsInteger(), 1);
  EXPECT_FALSE(db_.InTransaction());
  db_.Close();
  EXPECT_EQ(pool.IdleCount(), 1u);
  if (!Pg()) {
    // A kept link to a store rebuilt and renamed into place is not handed
    // out again: the store is read afresh, also by a request that takes the
    // files as they were at its start.
    const auto replace_store = [&](int v) {
      {
        TDatabase other;
        morvane::testing::WriteFile(dir_ / "other.ini",
                                    "[OTHER]\nDRIVER=SQLITE\nPATH=" + (dir_ / "new.db").string());
        morvane::testing::ScopedEnv env("MORVANE_ALIASES", (dir_ / "other.ini").c_str());
        other.SetAliasName("OTHER");
        other.SetCreateStore(true);
        other.ExecuteDirect("CREATE TABLE one (v INTEGER)");
        other.ExecuteDirect("INSERT INTO one VALUES (" + std::to_string(v) + ")");
        other.Discard();
      }
      std::filesystem::rename(dir_ / "new.db", dir_ / "store.db");
    };
    replace_store(8);
    // Each alias is counted on its own.
    const auto stats = pool.Stats();
    const auto other =
        std::find_if(stats.begin(), stats.end(), [](const auto& s) { return s.alias == "OTHER"; });
    ASSERT_NE(other, stats.end());
    EXPECT_EQ(other->discarded, 1u);
    EXPECT_EQ(pool.IdleCount(), 1u);
    q.Open();
    EXPECT_EQ(q.FieldByName("v").AsInteger(), 8);
    db_.Close();
    replace_store(9);
    {
      const morvane::RequestScope request;
      EXPECT_EQ(pool.IdleCount(), 1u);
      q.Open();
      EXPECT_EQ(q.FieldByName("v").AsInteger(), 9);
    }
    // No more than kMaxIdle links are kept: the oldest goes.
    std::vector<std::unique_ptr<TDatabase>> many(ConnectionPool::kMaxIdle + 1);
    for (auto& d : many) {
      d = std::make_unique<TDatabase>();
      d->SetAliasName("STORE");
      d->ExecuteDirect("SELECT 1");
    }
    for (auto& d : many) d->Close();
    EXPECT_EQ(pool.IdleCount(), ConnectionPool::kMaxIdle);
    pool.Clear();
  } else {
    // A kept link whose server session ended while it waited is not handed
    // out again.
    TQuery pid;
    pid.SetDatabase(&db_);
    pid.SetSQL("SELECT pg_backend_pid() AS pid");
    pid.Open();
    const std::string first = pid.FieldByName("pid").AsString();
    db_.Close();
    EXPECT_EQ(pool.IdleCount(), 1u);
    {
      TDatabase admin;  // not a creating link, so not the kept one
      admin.SetAliasName("STORE");
      admin.ExecuteDirect("SELECT pg_terminate_backend(" + first + ")");
      admin.Discard();
    }
    // The session's goodbye reaches the kept link's socket shortly after.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pid.Open();
    EXPECT_NE(pid.FieldByName("pid").AsString(), first);
    pid.Close();

    // Bulk rows keep tabs, backslashes, line ends, nulls and every float.
    db_.ExecuteDirect("CREATE TABLE bulk (s varchar(20), x double precision)");
    TCopyRows rows;
    const double x = 0.1 + 0.2;
    for (const char* text : {"a\tb", "c\\d\ne\r"}) {
      rows.Text(text);
      rows.Float(x);
      rows.EndRow();
    }
    rows.Null();
    rows.Null();
    rows.EndRow();
    db_.CopyRows("bulk", {"s", "x"}, rows);
    TQuery b;
    b.SetDatabase(&db_);
    b.SetSQL("SELECT s, x FROM bulk ORDER BY s NULLS LAST");
    std::vector<std::string> got;
    for (b.Open(); !b.Eof(); b.Next()) {
      got.push_back(b.FieldByName("s").AsString() + "|" +
                    (b.FieldByName("x").IsNull()         ? "null"
                     : b.FieldByName("x").AsFloat() == x ? "x"
                                                         : "?"));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"a\tb|x", "c\\d\ne\r|x", "|null"}));
  }
}

TEST_P(EngineTest, DeclaredFieldMissingFromTheResultIsAnError) {
  db_.ExecuteDirect("CREATE TABLE one (v INTEGER)");
  TQuery q;
  q.SetDatabase(&db_);
  q.DeclareField("w", FieldType::kInteger);
  q.SetSQL("SELECT v FROM one");
  EXPECT_THROW(q.Open(), EDatabaseError);
  EXPECT_FALSE(q.Active());
}

TEST_P(EngineTest, OnlyACreatingDatabaseMakesAMissingStore) {
  if (Pg()) GTEST_SKIP() << "a server store always exists";
  namespace fs = std::filesystem;
  for (const char* alias : {"STORE", "TICKS"}) {
    for (bool read_only : {false, true}) {
      TDatabase missing;
      missing.SetAliasName(alias);
      missing.SetReadOnly(read_only);
      try {
        missing.Open();
        ADD_FAILURE() << alias << " opened although missing";
      } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find(alias), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "store.db"));
  EXPECT_FALSE(fs::exists(dir_ / "ticks"));
  db_.Open();  // made by the fixture to create
  EXPECT_TRUE(fs::is_regular_file(dir_ / "store.db"));
}

TEST_P(EngineTest, ReadOnlyDatabaseRefusesWrites) {
  db_.ExecuteDirect("CREATE TABLE one (v INTEGER)");
  db_.Close();
  db_.SetReadOnly(true);
  EXPECT_THROW(db_.ExecuteDirect("INSERT INTO one VALUES (1)"), EDatabaseError);
}

INSTANTIATE_TEST_SUITE_P(Drivers, EngineTest, ::testing::Values(Driver::kSqlite, Driver::kPostgres),
                         DriverLabel);

class PostgresLoginTest : public StoreTest {};

TEST_P(PostgresLoginTest, RefusedLoginNamesTheAlias) {
  db_.Params() = {"USER NAME=no_such_role", "PASSWORD=x"};
  try {
    db_.Open();
    FAIL() << "login as an unknown role succeeded";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("STORE"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("no_such_role"), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, PostgresLoginTest, ::testing::Values(Driver::kPostgres),
                         DriverLabel);

}  // namespace
}  // namespace morvane::db::testing

