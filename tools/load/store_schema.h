// The stores' tables, indexes and procedures, as statements for each driver.
//
// docs/stores.md describes the same layouts for people who fill the stores
// with other software; the two must change together.
//
// Every statement is idempotent (CREATE ... IF NOT EXISTS, CREATE OR REPLACE
// FUNCTION, INSERT OR REPLACE into the SQLite procedure table), so `init` can
// run against a store that already holds data without touching it.
#ifndef MORVANE_TOOLS_LOAD_STORE_SCHEMA_H_
#define MORVANE_TOOLS_LOAD_STORE_SCHEMA_H_

#include <string>
#include <vector>

#include "data/engine.h"
#include "data/interval_tables.h"

namespace morvane::load {

enum class StoreDriver { kSqlite, kPostgres };

// The four stores, by what they hold.
enum class StoreRole {
  kTicks,   // daily tick tables (alias HISTDATA)
  kDaily,   // DailySymbol, DailyBars, usp_Closing_Price (alias Historical)
  kBars,    // BaseBars, MarketSessions, QueryIntervals, QueryMarketSession (plrdata)
  kOrders,  // symbolTable, IntervalTable60/180/300 (the order database)
};

// The driver behind an open (or openable) database. Raises EDatabaseError.
StoreDriver DriverOf(db::TDatabase* db);

// The statements that create a store's fixed objects. The tick store has none:
// its day tables are made as rows for a day arrive (TickTableStatements).
std::vector<std::string> SchemaStatements(StoreRole role, StoreDriver driver);

// The statements that create one day's tick table and its SymbolTime index.
std::vector<std::string> TickTableStatements(const std::string& table, StoreDriver driver);

// The interval tables' lengths and names are shared with the server.
using morvane::IntervalTableName;
using morvane::kIntervalLengths;

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_STORE_SCHEMA_H_
