#include "data/postgres_driver.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <deque>

#include "data/sql_params.h"
#include "data/store_text.h"
#include "support/ascii_text.h"

namespace morvane::db {
namespace {

// Rows fetched per round trip from a server-side cursor.
// Rows are fetched from a server cursor in batches that start small (a seek
// that wants one row, as the delayed quote does, moves a few rows) and double
// up to the largest, so that a long history takes few round trips.
constexpr int kFirstFetchRows = 64;
constexpr int kMaxFetchRows = 8192;

// Type OIDs of the built-in types (pg_type.dat).
enum : Oid {
  kBool = 16,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kOid = 26,
  kFloat4 = 700,
  kFloat8 = 701,
  kDateOid = 1082,
  kTimeOid = 1083,
  kTimestamp = 1114,
  kTimestampTz = 1184,
  kTimeTz = 1266,
  kNumeric = 1700,
};

FieldType TypeOf(Oid oid) {
  switch (oid) {
    case kBool:
    case kInt8:
    case kInt2:
    case kInt4:
    case kOid:
      return FieldType::kInteger;
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return FieldType::kFloat;
    case kDateOid:
      return FieldType::kDate;
    case kTimeOid:
    case kTimeTz:
      return FieldType::kTime;
    case kTimestamp:
    case kTimestampTz:
      return FieldType::kDateTime;
    default:
      return FieldType::kText;
  }
}

struct Result {
  PGresult* r = nullptr;
  explicit Result(PGresult* p = nullptr) : r(p) {}
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  Result(Result&& o) noexcept : r(o.r) { o.r = nullptr; }
  Result& operator=(Result&& o) noexcept {
    std::swap(r, o.r);
    return *this;
  }
  ~Result() { PQclear(r); }
};

bool Succeeded(const Result& r) {
  const ExecStatusType st = PQresultStatus(r.r);
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
}

std::string Trimmed(const char* msg) {
  std::string s = msg != nullptr ? msg : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Parameter values as libpq takes them: text, or null. A text value that
// holds a zero byte goes in binary form with its length: libpq reads a value
// in text form only up to its first zero byte, which would turn "0005\0x" into
// "0005" and answer for another product. PostgreSQL's text holds no zero byte,
// so the server refuses such a value as it refuses any other malformed text.
class TextParams {
 public:
  void Clear() {
    values_.clear();
    lengths_.clear();
    formats_.clear();
    used_ = 0;
  }
  void Add(const TParam* p) {
    if (p == nullptr || p->IsNull()) {
      Push(nullptr, 0, 0);
      return;
    }
    const TParam::Value& v = p->GetValue();
    if (v.index() == 1) {
      AddText(std::get<1>(v));
      return;
    }
    if (used_ == buffers_.size()) buffers_.emplace_back();
    char* buf = buffers_[used_++].data();
    char* end = buf;
    if (v.index() == 2) {
      end = std::to_chars(buf, buf + 31, std::get<2>(v)).ptr;
    } else if (v.index() == 3) {
      end = std::to_chars(buf, buf + 31, std::get<3>(v)).ptr;
    } else {
      end = FormatStoreDateTime(buf, std::get<4>(v));
    }
    *end = '\0';
    Push(buf, 0, 0);
  }
  // Requires: `text` outlives the statement's execution.
  void AddText(const std::string& text) {
    const bool has_zero = text.find('\0') != std::string::npos;
    Push(text.c_str(), has_zero ? static_cast<int>(text.size()) : 0, has_zero ? 1 : 0);
  }
  int Count() const { return static_cast<int>(values_.size()); }
  const char* const* Values() const { return values_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }

 private:
  void Push(const char* value, int length, int format) {
    values_.push_back(value);
    lengths_.push_back(length);
    formats_.push_back(format);
  }

  std::vector<const char*> values_;
  std::vector<int> lengths_;
  std::vector<int> formats_;                  // 0 text, 1 binary
  std::deque<std::array<char, 32>> buffers_;  // grows without moving what it holds
  size_t used_ = 0;
};

class PgConnection;

class PgCursor : public Cursor {
 public:
  PgCursor(PgConnection* conn, std::string select, std::vector<TParam> params);
  ~PgCursor() override;
  void Start();
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Fetch(std::span<TField* const> fields) override;
  int64_t RecordCount() override;
  void Seek(std::span<const TTable::KeyValue> key) override;
  void SeekBackward(std::span<const TTable::KeyValue> key) override;
  // Tables: the index key columns that Seek compares.
  void SetKey(std::string table, std::vector<std::string> key) {
    table_ = std::move(table);
    key_ = std::move(key);
  }

 private:
  // Declares the server cursor; reads `first_batch` rows at once (none: the
  // first Fetch reads them).
  void Declare(const std::string& sql, const TextParams& params, int first_batch);
  void CloseServerCursor();
  void FetchBatch();
  void SeekTo(std::span<const TTable::KeyValue> key, bool backward);
  std::string OrderBy(bool backward = false) const;

  PgConnection* conn_;
  std::string select_;
  std::vector<TParam> params_;
  std::string name_;
  bool declared_ = false;
  Result batch_;
  int row_ = 0;
  int rows_ = 0;
  int next_batch_ = kFirstFetchRows;
  bool last_batch_ = false;
  std::vector<ColumnInfo> columns_;
  std::string table_;
  std::vector<std::string> key_;
};

class PgStatement : public Statement {
 public:
  PgStatement(PgConnection* conn, const std::string& sql);
  ~PgStatement() override;
  void Execute(std::span<const TParam> params) override;

 private:
  PgConnection* conn_;
  std::string name_;
  TextParams values_;
};

class PgConnection : public Connection {
 public:
  PgConnection(const AliasConfig& alias, const Login& login, bool read_only) : alias_(alias.name) {
    std::vector<const char*> keys = {"dbname"};
    std::vector<const char*> values = {alias.conninfo.c_str()};
    // Later entries override what the connection string says.
    if (login.given && !login.user.empty()) {
      keys.push_back("user");
      values.push_back(login.user.c_str());
    }
    if (login.given && !login.password.empty()) {
      keys.push_back("password");
      values.push_back(login.password.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string msg = Trimmed(PQerrorMessage(conn_));
      PQfinish(conn_);
      throw EDatabaseError("Cannot connect to alias '" + alias_ + "': " + msg);
    }
    // Server notices ("already exists, skipping") are not failures; they
    // must not reach the host process's stderr.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Fixed text forms, whatever the server's defaults: ISO dates, shortest
    // exact floats, UTF-8.
    Exec("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; SET extra_float_digits = 1");
    if (read_only) Exec("SET default_transaction_read_only = on");
  }
  ~PgConnection() override { PQfinish(conn_); }

  const char* DriverName() const override { return "POSTGRES"; }
  TranslatedSql Translate(std::string_view sql) const override { return TranslateParams(sql, '$'); }

  void ExecuteDirect(const std::string& sql) override { Exec(sql); }

  void CopyRows(const std::string& table, const std::vector<std::string_view>& columns,
                const TCopyRows& rows) override {
    std::string sql = "COPY " + PgIdentifier(table) + " (";
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i != 0) sql += ", ";
      sql += PgIdentifier(columns[i]);
    }
    sql += ") FROM STDIN";
    Result start(PQexec(conn_, sql.c_str()));
    if (PQresultStatus(start.r) != PGRES_COPY_IN) Check(start, sql);
    // libpq queues what it cannot send at once; PQputCopyData only fails
    // when the link is gone, and PQputCopyEnd then says why.
    const std::string& text = rows.CopyText();
    constexpr size_t kChunk = 256 * 1024;
    bool sent = true;
    for (size_t at = 0; at < text.size() && sent; at += kChunk) {
      const size_t n = std::min(kChunk, text.size() - at);
      sent = PQputCopyData(conn_, text.data() + at, static_cast<int>(n)) == 1;
    }
    sent = sent && PQputCopyEnd(conn_, nullptr) == 1;
    // The outcome: the server refuses the whole transfer at its first bad
    // row and names the row ("COPY hist030707, line 12").
    Result last;
    while (PGresult* r = PQgetResult(conn_)) last = Result(r);
    if (!sent) {
      throw EDatabaseError("Cannot send rows to table '" + table +
                           "': " + Trimmed(PQerrorMessage(conn_)) + " (alias '" + alias_ + "')");
    }
    Check(last, sql);
  }
  void Begin() override {
    if (implicit_tx_) {
      implicit_tx_ = false;  // the open data sets' transaction becomes the caller's
    } else {
      Exec("BEGIN");
    }
    user_tx_ = true;
  }
  void Commit() override { EndUserTx("COMMIT"); }
  void Rollback() override { EndUserTx("ROLLBACK"); }
  bool InTransaction() const override { return user_tx_; }

  bool Reusable() override {
    return !user_tx_ && open_cursors_ == 0 && PQstatus(conn_) == CONNECTION_OK &&
           PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }

  bool Revalidate() override {
    // An idle link has nothing to read. Anything there is almost always the
    // server saying goodbye (a shutdown or restart ends every session with
    // an error and closes the socket), which libpq only notices once it
    // reads; the rare harmless message (a setting reloaded) costs only a
    // new login.
    pollfd p{PQsocket(conn_), POLLIN, 0};
    if (p.fd < 0 || ::poll(&p, 1, 0) != 0) return false;
    return PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }

  bool TableExists(const std::string& table) override {
    TextParams p;
    const std::string ident = PgIdentifier(table);
    p.AddText(ident);
    Result r = Exec(
        "SELECT 1 FROM pg_catalog.pg_class WHERE oid = to_regclass($1) AND relkind IN "
        "('r', 'v', 'm', 'p', 'f')",
        p);
    return PQntuples(r.r) > 0;
  }

  bool HasMoreRowsThan(const std::string& table, int64_t n) override {
    RequireTable(table);
    Result r = Exec("SELECT count(*) FROM (SELECT 1 FROM " + PgIdentifier(table) + " LIMIT " +
                    std::to_string(n + 1) + ") AS t");
    return std::strtoll(PQgetvalue(r.r, 0, 0), nullptr, 10) > n;
  }

  std::unique_ptr<Cursor> OpenTable(const std::string& table, const std::string& index) override {
    RequireTable(table);
    std::vector<std::string> key;
    if (!index.empty()) key = IndexKey(table, index);
    auto c = std::make_unique<PgCursor>(this, "SELECT * FROM " + PgIdentifier(table),
                                        std::vector<TParam>());
    c->SetKey(table, std::move(key));
    c->Start();
    return c;
  }

  std::unique_ptr<Cursor> OpenQuery(const TranslatedSql& sql,
                                    std::span<const TParam> params) override {
    auto c = std::make_unique<PgCursor>(this, sql.text,
                                        std::vector<TParam>(params.begin(), params.end()));
    c->Start();
    return c;
  }

  std::unique_ptr<Statement> Prepare(const TranslatedSql& sql) override {
    return std::make_unique<PgStatement>(this, sql.text);
  }

  std::unique_ptr<Cursor> OpenProcedure(const std::string& name,
                                        std::span<const TParam> params) override {
    std::string call = "SELECT * FROM " + PgIdentifier(name) + "(";
    std::vector<TParam> inputs;
    for (const TParam& p : params) {
      if (p.Direction() != ParamDirection::kInput) continue;
      std::string_view n = p.Name();
      if (!n.empty() && n.front() == '@') n.remove_prefix(1);
      if (!inputs.empty()) call += ", ";
      inputs.push_back(p);
      call += PgIdentifier(n) + " => $" + std::to_string(inputs.size());
    }
    call += ")";
    auto c = std::make_unique<PgCursor>(this, call, std::move(inputs));
    try {
      c->Start();
    } catch (const EDatabaseError& e) {
      throw EDatabaseError("Cannot call stored procedure '" + name + "': " + e.Message());
    }
    return c;
  }

  // --- For cursors and statements. ---
  Result Exec(const std::string& sql, const TextParams& p = TextParams()) {
    // Without parameters, PQexec: a script of several statements is allowed.
    Result r(p.Count() == 0 ? PQexec(conn_, sql.c_str())
                            : PQexecParams(conn_, sql.c_str(), p.Count(), nullptr, p.Values(),
                                           p.Lengths(), p.Formats(), 0));
    Check(r, sql);
    return r;
  }
  void Check(const Result& r, const std::string& sql) {
    if (Succeeded(r)) return;
    std::string msg = Trimmed(r.r != nullptr ? PQresultErrorMessage(r.r) : PQerrorMessage(conn_));
    if (PQstatus(conn_) != CONNECTION_OK) msg += " (the link to the server is lost)";
    throw EDatabaseError(msg + " (alias '" + alias_ + "', statement \"" + sql + "\")");
  }
  PGconn* Raw() { return conn_; }
  std::string NextName(const char* prefix) { return prefix + std::to_string(++counter_); }
  const std::string& Alias() const { return alias_; }

  void EnterCursor() {
    if (!user_tx_ && !implicit_tx_) {
      Exec("BEGIN");
      implicit_tx_ = true;
    }
    ++open_cursors_;
  }
  void LeaveCursor() {
    if (--open_cursors_ > 0 || !implicit_tx_) return;
    implicit_tx_ = false;
    // A read transaction ends quietly; a failed one can only roll back.
    Result r(PQexec(conn_, PQtransactionStatus(conn_) == PQTRANS_INERROR ? "ROLLBACK" : "COMMIT"));
  }
  bool TxFailed() { return PQtransactionStatus(conn_) == PQTRANS_INERROR; }

 private:
  void EndUserTx(const char* verb) {
    user_tx_ = false;
    Exec(verb);
    // Cursors still open began inside it; their rows are gone with it.
    if (open_cursors_ > 0) {
      Exec("BEGIN");
      implicit_tx_ = true;
    }
  }

  void RequireTable(const std::string& table) {
    if (!TableExists(table)) {
      throw EDatabaseError("Table '" + table + "' does not exist (alias '" + alias_ + "')");
    }
  }

  // The key columns of the index named `index`, or "<table>_<index>" (index
  // names are shared by all tables of a schema), of `table`.
  std::vector<std::string> IndexKey(const std::string& table, const std::string& index) {
    TextParams p;
    const std::string ident = PgIdentifier(table);
    const std::string alt = table + "_" + index;
    p.AddText(ident);
    p.AddText(index);
    p.AddText(alt);
    Result r = Exec(
        "SELECT a.attname FROM pg_catalog.pg_index i "
        "JOIN pg_catalog.pg_class ic ON ic.oid = i.indexrelid "
        "CROSS JOIN LATERAL unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, ord) "
        "LEFT JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
        "WHERE i.indexrelid = (SELECT ic2.oid FROM pg_catalog.pg_index i2 "
        "  JOIN pg_catalog.pg_class ic2 ON ic2.oid = i2.indexrelid "
        "  WHERE i2.indrelid = to_regclass($1) AND lower(ic2.relname) IN (lower($2), lower($3)) "
        "  ORDER BY lower(ic2.relname) = lower($2) DESC LIMIT 1) "
        "AND k.ord <= i.indnkeyatts ORDER BY k.ord",
        p);
    if (PQntuples(r.r) == 0) {
      throw EDatabaseError("Index '" + index + "' does not exist on table '" + table +
                           "' (alias '" + alias_ + "')");
    }
    std::vector<std::string> key;
    for (int i = 0; i < PQntuples(r.r); ++i) {
      if (PQgetisnull(r.r, i, 0)) {
        throw EDatabaseError("Index '" + index + "' of table '" + table +
                             "' has an expression key, which cannot be read");
      }
      key.emplace_back(PQgetvalue(r.r, i, 0));
    }
    return key;
  }

  std::string alias_;
  PGconn* conn_ = nullptr;
  bool user_tx_ = false;
  bool implicit_tx_ = false;
  int open_cursors_ = 0;
  uint64_t counter_ = 0;
};

PgCursor::PgCursor(PgConnection* conn, std::string select, std::vector<TParam> params)
    : conn_(conn), select_(std::move(select)), params_(std::move(params)) {}

PgCursor::~PgCursor() {
  try {
    CloseServerCursor();
  } catch (...) {
    // The link may be gone; the transaction's end frees the cursor anyway.
  }
}

std::string PgCursor::OrderBy(bool backward) const {
  std::string order;
  for (const std::string& k : key_) {
    order += order.empty() ? " ORDER BY " : ", ";
    order += PgIdentifier(k);
    if (backward) order += " DESC";
  }
  return order;
}

void PgCursor::Start() {
  TextParams p;
  for (const TParam& v : params_) p.Add(&v);
  // The first batch also describes the columns. A table is mostly sought
  // right after it opens, so it reads one row here, not rows it throws away.
  Declare(select_ + OrderBy(), p, key_.empty() ? 1000 : 1);
  columns_.clear();
  for (int i = 0; i < PQnfields(batch_.r); ++i) {
    columns_.push_back({PQfname(batch_.r, i), TypeOf(PQftype(batch_.r, i))});
  }
}

void PgCursor::Declare(const std::string& sql, const TextParams& params, int first_batch) {
  if (declared_ && !conn_->TxFailed()) {
    // A seek replaces the cursor inside the same read transaction: one
    // statement less each way, and the rows all come from one snapshot.
    const std::string old = name_;
    batch_ = Result();
    rows_ = row_ = 0;
    conn_->Exec("CLOSE " + old);
  } else {
    CloseServerCursor();
    conn_->EnterCursor();
  }
  declared_ = true;
  name_ = conn_->NextName("morvane_c");
  conn_->Exec("DECLARE " + name_ + " NO SCROLL CURSOR FOR " + sql, params);
  last_batch_ = false;
  next_batch_ = first_batch;
  if (first_batch > 0) {
    FetchBatch();
  } else {
    batch_ = Result();
    rows_ = row_ = 0;
    next_batch_ = kFirstFetchRows;
  }
}

void PgCursor::CloseServerCursor() {
  if (!declared_) return;
  declared_ = false;
  batch_ = Result();
  rows_ = row_ = 0;
  if (!conn_->TxFailed()) {
    Result r(PQexec(conn_->Raw(), ("CLOSE " + name_).c_str()));
  }
  conn_->LeaveCursor();
}

void PgCursor::FetchBatch() {
  const int wanted = next_batch_;
  next_batch_ = std::clamp(wanted * 2, kFirstFetchRows, kMaxFetchRows);
  batch_ = conn_->Exec("FETCH FORWARD " + std::to_string(wanted) + " FROM " + name_);
  rows_ = PQntuples(batch_.r);
  row_ = 0;
  last_batch_ = rows_ < wanted;
}

bool PgCursor::Fetch(std::span<TField* const> fields) {
  if (!declared_) return false;
  if (row_ >= rows_) {
    if (last_batch_) return false;
    FetchBatch();
    if (rows_ == 0) return false;
  }
  PGresult* r = batch_.r;
  const int n = static_cast<int>(fields.size());
  for (int i = 0; i < n; ++i) {
    TField* f = fields[static_cast<size_t>(i)];
    if (PQgetisnull(r, row_, i)) {
      f->SetNull();
      continue;
    }
    const char* v = PQgetvalue(r, row_, i);
    const auto len = static_cast<size_t>(PQgetlength(r, row_, i));
    switch (f->DataType()) {
      case FieldType::kInteger: {
        if (*v == 't' || *v == 'f') {
          f->SetInteger(*v == 't' ? 1 : 0);
          break;
        }
        int64_t x = 0;
        if (std::from_chars(v, v + len, x).ec != std::errc()) {
          double d = 0;
          std::from_chars(v, v + len, d);
          x = std::llround(d);
        }
        f->SetInteger(x);
        break;
      }
      case FieldType::kFloat: {
        double d = 0;
        std::from_chars(v, v + len, d);
        f->SetFloat(d);
        break;
      }
      case FieldType::kDate:
      case FieldType::kTime:
      case FieldType::kDateTime: {
        TDateTime d = 0;
        if (!ParseStoreDateTime(std::string_view(v, len), &d)) {
          throw EDatabaseError("Invalid date or time '" + std::string(v, len) + "' in column '" +
                               f->FieldName() + "'");
        }
        f->SetDateTime(d);
        break;
      }
      default:
        f->SetText(std::string_view(v, len));
        break;
    }
  }
  ++row_;
  return true;
}

int64_t PgCursor::RecordCount() {
  TextParams p;
  for (const TParam& v : params_) p.Add(&v);
  Result r = conn_->Exec("SELECT count(*) FROM (" + select_ + ") AS q", p);
  return std::strtoll(PQgetvalue(r.r, 0, 0), nullptr, 10);
}

void PgCursor::Seek(std::span<const TTable::KeyValue> key) {
  SeekTo(key, false);
}
void PgCursor::SeekBackward(std::span<const TTable::KeyValue> key) {
  SeekTo(key, true);
}

void PgCursor::SeekTo(std::span<const TTable::KeyValue> key, bool backward) {
  if (key_.empty()) throw EDatabaseError("Table '" + table_ + "' is read without an index");
  const size_t k = std::min(key.size(), key_.size());
  std::string lhs, rhs;
  std::vector<std::string> text(k);
  TextParams p;
  for (size_t i = 0; i < k; ++i) {
    lhs += (i ? ", " : "") + PgIdentifier(key_[i]);
    rhs += (i ? ", $" : "$") + std::to_string(i + 1);
    if (const auto* s = std::get_if<std::string>(&key[i])) {
      text[i] = *s;
    } else {
      FieldType type = FieldType::kDateTime;
      for (const ColumnInfo& c : columns_) {
        if (EqualsIgnoringCase(c.name, key_[i])) type = c.type;
      }
      char buf[kStoreTextMax];
      const TDateTime d = std::get<TDateTime>(key[i]);
      char* end = type == FieldType::kTime   ? FormatStoreTime(buf, d)
                  : type == FieldType::kDate ? FormatStoreDate(buf, d)
                                             : FormatStoreDateTime(buf, d);
      text[i].assign(buf, end);
    }
  }
  for (const std::string& t : text) p.AddText(t);
  const char* const op = backward ? " <= " : " >= ";
  const std::string where = k == 0 ? "" : " WHERE (" + lhs + ")" + op + "(" + rhs + ")";
  // One key column: a row of one value is just the value.
  Declare(select_ + (k == 1 ? " WHERE " + lhs + op + "$1" : where) + OrderBy(backward), p, 0);
}

PgStatement::PgStatement(PgConnection* conn, const std::string& sql)
    : conn_(conn), name_(conn->NextName("morvane_s")) {
  Result r(PQprepare(conn_->Raw(), name_.c_str(), sql.c_str(), 0, nullptr));
  conn_->Check(r, sql);
}

PgStatement::~PgStatement() {
  if (!conn_->TxFailed()) Result r(PQexec(conn_->Raw(), ("DEALLOCATE " + name_).c_str()));
}

void PgStatement::Execute(std::span<const TParam> params) {
  values_.Clear();
  for (const TParam& p : params) values_.Add(&p);
  Result r(PQexecPrepared(conn_->Raw(), name_.c_str(), values_.Count(), values_.Values(),
                          values_.Lengths(), values_.Formats(), 0));
  // The statement's text is only wanted for the message of a failure.
  if (!Succeeded(r)) conn_->Check(r, "EXECUTE " + name_);
}

}  // namespace

std::string PgIdentifier(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  }
  q += '"';
  return q;
}

std::unique_ptr<Connection> OpenPostgresConnection(const AliasConfig& alias, const Login& login,
                                                   bool read_only) {
  return std::make_unique<PgConnection>(alias, login, read_only);
}

}  // namespace morvane::db
