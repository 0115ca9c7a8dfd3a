// Writing rows into the stores' tables through the engine layer.
//
// Each writer holds one prepared INSERT (TQuery::ExecSQL prepares it once
// and reuses it for every row), so writing a row costs binding its values
// and one statement step. Writers do not start or end transactions; the
// caller brackets a file's rows in one (see loaders.h).
//
// Dates and times are bound as the stores' text forms (data/store_text.h),
// which both drivers take: SQLite keeps the text, PostgreSQL converts it to
// its date and time types.
//
// Not thread-safe; a writer is used by the thread that owns its database.
#ifndef MORVANE_TOOLS_LOAD_TABLE_WRITER_H_
#define MORVANE_TOOLS_LOAD_TABLE_WRITER_H_

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine.h"
#include "rows.h"
#include "store_schema.h"

namespace morvane::load {

// One prepared INSERT into `table` naming `columns` in order, of `rows`
// rows at once: value i of row k is parameter k * columns.size() + i.
class TableWriter {
 public:
  TableWriter(db::TDatabase* db, std::string_view table,
              const std::vector<std::string_view>& columns, size_t rows = 1);

  void Text(size_t i, std::string_view v) { params_[i]->SetAsString(v); }
  void OptText(size_t i, const std::optional<std::string_view>& v);
  void Number(size_t i, const OptNum& v);
  void Integer(size_t i, const std::optional<int64_t>& v);
  void Date(size_t i, TDateTime day);          // "YYYY-MM-DD"
  void Time(size_t i, TDateTime time_of_day);  // "HH:MM:SS[.fff]"
  void DateTime(size_t i, TDateTime v);        // "YYYY-MM-DD HH:MM:SS[.fff]"
  void SlashedDate(size_t i, TDateTime day);   // "yyyy/mm/dd"
  // Runs the INSERT with the values bound since the last Execute.
  void Execute();

 private:
  db::TQuery query_;
  std::vector<db::TParam*> params_;
};

// Writes ticks into the daily tick tables, creating a day's table (and its
// index) the first time a row of that day arrives. Keeps one prepared INSERT
// per day seen, so a file that interleaves days stays fast.
//
// In a SQLite directory store each day table is its own file. A rolled-back
// CREATE TABLE leaves its new file behind, empty; when `new_files` is given,
// the writer adds to it every table file it caused to be created, so that the
// caller can remove them after a rollback (RemoveDayFiles).
//
// `on_new_table`, when given, runs once per day seen this run, after that
// day's CREATE statements and before its first row, with the table's name.
//
// A SQLite day table this run creates gets its SymbolTime index at Flush(),
// once its rows are in: built from the sorted rows at once, the index costs
// a fraction of keeping it in order row by row (the ticks of a day arrive in
// time order, so each row lands elsewhere in it). The whole load is one
// transaction, so no reader ever sees the table without it.
//
// Into PostgreSQL the rows of each day go kBatch at a time in one bulk
// transfer (COPY), since each statement costs a round trip to the server: a
// row reaches the table at the latest when Flush() runs, which must precede
// the commit. (A row the server refuses is then reported at the end of its
// batch.)
class TickWriter {
 public:
  // The table's columns in the order the CSV header names them.
  inline static const std::vector<std::string_view> kColumns = {
      "Date", "Time", "Symbol", "Bid", "Offer", "Price", "BidSize", "Volume", "OfferSize"};

  TickWriter(db::TDatabase* db, StoreDriver driver,
             std::vector<std::filesystem::path>* new_files = nullptr,
             std::function<void(const std::string& table)> on_new_table = {});
  void Write(const TickRow& row);
  // Writes the rows still held. Requires: before the transaction commits.
  void Flush();

  static constexpr size_t kBatch = 16384;

 private:
  // One day table's writer and the rows waiting for its next batch.
  struct Day {
    std::string table;
    std::unique_ptr<TableWriter> one;  // a row at a time (SQLite)
    db::TCopyRows held;                // the next batch (PostgreSQL)
    std::string index;                 // made at Flush (a new SQLite table)
  };
  static void Bind(TableWriter& w, size_t first, const TickRow& row);
  bool TableExists(const std::string& table);
  void WriteBatch(Day& day);

  db::TDatabase* db_;
  StoreDriver driver_;
  std::filesystem::path directory_;  // a SQLite directory store, else empty
  std::vector<std::filesystem::path>* new_files_;
  std::function<void(const std::string&)> on_new_table_;
  TDateTime last_day_ = 0;
  Day* last_ = nullptr;  // the table of last_day_; null before the first row
  std::map<std::string, Day> days_;
};

// Removes the day files a TickWriter listed in `new_files`, with their
// journals. Call it after the rollback, once the connection is closed (so
// that it has let go of them). Never throws.
void RemoveDayFiles(const std::vector<std::filesystem::path>& new_files) noexcept;

// Writers of the other tables, one per row kind. Each kColumns lists its
// table's columns in the order the CSV header names them.
class NameWriter {
 public:
  inline static const std::vector<std::string_view> kColumns = {"Stock_code", "name_e", "name_c"};

  explicit NameWriter(db::TDatabase* db);
  void Write(const NameRow& row);

 private:
  TableWriter w_;
};

class DailyBarWriter {
 public:
  inline static const std::vector<std::string_view> kColumns = {
      "c_date", "stock_code", "high", "low", "closing", "shares_traded", "turnover"};

  explicit DailyBarWriter(db::TDatabase* db);
  void Write(const DailyBarRow& row);

 private:
  TableWriter w_;
};

class BaseBarWriter {
 public:
  inline static const std::vector<std::string_view> kColumns = {
      "Symbol",    "TimeBegin", "Duration",   "SeqNo", "PriceOpen",
      "PriceHigh", "PriceLow",  "PriceClose", "Volume"};

  explicit BaseBarWriter(db::TDatabase* db);
  void Write(const BaseBarRow& row);

 private:
  TableWriter w_;
};

class SessionWriter {
 public:
  inline static const std::vector<std::string_view> kColumns = {"Symbol", "TimeOpen", "TimeClose"};

  explicit SessionWriter(db::TDatabase* db);
  void Write(const SessionRow& row);

 private:
  TableWriter w_;
};

class SymbolWriter {
 public:
  inline static const std::vector<std::string_view> kColumns = {"symbol", "isValid"};

  explicit SymbolWriter(db::TDatabase* db);
  void Write(const SymbolRow& row);

 private:
  TableWriter w_;
};

// IntervalTable60, IntervalTable180 or IntervalTable300 by `seconds`.
class IntervalWriter {
 public:
  inline static const std::vector<std::string_view> kColumns = {
      "Symbol", "Date", "Time", "Open", "High", "Low", "Close", "Volume"};

  IntervalWriter(db::TDatabase* db, int seconds);
  void Write(const IntervalRow& row);

 private:
  TableWriter w_;
};

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_TABLE_WRITER_H_
