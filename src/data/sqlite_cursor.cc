// The SQLite driver's cursors and prepared statements: reading rows into
// fields and seeking along an index.
#include "data/sqlite_cursor.h"

#include <cmath>

#include "data/sqlite_driver.h"
#include "data/store_text.h"
#include "records/number_text.h"
#include "support/ascii_text.h"

namespace morvane::db::sqlite {

std::string Quote(std::string_view ident) {
  std::string q = "\"";
  for (char c : ident) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

[[noreturn]] void Fail(const std::string& alias, sqlite3* db, const std::string& what) {
  throw EDatabaseError(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory") +
                       " (alias '" + alias + "')");
}

Stmt::~Stmt() {
  if (s == nullptr) return;
  if (home == nullptr || home->idle.size() >= kMaxIdleStatements) {
    sqlite3_finalize(s);
    return;
  }
  // Bound text may point into memory that is about to go.
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  home->idle.push_back({std::move(sql), s});
}

void PrepareStmt(const std::string& alias, const DbPtr& db, const std::string& sql, Stmt* out,
                 StmtLife life) {
  if (life == StmtLife::kKept) {
    out->home = db.get();
    std::vector<IdleStmt>& idle = db->idle;
    for (auto it = idle.rbegin(); it != idle.rend(); ++it) {
      if (it->sql != sql) continue;
      out->sql = std::move(it->sql);
      out->s = it->s;
      idle.erase(std::next(it).base());
      return;
    }
    out->sql = sql;
  }
  const unsigned flags = life == StmtLife::kKept ? SQLITE_PREPARE_PERSISTENT : 0;
  if (sqlite3_prepare_v3(db->handle, sql.c_str(), static_cast<int>(sql.size()), flags, &out->s,
                         nullptr) != SQLITE_OK) {
    Fail(alias, db->handle, "Invalid statement \"" + sql + "\"");
  }
  if (out->s == nullptr) throw EDatabaseError("Empty statement (alias '" + alias + "')");
}

namespace {

std::string Collate(const IndexColumn& k) {
  if (k.collation.empty() || EqualsIgnoringCase(k.collation, "BINARY")) return {};
  return " COLLATE " + k.collation;
}

std::string OrderBy(const std::vector<IndexColumn>& key,
                    SeekDirection direction = SeekDirection::kForward) {
  const char* const desc = direction == SeekDirection::kBackward ? " DESC" : "";
  std::string order;
  for (const IndexColumn& k : key)
    order += (order.empty() ? " ORDER BY " : ", ") + Quote(k.name) + Collate(k) + desc;
  return order;
}

void BindParam(sqlite3_stmt* s, int i, const TParam& p) {
  const TParam::Value& v = p.GetValue();
  switch (v.index()) {
    case 0:
      sqlite3_bind_null(s, i);
      break;
    case 1: {
      const std::string& t = std::get<1>(v);
      // The parameter outlives the step that reads it.
      sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
      break;
    }
    case 2:
      sqlite3_bind_int64(s, i, std::get<2>(v));
      break;
    case 3:
      sqlite3_bind_double(s, i, std::get<3>(v));
      break;
    default: {
      char buf[kStoreTextMax];
      char* end = FormatStoreDateTime(buf, std::get<4>(v));
      sqlite3_bind_text(s, i, buf, static_cast<int>(end - buf), SQLITE_TRANSIENT);
      break;
    }
  }
}

// Binds params[i - 1] to parameter i of `s`; parameters past the end of
// `params` are null.
void BindPositional(sqlite3_stmt* s, std::span<const TParam> params) {
  const int n = sqlite3_bind_parameter_count(s);
  for (int i = 1; i <= n; ++i) {
    if (i <= static_cast<int>(params.size())) {
      BindParam(s, i, params[static_cast<size_t>(i - 1)]);
    } else {
      sqlite3_bind_null(s, i);
    }
  }
}

void ReadDynamic(sqlite3_stmt* s, int i, TField* f);

// Writes column `i` of the current row into `f` by the field's kind.
void ReadColumn(sqlite3_stmt* s, int i, TField* f) {
  const int kind = sqlite3_column_type(s, i);
  if (kind == SQLITE_NULL) {
    f->SetNull();
    return;
  }
  switch (f->DataType()) {
    case FieldType::kText: {
      if (kind == SQLITE_FLOAT) {
        // A floating value in a text column reads in the one stored text form
        // of floats, not in SQLite's own ("1.0e-05").
        char text[kNumberTextCapacity];
        const char* end = FormatStoredFloat(text, sqlite3_column_double(s, i));
        f->SetText(std::string_view(text, static_cast<size_t>(end - text)));
        return;
      }
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
      f->SetText(std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(s, i))));
      return;
    }
    case FieldType::kInteger:
      if (kind == SQLITE_FLOAT) {
        f->SetInteger(std::llround(sqlite3_column_double(s, i)));
      } else {
        f->SetInteger(sqlite3_column_int64(s, i));
      }
      return;
    case FieldType::kFloat:
      f->SetFloat(sqlite3_column_double(s, i));
      return;
    case FieldType::kDate:
    case FieldType::kTime:
    case FieldType::kDateTime: {
      if (kind == SQLITE_INTEGER || kind == SQLITE_FLOAT) {
        f->SetDateTime(sqlite3_column_double(s, i));  // a day number
        return;
      }
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
      const std::string_view text(p, static_cast<size_t>(sqlite3_column_bytes(s, i)));
      TDateTime v = 0;
      if (!ParseStoreDateTime(text, &v)) {
        throw EDatabaseError("Invalid date or time '" + std::string(text) + "' in column '" +
                             f->FieldName() + "'");
      }
      f->SetDateTime(v);
      return;
    }
    case FieldType::kUnknown:
      break;
  }
  ReadDynamic(s, i, f);
}

// A column of no known kind: the value's own kind decides, row by row.
void ReadDynamic(sqlite3_stmt* s, int i, TField* f) {
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_NULL:
      f->SetNull();
      return;
    case SQLITE_INTEGER:
      f->SetType(FieldType::kInteger);
      break;
    case SQLITE_FLOAT:
      f->SetType(FieldType::kFloat);
      break;
    default:
      f->SetType(FieldType::kText);
      break;
  }
  ReadColumn(s, i, f);
}

// Rows of one prepared SELECT; tables add the index seek.
class SqliteCursor : public Cursor {
 public:
  SqliteCursor(std::string alias, DbPtr db) : alias_(std::move(alias)), db_(std::move(db)) {}

  const std::vector<ColumnInfo>& Columns() const override { return *columns_; }

  bool Fetch(std::span<TField* const> fields) override {
    if (done_) return false;
    const int rc = sqlite3_step(current_);
    if (rc == SQLITE_DONE) {
      done_ = true;
      return false;
    }
    if (rc != SQLITE_ROW) Fail(alias_, db_->handle, "Cannot read the next row");
    const size_t n = fields.size();
    if (dynamic_.size() != n) {
      // Fields that neither the store nor the caller typed follow the values.
      dynamic_.resize(n);
      for (size_t i = 0; i < n; ++i) dynamic_[i] = fields[i]->DataType() == FieldType::kUnknown;
    }
    for (size_t i = 0; i < n; ++i) {
      const int col = static_cast<int>(i);
      if (dynamic_[i]) {
        ReadDynamic(current_, col, fields[i]);
      } else {
        ReadColumn(current_, col, fields[i]);
      }
    }
    return true;
  }

  int64_t RecordCount() override {
    Stmt count;
    PrepareStmt(alias_, db_, CountSql(), &count, StmtLife::kOnce);
    BindAll(count.s);
    if (sqlite3_step(count.s) != SQLITE_ROW) Fail(alias_, db_->handle, "Cannot count rows");
    return sqlite3_column_int64(count.s, 0);
  }

  // Prepares the main statement. `columns`: its column kinds as an earlier
  // open read them, or nullptr to read them now.
  void Start(const std::string& sql, const std::vector<ColumnInfo>* columns) {
    PrepareStmt(alias_, db_, sql, &main_, StmtLife::kKept);
    current_ = main_.s;
    if (columns != nullptr) {
      columns_ = columns;
      return;
    }
    const int n = sqlite3_column_count(main_.s);
    own_columns_.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      own_columns_.push_back({sqlite3_column_name(main_.s, i),
                              SqliteDeclaredType(sqlite3_column_decltype(main_.s, i))});
    }
  }

  // The values bound to the main statement, kept for RecordCount.
  virtual void BindAll(sqlite3_stmt*) {}
  // The statement that counts the rows of the main one.
  virtual std::string CountSql() const = 0;

 protected:
  std::string alias_;
  DbPtr db_;
  Stmt main_;
  sqlite3_stmt* current_ = nullptr;
  std::vector<ColumnInfo> own_columns_;
  const std::vector<ColumnInfo>* columns_ = &own_columns_;
  std::vector<bool> dynamic_;  // by column, fixed at the first row
  bool done_ = false;
};

class SqliteQueryCursor : public SqliteCursor {
 public:
  using SqliteCursor::SqliteCursor;
  // `names` maps the statement's parameters to the given values: by number
  // when empty, else by name ("@From_Symbol" matches "@from_symbol").
  void Bind(std::span<const TParam> params, bool by_name) {
    params_.assign(params.begin(), params.end());
    by_name_ = by_name;
    BindAll(main_.s);
  }
  std::string CountSql() const override { return "SELECT count(*) FROM (" + main_.sql + ")"; }
  void BindAll(sqlite3_stmt* s) override {
    if (!by_name_) {
      BindPositional(s, params_);
      return;
    }
    const int n = sqlite3_bind_parameter_count(s);
    for (int i = 1; i <= n; ++i) {
      if (const TParam* p = FindByName(sqlite3_bind_parameter_name(s, i))) {
        BindParam(s, i, *p);
      } else {
        sqlite3_bind_null(s, i);
      }
    }
  }

 private:
  const TParam* FindByName(const char* name) const {
    if (name == nullptr) return nullptr;
    std::string_view n(name + 1);  // past '@', ':' or '$'
    for (const TParam& p : params_) {
      if (p.Direction() != ParamDirection::kInput) continue;
      std::string_view d = p.Name();
      if (!d.empty() && d.front() == '@') d.remove_prefix(1);
      if (EqualsIgnoringCase(d, n)) return &p;
    }
    return nullptr;
  }
  std::vector<TParam> params_;
  bool by_name_ = false;
};

class SqliteTableCursor : public SqliteCursor {
 public:
  SqliteTableCursor(std::string alias, DbPtr db, std::string table, TableReading* reading)
      : SqliteCursor(std::move(alias), std::move(db)),
        table_(std::move(table)),
        reading_(*reading) {}

  void Init() {
    TableReading& r = reading_;
    if (r.select.empty()) r.select = "SELECT * FROM " + Quote(table_) + OrderBy(r.key);
    Start(r.select, r.typed ? &r.columns : nullptr);
    if (!r.typed) {
      for (IndexColumn& k : r.key) {
        for (const ColumnInfo& c : own_columns_) {
          if (EqualsIgnoringCase(c.name, k.name)) k.type = c.type;
        }
      }
      r.columns = std::move(own_columns_);
      columns_ = &r.columns;
      r.typed = true;
    }
  }

  std::string CountSql() const override {
    if (reading_.count.empty()) reading_.count = "SELECT count(*) FROM " + Quote(table_);
    return reading_.count;
  }

  void Seek(std::span<const TTable::KeyValue> key) override {
    SeekTo(key, SeekDirection::kForward);
  }
  void SeekBackward(std::span<const TTable::KeyValue> key) override {
    SeekTo(key, SeekDirection::kBackward);
  }

 private:
  void SeekTo(std::span<const TTable::KeyValue> key, SeekDirection direction) {
    const std::vector<IndexColumn>& index = reading_.key;
    if (index.empty()) throw EDatabaseError("Table '" + table_ + "' is read without an index");
    const size_t k = std::min(key.size(), index.size());
    const bool back = direction == SeekDirection::kBackward;
    if (k == 0 && !back) {
      sqlite3_reset(main_.s);
      current_ = main_.s;
      done_ = false;
      return;
    }
    std::vector<std::unique_ptr<Stmt>>& kept = back ? seek_back_ : seek_;
    if (kept.size() <= k) kept.resize(k + 1);
    std::unique_ptr<Stmt>& st = kept[k];
    if (!st) {
      // A row-value comparison over a prefix of the index lets SQLite start
      // the scan at the key instead of reading the table from its top (or,
      // backwards, from its end).
      std::vector<std::string>& texts = reading_.seek[back ? 1 : 0];
      if (texts.size() <= k) texts.resize(k + 1);
      if (texts[k].empty()) texts[k] = SeekSql(table_, index, k, direction);
      st = std::make_unique<Stmt>();
      PrepareStmt(alias_, db_, texts[k], st.get(), StmtLife::kKept);
    }
    sqlite3_reset(st->s);
    for (size_t i = 0; i < k; ++i) BindKey(st->s, static_cast<int>(i + 1), index[i].type, key[i]);
    current_ = st->s;
    done_ = false;
  }

  static void BindKey(sqlite3_stmt* s, int i, FieldType type, const TTable::KeyValue& v) {
    if (const auto* text = std::get_if<std::string>(&v)) {
      sqlite3_bind_text(s, i, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
      return;
    }
    const TDateTime d = std::get<TDateTime>(v);
    char buf[kStoreTextMax];
    char* end = buf;
    switch (type) {
      case FieldType::kInteger:
      case FieldType::kFloat:
        sqlite3_bind_double(s, i, d);
        return;
      case FieldType::kDate:
        end = FormatStoreDate(buf, d);
        break;
      case FieldType::kTime:
        end = FormatStoreTime(buf, d);
        break;
      default:
        end = FormatStoreDateTime(buf, d);
        break;
    }
    sqlite3_bind_text(s, i, buf, static_cast<int>(end - buf), SQLITE_TRANSIENT);
  }

  std::string table_;
  TableReading& reading_;                         // kept by db_
  std::vector<std::unique_ptr<Stmt>> seek_;       // by key length
  std::vector<std::unique_ptr<Stmt>> seek_back_;  // the same, backwards
};

class SqliteStatement : public Statement {
 public:
  SqliteStatement(std::string alias, DbPtr db, const std::string& sql)
      : alias_(std::move(alias)), db_(std::move(db)) {
    PrepareStmt(alias_, db_, sql, &stmt_, StmtLife::kKept);
  }
  void Execute(std::span<const TParam> params) override {
    sqlite3_stmt* s = stmt_.s;
    sqlite3_reset(s);
    BindPositional(s, params);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      const std::string msg = sqlite3_errmsg(db_->handle);
      sqlite3_reset(s);
      throw EDatabaseError("Statement failed: " + msg + " (alias '" + alias_ + "')");
    }
    sqlite3_reset(s);
  }

 private:
  std::string alias_;
  DbPtr db_;
  Stmt stmt_;
};

}  // namespace

std::string SeekSql(const std::string& table, const std::vector<IndexColumn>& key, size_t k,
                    SeekDirection direction) {
  // The collation goes on the value side: SQLite then still recognises the
  // bare columns as the index's and seeks instead of scanning.
  std::string lhs, rhs;
  for (size_t i = 0; i < k; ++i) {
    lhs += (i ? ", " : "") + Quote(key[i].name);
    rhs += (i ? ", ?" : "?") + std::to_string(i + 1) + Collate(key[i]);
  }
  const char* const op = direction == SeekDirection::kBackward ? ") <= (" : ") >= (";
  const std::string where = k == 0 ? "" : " WHERE (" + lhs + op + rhs + ")";
  return "SELECT * FROM " + Quote(table) + where + OrderBy(key, direction);
}

std::unique_ptr<Cursor> MakeQueryCursor(const std::string& alias, DbPtr db, const std::string& sql,
                                        std::span<const TParam> params, bool by_name) {
  auto c = std::make_unique<SqliteQueryCursor>(alias, std::move(db));
  c->Start(sql, nullptr);
  c->Bind(params, by_name);
  return c;
}

std::unique_ptr<Cursor> MakeTableCursor(const std::string& alias, DbPtr db,
                                        const std::string& table, TableReading* reading) {
  auto c = std::make_unique<SqliteTableCursor>(alias, std::move(db), table, reading);
  c->Init();
  return c;
}

std::unique_ptr<Statement> MakeStatement(const std::string& alias, DbPtr db,
                                         const std::string& sql) {
  return std::make_unique<SqliteStatement>(alias, std::move(db), sql);
}

}  // namespace morvane::db::sqlite
