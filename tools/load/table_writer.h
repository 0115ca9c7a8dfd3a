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
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine.h"
#include "rows.h"
#include "store_schema.h"

namespace morvane::load {

// One prepared INSERT into `table` naming `columns` in order.
class TableWriter {
 public:
  TableWriter(db::TDatabase* db, std::string_view table,
              const std::vector<std::string_view>& columns);

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
// caller can remove them after a rollback.
class TickWriter {
 public:
  TickWriter(db::TDatabase* db, StoreDriver driver,
             std::vector<std::filesystem::path>* new_files = nullptr);
  void Write(const TickRow& row);
  // The days written so far, as table names, in first-seen order.
  const std::vector<std::string>& Tables() const { return order_; }

 private:
  db::TDatabase* db_;
  StoreDriver driver_;
  std::filesystem::path directory_;  // a SQLite directory store, else empty
  std::vector<std::filesystem::path>* new_files_;
  TDateTime last_day_ = -1e9;
  TableWriter* last_ = nullptr;
  std::map<std::string, std::unique_ptr<TableWriter>> days_;
  std::vector<std::string> order_;
};

// Writers of the other tables, one per row kind.
class NameWriter {
 public:
  explicit NameWriter(db::TDatabase* db);
  void Write(const NameRow& row);

 private:
  TableWriter w_;
};

class DailyBarWriter {
 public:
  explicit DailyBarWriter(db::TDatabase* db);
  void Write(const DailyBarRow& row);

 private:
  TableWriter w_;
};

class BaseBarWriter {
 public:
  explicit BaseBarWriter(db::TDatabase* db);
  void Write(const BaseBarRow& row);

 private:
  TableWriter w_;
};

class SessionWriter {
 public:
  explicit SessionWriter(db::TDatabase* db);
  void Write(const SessionRow& row);

 private:
  TableWriter w_;
};

class SymbolWriter {
 public:
  explicit SymbolWriter(db::TDatabase* db);
  void Write(const SymbolRow& row);

 private:
  TableWriter w_;
};

// IntervalTable60, IntervalTable180 or IntervalTable300 by `seconds`.
class IntervalWriter {
 public:
  IntervalWriter(db::TDatabase* db, int seconds);
  void Write(const IntervalRow& row);

 private:
  TableWriter w_;
};

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_TABLE_WRITER_H_
