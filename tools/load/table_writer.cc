#include "table_writer.h"

#include "data/alias_file.h"
#include "data/day_tables.h"
#include "data/store_text.h"

namespace morvane::load {

TableWriter::TableWriter(db::TDatabase* db, std::string_view table,
                         const std::vector<std::string_view>& columns, size_t rows) {
  // One row's parameters are named as its columns; several rows' are
  // numbered after them (":Date_0", ":Date_1", ...).
  const auto name = [&](size_t k, std::string_view column) {
    std::string n(column);
    if (rows > 1) n += "_" + std::to_string(k);
    return n;
  };
  std::string sql = "INSERT INTO ";
  sql.append(table);
  sql += " (";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) sql += ", ";
    sql.append(columns[i]);
  }
  sql += ") VALUES ";
  for (size_t k = 0; k < rows; ++k) {
    sql += k == 0 ? "(" : ", (";
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i != 0) sql += ", ";
      sql += ':' + name(k, columns[i]);
    }
    sql += ")";
  }
  query_.SetDatabase(db);
  query_.SetSQL(std::move(sql));
  for (size_t k = 0; k < rows; ++k) {
    for (std::string_view c : columns) params_.push_back(&query_.ParamByName(name(k, c)));
  }
}

void TableWriter::OptText(size_t i, const std::optional<std::string_view>& v) {
  if (v) {
    params_[i]->SetAsString(*v);
  } else {
    params_[i]->Clear();
  }
}

void TableWriter::Number(size_t i, const OptNum& v) {
  if (v) {
    params_[i]->SetAsFloat(*v);
  } else {
    params_[i]->Clear();
  }
}

void TableWriter::Integer(size_t i, const std::optional<int64_t>& v) {
  if (v) {
    params_[i]->SetAsInteger(*v);
  } else {
    params_[i]->Clear();
  }
}

void TableWriter::Date(size_t i, TDateTime day) {
  char buf[db::kStoreTextMax];
  params_[i]->SetAsString(std::string_view(buf, db::FormatStoreDate(buf, day)));
}

void TableWriter::Time(size_t i, TDateTime time_of_day) {
  char buf[db::kStoreTextMax];
  params_[i]->SetAsString(std::string_view(buf, db::FormatStoreTime(buf, time_of_day)));
}

void TableWriter::DateTime(size_t i, TDateTime v) {
  // The form the engine binds date-time parameters in (the date alone at
  // midnight), so that the stores' text comparisons agree with it.
  char buf[db::kStoreTextMax];
  params_[i]->SetAsString(std::string_view(buf, db::FormatStoreDateTime(buf, v)));
}

void TableWriter::SlashedDate(size_t i, TDateTime day) {
  char buf[db::kStoreTextMax];
  params_[i]->SetAsString(std::string_view(buf, FormatYmdSlashed(buf, day)));
}

void TableWriter::Execute() {
  query_.ExecSQL();
}

TickWriter::TickWriter(db::TDatabase* db, StoreDriver driver,
                       std::vector<std::filesystem::path>* new_files,
                       std::function<void(const std::string& table)> on_new_table)
    : db_(db), driver_(driver), new_files_(new_files), on_new_table_(std::move(on_new_table)) {
  if (driver_ == StoreDriver::kSqlite) {
    const db::AliasConfig alias = db::LookUpAlias(db->AliasName());
    if (alias.directory) directory_ = alias.path;
  }
}

void TickWriter::Bind(TableWriter& w, size_t first, const TickRow& row) {
  w.Date(first + 0, row.date);
  w.Time(first + 1, row.time);
  w.Text(first + 2, row.symbol);
  w.Number(first + 3, row.bid);
  w.Number(first + 4, row.offer);
  w.Number(first + 5, row.price);
  w.Number(first + 6, row.bid_size);
  w.Number(first + 7, row.volume);
  w.Number(first + 8, row.offer_size);
}

void TickWriter::WriteBatch(Day& day) {
  db_->CopyRows(day.table, kColumns, day.held);
  day.held.Clear();
}

void TickWriter::Write(const TickRow& row) {
  if (last_ == nullptr || row.date != last_day_) {
    const std::string table = GetFileName(row.date);
    auto it = days_.find(table);
    if (it == days_.end()) {
      if (!directory_.empty() && new_files_ != nullptr) {
        const std::filesystem::path file = directory_ / (table + ".db");
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) new_files_->push_back(file);
      }
      Day day;
      day.table = table;
      std::vector<std::string> statements = TickTableStatements(table, driver_);
      if (driver_ == StoreDriver::kSqlite && !TableExists(table)) {
        day.index = std::move(statements.back());
        statements.pop_back();
      }
      for (const std::string& sql : statements) db_->ExecuteDirect(sql);
      if (on_new_table_) on_new_table_(table);
      if (driver_ != StoreDriver::kPostgres) {
        day.one = std::make_unique<TableWriter>(db_, table, kColumns);
      }
      it = days_.emplace(table, std::move(day)).first;
    }
    last_ = &it->second;
    last_day_ = row.date;
  }
  Day& day = *last_;
  if (day.one) {
    Bind(*day.one, 0, row);
    day.one->Execute();
    return;
  }
  char buf[db::kStoreTextMax];
  db::TCopyRows& held = day.held;
  held.Text(std::string_view(buf, db::FormatStoreDate(buf, row.date)));
  held.Text(std::string_view(buf, db::FormatStoreTime(buf, row.time)));
  held.Text(row.symbol);
  for (const OptNum* v :
       {&row.bid, &row.offer, &row.price, &row.bid_size, &row.volume, &row.offer_size}) {
    if (*v) {
      held.Float(**v);
    } else {
      held.Null();
    }
  }
  held.EndRow();
  if (held.Rows() == kBatch) WriteBatch(day);
}

void TickWriter::Flush() {
  for (auto& [table, day] : days_) {
    WriteBatch(day);
    if (!day.index.empty()) db_->ExecuteDirect(day.index);
    day.index.clear();
  }
}

bool TickWriter::TableExists(const std::string& table) {
  db::TTable t;
  t.SetDatabase(db_);
  t.SetTableName(table);
  return t.Exists();
}

void RemoveDayFiles(const std::vector<std::filesystem::path>& new_files) noexcept {
  for (const auto& f : new_files) {
    std::error_code ec;
    std::filesystem::remove(f, ec);
    std::filesystem::remove(f.string() + "-journal", ec);
  }
}

NameWriter::NameWriter(db::TDatabase* db) : w_(db, "DailySymbol", kColumns) {}

void NameWriter::Write(const NameRow& row) {
  w_.Text(0, row.stock_code);
  w_.OptText(1, row.name_e);
  w_.OptText(2, row.name_c);
  w_.Execute();
}

DailyBarWriter::DailyBarWriter(db::TDatabase* db) : w_(db, "DailyBars", kColumns) {}

void DailyBarWriter::Write(const DailyBarRow& row) {
  w_.Date(0, row.c_date);
  w_.Text(1, row.stock_code);
  w_.Number(2, row.high);
  w_.Number(3, row.low);
  w_.Number(4, row.closing);
  w_.Number(5, row.shares_traded);
  w_.Number(6, row.turnover);
  w_.Execute();
}

BaseBarWriter::BaseBarWriter(db::TDatabase* db) : w_(db, "BaseBars", kColumns) {}

void BaseBarWriter::Write(const BaseBarRow& row) {
  w_.Text(0, row.symbol);
  w_.DateTime(1, row.time_begin);
  w_.Integer(2, row.duration);
  w_.Integer(3, row.seq_no);
  w_.Number(4, row.price_open);
  w_.Number(5, row.price_high);
  w_.Number(6, row.price_low);
  w_.Number(7, row.price_close);
  w_.Number(8, row.volume);
  w_.Execute();
}

SessionWriter::SessionWriter(db::TDatabase* db) : w_(db, "MarketSessions", kColumns) {}

void SessionWriter::Write(const SessionRow& row) {
  w_.Text(0, row.symbol);
  w_.Time(1, row.time_open);
  w_.Time(2, row.time_close);
  w_.Execute();
}

SymbolWriter::SymbolWriter(db::TDatabase* db) : w_(db, "symbolTable", kColumns) {}

void SymbolWriter::Write(const SymbolRow& row) {
  w_.Text(0, row.symbol);
  w_.OptText(1, row.is_valid);
  w_.Execute();
}

IntervalWriter::IntervalWriter(db::TDatabase* db, int seconds)
    : w_(db, IntervalTableName(seconds), kColumns) {}

void IntervalWriter::Write(const IntervalRow& row) {
  w_.Text(0, row.symbol);
  w_.SlashedDate(1, row.date);
  w_.Time(2, row.time);
  w_.Number(3, row.open);
  w_.Number(4, row.high);
  w_.Number(5, row.low);
  w_.Number(6, row.close);
  w_.Number(7, row.volume);
  w_.Execute();
}

}  // namespace morvane::load
