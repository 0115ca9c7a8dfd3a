#include "store_schema.h"

namespace morvane::load {
namespace {

// --- SQLite -------------------------------------------------------------
// Dates and times are text in the stores' forms, which sort in time order;
// the declared types (DATE, TIME, DATETIME) tell the engine how to read them.
// Procedures are rows of morvane_procedures: one SELECT with @-named
// parameters each.

const char* const kSqliteProcedureTable =
    "CREATE TABLE IF NOT EXISTS morvane_procedures (name TEXT PRIMARY KEY, body TEXT)";

// @From_Date and @To_Date arrive as "mm/dd/yyyy" text; a caller that binds a
// date-time value instead sends "YYYY-MM-DD...", which is taken as it is.
#define MORVANE_SQLITE_MDY(p)                                                      \
  "CASE WHEN " p " LIKE '__/__/____' THEN substr(" p ", 7, 4) || '-' || substr(" p \
  ", 1, 2) || '-' || substr(" p ", 4, 2) ELSE substr(" p ", 1, 10) END"

const char* const kSqliteClosingPrice =
    "SELECT c_date, stock_code, high, low, closing, shares_traded, turnover FROM DailyBars "
    "WHERE stock_code BETWEEN @From_Symbol AND @To_Symbol "
    "AND c_date BETWEEN " MORVANE_SQLITE_MDY("@From_Date") " AND " MORVANE_SQLITE_MDY(
        "@To_Date") " ORDER BY c_date, stock_code";

#undef MORVANE_SQLITE_MDY

// The bars from @TimeFrom to @TimeTo, preceded by the last @BackCount bars
// before @TimeFrom: the range starts at the earliest of those. Written as one
// SELECT on the table so that the result columns keep their declared types.
const char* const kSqliteQueryIntervals =
    "SELECT TimeBegin, Duration, SeqNo, PriceOpen, PriceHigh, PriceLow, PriceClose, Volume "
    "FROM BaseBars WHERE Symbol = @Symbol AND (@Interval IS NULL OR Duration = @Interval) "
    "AND TimeBegin <= @TimeTo AND TimeBegin >= coalesce((SELECT min(TimeBegin) FROM "
    "(SELECT TimeBegin FROM BaseBars WHERE Symbol = @Symbol "
    "AND (@Interval IS NULL OR Duration = @Interval) AND TimeBegin < @TimeFrom "
    "ORDER BY TimeBegin DESC LIMIT max(coalesce(@BackCount, 0), 0))), @TimeFrom) "
    "ORDER BY TimeBegin";

const char* const kSqliteQueryMarketSession =
    "SELECT TimeOpen, TimeClose FROM MarketSessions WHERE Symbol = @Symbol ORDER BY TimeOpen";

std::string SqliteProcedure(const char* name, const char* body) {
  std::string sql = "INSERT OR REPLACE INTO morvane_procedures (name, body) VALUES ('";
  sql += name;
  sql += "', '";
  for (const char* p = body; *p != '\0'; ++p) {
    if (*p == '\'') sql += '\'';
    sql += *p;
  }
  sql += "')";
  return sql;
}

std::vector<std::string> SqliteSchema(StoreRole role) {
  switch (role) {
    case StoreRole::kTicks:
      return {};
    case StoreRole::kDaily:
      return {
          "CREATE TABLE IF NOT EXISTS DailySymbol (Stock_code VARCHAR(15) NOT NULL, "
          "name_e VARCHAR(50), name_c VARCHAR(50))",
          "CREATE INDEX IF NOT EXISTS DailySymbol_Stock_code ON DailySymbol (Stock_code)",
          "CREATE TABLE IF NOT EXISTS DailyBars (c_date DATE NOT NULL, stock_code VARCHAR(15) "
          "NOT NULL, high DOUBLE, low DOUBLE, closing DOUBLE, shares_traded DOUBLE, "
          "turnover DOUBLE)",
          "CREATE INDEX IF NOT EXISTS DailyBars_stock_code ON DailyBars (stock_code, c_date)",
          kSqliteProcedureTable,
          SqliteProcedure("usp_Closing_Price", kSqliteClosingPrice),
      };
    case StoreRole::kBars:
      return {
          "CREATE TABLE IF NOT EXISTS BaseBars (Symbol VARCHAR(15) NOT NULL, TimeBegin DATETIME "
          "NOT NULL, Duration INTEGER, SeqNo INTEGER, PriceOpen DOUBLE, PriceHigh DOUBLE, "
          "PriceLow DOUBLE, PriceClose DOUBLE, Volume DOUBLE)",
          "CREATE INDEX IF NOT EXISTS BaseBars_Symbol ON BaseBars (Symbol, TimeBegin)",
          "CREATE TABLE IF NOT EXISTS MarketSessions (Symbol VARCHAR(15) NOT NULL, "
          "TimeOpen TIME NOT NULL, TimeClose TIME NOT NULL)",
          "CREATE INDEX IF NOT EXISTS MarketSessions_Symbol ON MarketSessions (Symbol, TimeOpen)",
          kSqliteProcedureTable,
          SqliteProcedure("QueryIntervals", kSqliteQueryIntervals),
          SqliteProcedure("QueryMarketSession", kSqliteQueryMarketSession),
      };
    case StoreRole::kOrders: {
      std::vector<std::string> s = {
          "CREATE TABLE IF NOT EXISTS symbolTable (symbol VARCHAR(15) NOT NULL, "
          "isValid VARCHAR(1))",
          "CREATE INDEX IF NOT EXISTS symbolTable_symbol ON symbolTable (symbol)",
      };
      for (int len : kIntervalLengths) {
        const std::string t = IntervalTableName(len);
        // Date is text "yyyy/mm/dd": the reader selects with exactly that text.
        s.push_back("CREATE TABLE IF NOT EXISTS " + t +
                    " (Symbol VARCHAR(15) NOT NULL, Date VARCHAR(10) NOT NULL, Time TIME NOT NULL, "
                    "Open DOUBLE, High DOUBLE, Low DOUBLE, Close DOUBLE, Volume DOUBLE)");
        s.push_back("CREATE INDEX IF NOT EXISTS " + t + "_Symbol ON " + t +
                    " (Symbol, Date, Time)");
      }
      return s;
    }
  }
  return {};
}

// --- PostgreSQL -----------------------------------------------------------
// Names are unquoted, so they fold to lower case as the system's own
// unquoted SQL does. Procedures are set-returning SQL functions called with
// named parameters; every parameter defaults to null.

const char* const kPgClosingPrice =
    "CREATE OR REPLACE FUNCTION usp_Closing_Price(From_Symbol text DEFAULT NULL, "
    "To_Symbol text DEFAULT NULL, From_Date text DEFAULT NULL, To_Date text DEFAULT NULL, "
    "Adj integer DEFAULT NULL) "
    "RETURNS TABLE (c_date date, stock_code varchar, high double precision, "
    "low double precision, closing double precision, shares_traded double precision, "
    "turnover double precision) LANGUAGE sql STABLE AS $fn$ "
    "SELECT d.c_date, d.stock_code, d.high, d.low, d.closing, d.shares_traded, d.turnover "
    "FROM DailyBars d WHERE d.stock_code BETWEEN $1 AND $2 "
    "AND d.c_date BETWEEN morvane_mdy_date($3) AND morvane_mdy_date($4) "
    "ORDER BY d.c_date, d.stock_code $fn$";

// "mm/dd/yyyy" as the daily reader sends it, independent of DateStyle;
// anything else is cast as PostgreSQL reads dates.
const char* const kPgMdyDate =
    "CREATE OR REPLACE FUNCTION morvane_mdy_date(t text) RETURNS date LANGUAGE sql IMMUTABLE AS "
    "$fn$ SELECT CASE WHEN $1 ~ '^[0-9]{2}/[0-9]{2}/[0-9]{4}$' "
    "THEN to_date($1, 'MM/DD/YYYY') ELSE $1::date END $fn$";

const char* const kPgQueryIntervals =
    "CREATE OR REPLACE FUNCTION QueryIntervals(Symbol text DEFAULT NULL, "
    "\"interval\" integer DEFAULT NULL, TimeFrom timestamp DEFAULT NULL, "
    "TimeTo timestamp DEFAULT NULL, BackCount integer DEFAULT NULL) "
    "RETURNS TABLE (TimeBegin timestamp, Duration integer, SeqNo integer, "
    "PriceOpen double precision, PriceHigh double precision, PriceLow double precision, "
    "PriceClose double precision, Volume double precision) LANGUAGE sql STABLE AS $fn$ "
    "SELECT b.TimeBegin, b.Duration, b.SeqNo, b.PriceOpen, b.PriceHigh, b.PriceLow, "
    "b.PriceClose, b.Volume FROM BaseBars b WHERE b.Symbol = $1 "
    "AND ($2 IS NULL OR b.Duration = $2) AND b.TimeBegin <= $4 "
    "AND b.TimeBegin >= coalesce((SELECT min(p.TimeBegin) FROM (SELECT e.TimeBegin "
    "FROM BaseBars e WHERE e.Symbol = $1 AND ($2 IS NULL OR e.Duration = $2) "
    "AND e.TimeBegin < $3 ORDER BY e.TimeBegin DESC LIMIT greatest(coalesce($5, 0), 0)) p), $3) "
    "ORDER BY b.TimeBegin $fn$";

const char* const kPgQueryMarketSession =
    "CREATE OR REPLACE FUNCTION QueryMarketSession(Symbol text DEFAULT NULL) "
    "RETURNS TABLE (TimeOpen time, TimeClose time) LANGUAGE sql STABLE AS $fn$ "
    "SELECT s.TimeOpen, s.TimeClose FROM MarketSessions s WHERE s.Symbol = $1 "
    "ORDER BY s.TimeOpen $fn$";

// Case-insensitive, accent-sensitive comparison of product codes (ICU,
// which Debian's server is built with).
const char* const kPgNoCaseCollation =
    "CREATE COLLATION IF NOT EXISTS morvane_nocase (provider = icu, "
    "locale = 'und-u-ks-level2', deterministic = false)";

std::vector<std::string> PgSchema(StoreRole role) {
  switch (role) {
    case StoreRole::kTicks:
      return {kPgNoCaseCollation};
    case StoreRole::kDaily:
      return {
          "CREATE TABLE IF NOT EXISTS DailySymbol (Stock_code varchar(15) NOT NULL, "
          "name_e varchar(50), name_c varchar(50))",
          "CREATE INDEX IF NOT EXISTS DailySymbol_Stock_code ON DailySymbol (Stock_code)",
          "CREATE TABLE IF NOT EXISTS DailyBars (c_date date NOT NULL, stock_code varchar(15) "
          "NOT NULL, high double precision, low double precision, closing double precision, "
          "shares_traded double precision, turnover double precision)",
          "CREATE INDEX IF NOT EXISTS DailyBars_stock_code ON DailyBars (stock_code, c_date)",
          kPgMdyDate,
          kPgClosingPrice,
      };
    case StoreRole::kBars:
      return {
          "CREATE TABLE IF NOT EXISTS BaseBars (Symbol varchar(15) NOT NULL, TimeBegin "
          "timestamp(3) "
          "NOT NULL, Duration integer, SeqNo integer, PriceOpen double precision, "
          "PriceHigh double precision, PriceLow double precision, PriceClose double precision, "
          "Volume double precision)",
          "CREATE INDEX IF NOT EXISTS BaseBars_Symbol ON BaseBars (Symbol, TimeBegin)",
          "CREATE TABLE IF NOT EXISTS MarketSessions (Symbol varchar(15) NOT NULL, "
          "TimeOpen time(3) NOT NULL, TimeClose time(3) NOT NULL)",
          "CREATE INDEX IF NOT EXISTS MarketSessions_Symbol ON MarketSessions (Symbol, TimeOpen)",
          kPgQueryIntervals,
          kPgQueryMarketSession,
      };
    case StoreRole::kOrders: {
      std::vector<std::string> s = {
          "CREATE TABLE IF NOT EXISTS symbolTable (symbol varchar(15) NOT NULL, "
          "isValid varchar(1))",
          "CREATE INDEX IF NOT EXISTS symbolTable_symbol ON symbolTable (symbol)",
      };
      for (int len : kIntervalLengths) {
        const std::string t = IntervalTableName(len);
        s.push_back("CREATE TABLE IF NOT EXISTS " + t +
                    " (Symbol varchar(15) NOT NULL, Date varchar(10) NOT NULL, Time time(0) NOT "
                    "NULL, Open double precision, High double precision, Low double precision, "
                    "Close double precision, Volume double precision)");
        s.push_back("CREATE INDEX IF NOT EXISTS " + t + "_Symbol ON " + t +
                    " (Symbol, Date, Time)");
      }
      return s;
    }
  }
  return {};
}

}  // namespace

StoreDriver DriverOf(db::TDatabase* db) {
  return db->DriverName() == "POSTGRES" ? StoreDriver::kPostgres : StoreDriver::kSqlite;
}

std::vector<std::string> SchemaStatements(StoreRole role, StoreDriver driver) {
  return driver == StoreDriver::kSqlite ? SqliteSchema(role) : PgSchema(role);
}

std::vector<std::string> TickTableStatements(const std::string& table, StoreDriver driver) {
  if (driver == StoreDriver::kSqlite) {
    // The index is named "<table>_SymbolTime" so that day tables can share one
    // database file; the engine accepts that name for the index SymbolTime.
    return {
        "CREATE TABLE IF NOT EXISTS " + table +
            " (ID INTEGER PRIMARY KEY, Date DATE NOT NULL, Time TIME NOT NULL, "
            "Symbol VARCHAR(15) NOT NULL, Bid DOUBLE, Offer DOUBLE, Price DOUBLE, "
            "BidSize DOUBLE, Volume DOUBLE, OfferSize DOUBLE)",
        "CREATE INDEX IF NOT EXISTS " + table + "_SymbolTime ON " + table +
            " (Symbol COLLATE NOCASE, Time)",
    };
  }
  // The engine reads a table in the order of its index's plain columns; a
  // case-insensitive collation on Symbol makes that order, and the seek on
  // it, ignore letter case as SymbolTime must. ID keeps rows of one product
  // and time in the order they were written.
  return {
      kPgNoCaseCollation,
      "CREATE TABLE IF NOT EXISTS " + table +
          " (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, Date date NOT NULL, "
          "Time time(3) NOT NULL, Symbol varchar(15) COLLATE morvane_nocase NOT NULL, "
          "Bid double precision, Offer double precision, Price double precision, "
          "BidSize double precision, Volume double precision, OfferSize double precision)",
      "CREATE INDEX IF NOT EXISTS " + table + "_SymbolTime ON " + table + " (Symbol, Time, ID)",
  };
}

}  // namespace morvane::load
