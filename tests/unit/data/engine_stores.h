// A store for engine tests, on either driver: an alias file naming it, and
// the DDL each driver needs for the tables the tests use.
#ifndef MORVANE_TESTS_UNIT_DATA_ENGINE_STORES_H_
#define MORVANE_TESTS_UNIT_DATA_ENGINE_STORES_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data/engine.h"
#include "store_schema.h"
#include "support/test_env.h"

namespace morvane::db::testing {

enum class Driver { kSqlite, kPostgres };

inline std::string DriverLabel(const ::testing::TestParamInfo<Driver>& info) {
  return info.param == Driver::kSqlite ? "Sqlite" : "Postgres";
}

// Aliases: STORE (a SQLite database file, or a scratch PostgreSQL database)
// and, on SQLite, TICKS (a directory of table files).
class StoreTest : public ::testing::TestWithParam<Driver> {
 protected:
  void SetUp() override {
    std::string text;
    if (GetParam() == Driver::kPostgres) {
      if (morvane::testing::PostgresConnInfo().empty())
        GTEST_SKIP() << "no PostgreSQL test cluster";
      pg_ = std::make_unique<morvane::testing::ScratchPostgresDb>();
      text = "[STORE]\nDRIVER=POSTGRES\nCONNINFO=" + pg_->conninfo() + "\n";
    } else {
      text = "[STORE]\nDRIVER=SQLITE\nPATH=store.db\n[TICKS]\nDRIVER=SQLITE\nPATH=ticks/\n";
    }
    morvane::testing::WriteFile(dir_ / "aliases.ini", text);
    env_ = std::make_unique<morvane::testing::ScopedEnv>("MORVANE_ALIASES",
                                                         (dir_ / "aliases.ini").c_str());
    db_.SetAliasName("STORE");
    db_.SetDatabaseName("TestDB");
    db_.SetCreateStore(true);
  }

  bool Pg() const { return GetParam() == Driver::kPostgres; }

  // A daily tick table in the layout the tick generators read, with its
  // case-insensitive SymbolTime index, made as the loader makes it.
  void CreateDayTable(TDatabase& db, const std::string& name) {
    const auto driver =
        db.DriverName() == "POSTGRES" ? load::StoreDriver::kPostgres : load::StoreDriver::kSqlite;
    for (const std::string& sql : load::TickTableStatements(name, driver)) db.ExecuteDirect(sql);
  }

  // Adds one tick (date 9 May 2003) through a reused insert statement.
  void AddTick(TDatabase& db, const std::string& table, const std::string& symbol, TDateTime time,
               double price) {
    if (!insert_ || insert_->Database() != &db || insert_table_ != table) {
      insert_ = std::make_unique<TQuery>();
      insert_->SetDatabase(&db);
      insert_->SetSQL("INSERT INTO " + table +
                      " (Date, Time, Symbol, Price, Volume) VALUES (:D, :T, :S, :P, :V)");
      insert_table_ = table;
    }
    insert_->ParamByName("D").SetAsDateTime(EncodeDate(2003, 5, 9));
    insert_->ParamByName("T").SetAsDateTime(time);
    insert_->ParamByName("S").SetAsString(symbol);
    insert_->ParamByName("P").SetAsFloat(price);
    insert_->ParamByName("V").SetAsInteger(100);
    insert_->ExecSQL();
  }

  void TearDown() override { insert_.reset(); }

  morvane::testing::TempDir dir_;
  std::unique_ptr<morvane::testing::ScratchPostgresDb> pg_;
  std::unique_ptr<morvane::testing::ScopedEnv> env_;
  TDatabase db_;
  std::unique_ptr<TQuery> insert_;
  std::string insert_table_;
};

}  // namespace morvane::db::testing

#endif  // MORVANE_TESTS_UNIT_DATA_ENGINE_STORES_H_
