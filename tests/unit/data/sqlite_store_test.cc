// What only the SQLite driver does: directories of table files, the index
// seek's query plan, and procedures kept in a table.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <string>

#include "data/engine.h"
#include "data/sqlite_cursor.h"
#include "engine_stores.h"
#include "support/file_watch.h"

namespace morvane::db::testing {
namespace {

namespace fs = std::filesystem;

class SqliteStoreTest : public StoreTest {};

TEST_P(SqliteStoreTest, DirectoryKeepsEachTableInItsOwnFile) {
  TDatabase ticks;
  ticks.SetAliasName("TICKS");
  ticks.SetCreateStore(true);
  CreateDayTable(ticks, "hist030509");
  AddTick(ticks, "hist030509", "0005", EncodeTime(9, 30, 0), 80.5);
  EXPECT_TRUE(fs::is_regular_file(dir_ / "ticks" / "hist030509.db"));

  TTable t;
  t.SetDatabase(&ticks);
  t.SetTableName("hist030510");
  EXPECT_FALSE(t.Exists());
  EXPECT_FALSE(fs::exists(dir_ / "ticks" / "hist030510.db"));  // asking creates nothing
  insert_.reset();
  ticks.Close();

  // Read-only, as the tick generators open it.
  ticks.SetReadOnly(true);
  t.SetTableName("hist030509");
  t.SetIndexName("SymbolTime");
  ASSERT_TRUE(t.Exists());
  t.Open();
  t.FindNearest({std::string("0005")});
  ASSERT_FALSE(t.Eof());
  EXPECT_EQ(t.FieldByName("Price").AsString(), "80.5");
  EXPECT_EQ(t.FieldByName("Date").AsString(), "2003/5/9");
  EXPECT_THROW(ticks.ExecuteDirect("DELETE FROM hist030509"), EDatabaseError);
}

TEST_P(SqliteStoreTest, DirectoryStatementMustNameATable) {
  TDatabase ticks;
  ticks.SetAliasName("TICKS");
  EXPECT_THROW(ticks.ExecuteDirect("SELECT 1"), EDatabaseError);
  EXPECT_THROW(ticks.ExecuteDirect("INSERT INTO hist000101 VALUES (1)"), EDatabaseError);
}

TEST_P(SqliteStoreTest, SeekUsesTheSymbolTimeIndex) {
  CreateDayTable(db_, "hist030509");
  db_.Close();
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "store.db").c_str(), &raw), SQLITE_OK);
  const std::vector<sqlite::IndexColumn> key = {{"Symbol", "NOCASE", FieldType::kText},
                                                {"Time", "BINARY", FieldType::kTime}};
  for (size_t i = 0; i < 4; ++i) {
    const size_t k = 1 + i % 2;
    const auto dir = i < 2 ? sqlite::SeekDirection::kForward : sqlite::SeekDirection::kBackward;
    const std::string sql = "EXPLAIN QUERY PLAN " + sqlite::SeekSql("hist030509", key, k, dir);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    std::string plan;
    while (sqlite3_step(st) == SQLITE_ROW) {
      plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
      plan += "; ";
    }
    sqlite3_finalize(st);
    // A search starts at the key; a scan would read the day from its top.
    EXPECT_NE(plan.find("SEARCH"), std::string::npos) << plan;
    EXPECT_NE(plan.find("SymbolTime"), std::string::npos) << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;  // no sort
  }
  sqlite3_close(raw);
}

TEST_P(SqliteStoreTest, ProcedureWithoutItsTableIsAClearError) {
  TStoredProc sp;
  sp.SetDatabase(&db_);
  sp.SetStoredProcName("QueryMarketSession;1");
  try {
    sp.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("morvane_procedures"), std::string::npos) << e.what();
  }
}

TEST_P(SqliteStoreTest, MissingDatabaseFileIsAnErrorWhenReadOnly) {
  db_.SetReadOnly(true);
  EXPECT_THROW(db_.Open(), EDatabaseError);
  EXPECT_FALSE(fs::exists(dir_ / "store.db"));
}

// Another process cutting a day file short while a request reads it (a
// restore or a careless copy) must fail that read, not the process: a
// mapped file would raise SIGBUS at the first page past its new end.
TEST_P(SqliteStoreTest, DayFileCutShortUnderAReaderFailsTheRead) {
  TDatabase ticks;
  ticks.SetAliasName("TICKS");
  ticks.SetCreateStore(true);
  CreateDayTable(ticks, "hist030509");
  ticks.StartTransaction();
  for (int i = 0; i < 40000; ++i) {
    AddTick(ticks, "hist030509", "0005", EncodeTime(9, 30, 0) + i / 86400.0, 80 + i % 100 / 10.0);
  }
  ticks.Commit();
  insert_.reset();
  ticks.Close();

  ticks.SetReadOnly(true);
  TTable t;
  t.SetDatabase(&ticks);
  t.SetTableName("hist030509");
  t.SetIndexName("SymbolTime");
  t.Open();
  t.FindNearest({std::string("0005")});
  for (int i = 0; i < 10; ++i) t.Next();
  const fs::path file = dir_ / "ticks" / "hist030509.db";
  ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(fs::file_size(file) / 10)), 0);
  EXPECT_THROW(
      {
        while (!t.Eof()) t.Next();
      },
      EDatabaseError);
}

// A load into a day file that the server's requests read back to back
// must get its turn: a reader that finds another process writing the file
// waits for its commit, and then reads the new rows.
TEST_P(SqliteStoreTest, ReaderWaitsForAnotherProcessWritingTheFile) {
  TDatabase ticks;
  ticks.SetAliasName("TICKS");
  ticks.SetCreateStore(true);
  CreateDayTable(ticks, "hist030509");
  AddTick(ticks, "hist030509", "0005", EncodeTime(9, 30, 0), 80.5);
  insert_.reset();
  ticks.Close();
  const fs::path file = dir_ / "ticks" / "hist030509.db";

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    // Another process: holds the file's reserved lock for 300 ms, then
    // commits one more tick.
    sqlite3* db = nullptr;
    int rc = sqlite3_open(file.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    rc |= sqlite3_exec(db,
                       "BEGIN IMMEDIATE; INSERT INTO hist030509 (Date, Time, Symbol, Price, "
                       "Volume) VALUES ('2003-05-09', '09:31:00', '0005', 81.0, 200)",
                       nullptr, nullptr, nullptr);
    const char go = 'w';
    rc |= write(ready[1], &go, 1) == 1 ? 0 : 1;
    usleep(300000);
    rc |= sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(rc == SQLITE_OK ? 0 : 1);
  }
  char go = 0;
  ASSERT_EQ(read(ready[0], &go, 1), 1);
  close(ready[0]);
  close(ready[1]);

  ticks.SetCreateStore(false);
  ticks.SetReadOnly(true);
  TTable t;
  t.SetDatabase(&ticks);
  t.SetTableName("hist030509");
  t.SetIndexName("SymbolTime");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(t.Exists());
  t.Open();
  t.FindNearest({std::string("0005")});
  int rows = 0;
  for (; !t.Eof(); t.Next()) ++rows;
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(rows, 2);
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A writer that dies in the middle of a commit leaves its journal beside
// the file, and the file holds pages of a transaction that never
// committed. A reader of a file whose journal was found missing before, and
// for which the file watch has vouched since, must still find the journal:
// here its read fails (a read-only link cannot roll the journal back)
// rather than showing the uncommitted prices.
TEST_P(SqliteStoreTest, AJournalLeftByAWriterThatDiedIsSeenByTheNextRequest) {
  TDatabase ticks;
  ticks.SetAliasName("TICKS");
  ticks.SetCreateStore(true);
  CreateDayTable(ticks, "hist030509");
  ticks.StartTransaction();
  for (int i = 0; i < 20000; ++i) {
    AddTick(ticks, "hist030509", "0005", EncodeTime(9, 30, 0) + i / 86400.0, 80.5);
  }
  ticks.Commit();
  insert_.reset();
  ticks.Close();
  ticks.SetCreateStore(false);
  ticks.SetReadOnly(true);
  TTable t;
  t.SetDatabase(&ticks);
  t.SetTableName("hist030509");
  t.SetIndexName("SymbolTime");
  const auto uncommitted_read = [&] {
    const RequestScope request;
    bool uncommitted = false;
    try {
      t.Open();
      t.FindNearest({std::string("0005")});
      for (; !t.Eof(); t.Next()) uncommitted |= t.FieldByName("Price").AsFloat() != 80.5;
    } catch (const EDatabaseError&) {
    }
    t.Close();
    ticks.Discard();  // no page of the file kept from one read to the next
    return uncommitted;
  };
  EXPECT_FALSE(uncommitted_read());
  EXPECT_FALSE(uncommitted_read());  // the journal's absence now vouched for

  const fs::path file = dir_ / "ticks" / "hist030509.db";
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    // A cache too small for the change: its pages go to the file before the
    // commit that never comes.
    sqlite3* db = nullptr;
    int rc = sqlite3_open(file.c_str(), &db);
    rc |= sqlite3_exec(db, "PRAGMA cache_size = 10; BEGIN; UPDATE hist030509 SET Price = 99.5",
                       nullptr, nullptr, nullptr);
    _exit(rc == SQLITE_OK ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(fs::exists(dir_ / "ticks" / "hist030509.db-journal"));
  EXPECT_FALSE(uncommitted_read());
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqliteStoreTest, ::testing::Values(Driver::kSqlite), DriverLabel);

}  // namespace
}  // namespace morvane::db::testing
