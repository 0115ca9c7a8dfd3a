// A process set up for data-module tests, on either driver: a settings file
// and an alias file in a temporary current directory naming the four stores,
// a frozen clock (so the session prefix is known), a fresh session counter,
// the diagnostic log in a temporary file, and writers that fill the stores
// through the loader's documented layouts.
#ifndef MORVANE_TESTS_UNIT_DATA_MODULE_STORES_H_
#define MORVANE_TESTS_UNIT_DATA_MODULE_STORES_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calendar/trading_calendar.h"
#include "data/engine.h"
#include "data/hist_data.h"
#include "data/session_ids.h"
#include "engine_stores.h"
#include "rows.h"
#include "store_schema.h"
#include "support/clock.h"
#include "support/log.h"
#include "support/test_env.h"
#include "table_writer.h"

namespace morvane::testing {

using db::testing::Driver;
using db::testing::DriverLabel;

// 10:45:12 on Wednesday 12 March 2003: session IDs start "104512".
inline TDateTime TestInstant() {
  return EncodeDate(2003, 3, 12) + EncodeTime(10, 45, 12, 0);
}
inline constexpr const char* kTestPrefix = "104512";

// The login of HistSQLDB and PLRDB: the test cluster's role (SQLite ignores
// it). Settings texts start with it when a test reads those stores.
inline constexpr const char* kLogin = "[MORVANE]\nDBUSER=morvane\n";

class ModuleTest : public ::testing::TestWithParam<Driver> {
 protected:
  void SetUp() override {
    if (GetParam() == Driver::kPostgres) {
      if (PostgresConnInfo().empty()) GTEST_SKIP() << "no PostgreSQL test cluster";
      pg_ = std::make_unique<ScratchPostgresDb>();
    }
    cwd_ = std::make_unique<ScopedCwd>(dir_.path());
    WriteSettings(kLogin);
    WriteAliases("omsdata");
    aliases_env_ = std::make_unique<ScopedEnv>("MORVANE_ALIASES", (dir_ / "aliases.ini").c_str());
    SetClockForTesting(&clock_);
    omsLogOpen((dir_ / "test.log").string());
    InitialSessionID();
    // The calendar loads once per process; load it now so that module
    // creation writes only its own log lines.
    ResetCalendarForTesting();
    InitialHolidayList();
  }

  void TearDown() override {
    stores_.clear();
    omsLogClose();
    ResetCalendarForTesting();
    SetClockForTesting(nullptr);
  }

  bool Pg() const { return GetParam() == Driver::kPostgres; }
  load::StoreDriver StoreKind() const {
    return Pg() ? load::StoreDriver::kPostgres : load::StoreDriver::kSqlite;
  }

  void WriteSettings(const std::string& text) { WriteFile(dir_ / "oms.ini", text); }

  // The four stores' aliases; the order database is `order_alias`. On SQLite
  // the tick tables are a directory, the others one file each; on PostgreSQL
  // every store is the one scratch database.
  void WriteAliases(const std::string& order_alias) {
    std::string text;
    const char* const sqlite_paths[][2] = {
        {"HISTDATA", "ticks/"}, {"Historical", "historical.db"}, {"plrdata", "plr.db"}};
    for (const auto& [alias, path] : sqlite_paths) {
      text += std::string("[") + alias + "]\n";
      text += Pg() ? "DRIVER=POSTGRES\nCONNINFO=" + pg_->conninfo() + "\n"
                   : std::string("DRIVER=SQLITE\nPATH=") + path + "\n";
    }
    text += "[" + order_alias + "]\n";
    text += Pg() ? "DRIVER=POSTGRES\nCONNINFO=" + pg_->conninfo() + "\n"
                 : std::string("DRIVER=SQLITE\nPATH=orders.db\n");
    std::filesystem::create_directories(dir_ / "ticks");
    WriteFile(dir_ / "aliases.ini", text);
  }

  // A writable connection to `alias` with the fixed objects of `role` made.
  db::TDatabase& Store(const std::string& alias, load::StoreRole role) {
    auto& slot = stores_[alias];
    if (!slot) {
      slot = std::make_unique<db::TDatabase>();
      slot->SetAliasName(alias);
      slot->SetDatabaseName("Writer" + alias);
      slot->SetCreateStore(true);
      slot->Open();
    }
    for (const std::string& sql : load::SchemaStatements(role, StoreKind()))
      slot->ExecuteDirect(sql);
    return *slot;
  }

  struct Tick {
    std::string symbol;
    TDateTime time;
    double price = 1;
  };
  // Adds ticks to the table of `day`, creating it when missing.
  void AddTicks(TDateTime day, const std::vector<Tick>& ticks) {
    db::TDatabase& db = Store("HISTDATA", load::StoreRole::kTicks);
    load::TickWriter writer(&db, StoreKind());
    for (const Tick& t : ticks) {
      load::TickRow row;
      row.date = day;
      row.time = t.time;
      row.symbol = t.symbol;
      row.price = t.price;
      row.volume = 100;
      writer.Write(row);
    }
    writer.Flush();
  }
  // `n` ticks of `symbol` on `day`, one a second from 09:30:00.
  void AddTickCount(TDateTime day, int n, const std::string& symbol = "0005") {
    std::vector<Tick> ticks;
    for (int i = 0; i < n; ++i) ticks.push_back({symbol, EncodeTime(9, 30, 0, 0) + i / 86400.0});
    AddTicks(day, ticks);
  }

  void AddName(const std::string& code, std::optional<std::string> name_e,
               std::optional<std::string> name_c) {
    load::NameWriter w(&Store("Historical", load::StoreRole::kDaily));
    load::NameRow row;
    row.stock_code = code;
    if (name_e) row.name_e = *name_e;
    if (name_c) row.name_c = *name_c;
    w.Write(row);
  }

  void AddSymbol(const std::string& symbol, std::optional<std::string> is_valid,
                 const std::string& alias = "omsdata") {
    load::SymbolWriter w(&Store(alias, load::StoreRole::kOrders));
    load::SymbolRow row;
    row.symbol = symbol;
    if (is_valid) row.is_valid = *is_valid;
    w.Write(row);
  }

  // The log's lines from line `from` on (0 is the first line of the file).
  std::vector<std::string> LogLines(size_t from = 0) const {
    const std::string text = ReadFile(dir_ / "test.log");
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    return lines.size() > from
               ? std::vector<std::string>(lines.begin() + static_cast<long>(from), lines.end())
               : std::vector<std::string>{};
  }
  size_t LogMark() const { return LogLines().size(); }

  // Members are destroyed in reverse order: the scratch database goes last,
  // after every connection to it.
  std::unique_ptr<ScratchPostgresDb> pg_;
  TempDir dir_;
  std::unique_ptr<ScopedCwd> cwd_;
  std::unique_ptr<ScopedEnv> aliases_env_;
  FrozenClock clock_{TestInstant()};
  std::map<std::string, std::unique_ptr<db::TDatabase>> stores_;
};

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_UNIT_DATA_MODULE_STORES_H_
