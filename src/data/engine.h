// The database engine layer.
//
// The system reaches its stores through named aliases and a handful of
// data-access classes: TSession (engine sessions, by name), TDatabase (one
// connection to the store an alias names), and the data sets TTable, TQuery and
// TStoredProc, whose current row is read through TField objects and whose
// parameters are bound through TParam objects.
//
// Aliases live in the alias file (see alias_file.h): each names a driver,
// SQLITE (the embedded default) or POSTGRES, and where the store is. The
// drivers themselves sit behind driver.h; nothing outside src/data/ sees them.
//
// Every failing operation raises EDatabaseError with a message that says what
// failed (unknown alias, refused login, missing table, bad statement, broken
// link).
//
// Threads: one TDatabase and the data sets bound to it are used by one thread
// at a time (each data module serves one request at a time). TSession's name
// registry and the alias lookup are safe for concurrent use.
#ifndef MORVANE_DATA_ENGINE_H_
#define MORVANE_DATA_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/date_time.h"
#include "support/error.h"

namespace morvane::db {

struct AliasConfig;    // alias_file.h
class Connection;      // driver.h
struct TranslatedSql;  // driver.h
class Cursor;          // driver.h
class Statement;       // driver.h
class TDataSet;

enum class FieldType { kUnknown, kText, kInteger, kFloat, kDate, kTime, kDateTime };

// One column of a data set's current row.
//
// A data set owns its fields; a field object stays the same object for the
// life of its data set, so callers may keep pointers to fields declared before
// Open (the data module's field objects, such as HistTableSymbol). The values
// are those of the current row; reading never allocates once the field's text
// buffer has grown to the column's widest value.
class TField {
 public:
  explicit TField(std::string name, FieldType type = FieldType::kUnknown)
      : name_(std::move(name)), type_(type) {}

  const std::string& FieldName() const { return name_; }
  FieldType DataType() const { return type_; }
  bool IsNull() const { return null_; }

  // The value as a float: numbers as they are, date-time kinds as day
  // numbers, text parsed as a decimal number (EConvertError when it is not).
  // Null reads as 0.
  double AsFloat() const;
  // Integers as they are; floats rounded to the nearest whole number, a
  // value exactly halfway to the even one. Null is 0.
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  // Date-time kinds as they are; numbers as day numbers; text parsed as a
  // date, a time or both in the stores' forms (store_text.h) or "yyyy/m/d"
  // (EConvertError when it is none of these). Null is 0.
  TDateTime AsDateTime() const;

  // The stored text form: text as the store holds it; integers in decimal;
  // floats as FormatStoredFloat writes them (12.5 gives "12.5", 1e-6
  // "1E-6"); dates "yyyy/m/d"; times "hh:nn:ss"; date-times as the
  // date, then " hh:nn:ss" unless midnight; null is empty. AppendText adds it
  // to `out` without other allocation.
  std::string AsString() const;
  void AppendText(std::string* out) const;
  // The raw bytes of a text column (empty for other kinds and for null).
  std::string_view TextView() const {
    return type_ == FieldType::kText && !null_ ? text_ : std::string_view();
  }

  // --- For drivers: set the current row's value. The setter used must match
  // DataType(): SetText for kText, SetInteger for kInteger, SetFloat for
  // kFloat, SetDateTime for the date-time kinds. ---
  void SetType(FieldType t) { type_ = t; }
  void SetNull() { null_ = true; }
  void SetText(std::string_view v) {
    null_ = false;
    text_.assign(v.data(), v.size());
  }
  void SetInteger(int64_t v) {
    null_ = false;
    int_ = v;
  }
  void SetFloat(double v) {
    null_ = false;
    num_ = v;
  }
  void SetDateTime(TDateTime v) {
    null_ = false;
    num_ = v;
  }

 private:
  std::string name_;
  FieldType type_;
  bool null_ = true;
  int64_t int_ = 0;
  double num_ = 0;
  std::string text_;
};

enum class ParamType { kUnknown, kText, kInteger, kFloat, kDateTime };
enum class ParamDirection { kInput, kResult };

// One parameter of a query or stored procedure. A parameter never bound is
// null when the statement runs. The declared ParamType is accepted for the
// data module's declarations; the kind of a value is that of its last setter.
class TParam {
 public:
  TParam(std::string name, ParamType /*type*/, ParamDirection dir)
      : name_(std::move(name)), dir_(dir) {}

  const std::string& Name() const { return name_; }
  ParamDirection Direction() const { return dir_; }

  void SetAsString(std::string_view v);
  void SetAsInteger(int64_t v);
  void SetAsFloat(double v);
  void SetAsDateTime(TDateTime v);
  void Clear();  // null

  using Value = std::variant<std::monostate, std::string, int64_t, double, TDateTime>;
  // The bound value; a TDateTime is held as the last alternative so that a
  // driver can tell it from a plain float.
  const Value& GetValue() const { return value_; }
  bool IsDateTime() const { return value_.index() == kDateTimeIndex; }
  bool IsNull() const { return value_.index() == 0; }

 private:
  static constexpr std::size_t kDateTimeIndex = std::variant_size_v<Value> - 1;
  std::string name_;
  ParamDirection dir_;
  Value value_;
};

// An engine session: a name under which databases are opened. Sessions are
// process-wide and found by name.
class TSession {
 public:
  // Finds the session named `name` or makes it, and makes it active.
  static TSession* OpenSession(const std::string& name);
  static TSession* FindSession(const std::string& name);
  // Frees a session that OpenSession made (a module's private session when
  // the module is destroyed); no-op for other names.
  static void FreeSession(const std::string& name);
  // Makes a session named "HistSession_" plus the lowest number from 1 that
  // no live session holds. The caller owns it; destroying it frees the number.
  static std::unique_ptr<TSession> MakeAutoNamed();
  // Makes `s` the engine's current session (one for the process; a session
  // that is destroyed stops being current).
  static void MakeCurrent(TSession* s);
  static TSession* Current();

  // Registers a session of that name; EDatabaseError when one exists.
  explicit TSession(std::string name);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  const std::string& SessionName() const { return name_; }
  bool Active() const { return active_; }
  void SetActive(bool a) { active_ = a; }

 private:
  struct NoRegistration {};
  TSession(std::string name, NoRegistration) : name_(std::move(name)) {}

  std::string name_;
  bool active_ = false;
  friend struct SessionRegistry;
};

// Rows for TDatabase::CopyRows, gathered as text. Values go in column order,
// each row ended by EndRow; the buffer is reused after Clear without
// allocating again.
class TCopyRows {
 public:
  void Text(std::string_view v);
  void Float(double v);  // the shortest text that reads back as `v`
  void Null();
  void EndRow();
  void Clear() {
    text_.clear();
    rows_ = 0;
    at_row_start_ = true;
  }
  size_t Rows() const { return rows_; }
  size_t Bytes() const { return text_.size(); }
  // PostgreSQL's COPY text form: tab between values, "\N" for null, a line
  // end after each row, and backslash, tab, CR and LF escaped.
  const std::string& CopyText() const { return text_; }

 private:
  void Separate();
  std::string text_;
  size_t rows_ = 0;
  bool at_row_start_ = true;
};

// One connection to the store that an alias names.
class TDatabase {
 public:
  TDatabase();
  ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  void SetAliasName(std::string alias) { alias_ = std::move(alias); }
  const std::string& AliasName() const { return alias_; }
  void SetDatabaseName(std::string name) { database_name_ = std::move(name); }
  const std::string& DatabaseName() const { return database_name_; }
  void SetSessionName(std::string name) { session_name_ = std::move(name); }
  const std::string& SessionName() const { return session_name_; }
  // Connection parameters as "NAME=value" lines; "USER NAME" and "PASSWORD"
  // become the login of a server store.
  std::vector<std::string>& Params() { return params_; }
  // Kept for the data module's settings: no store here ever prompts for a
  // login, so this does nothing.
  void SetLoginPrompt(bool /*on*/) {}
  // On (the default): the link stays open when the last data set closes.
  // Off: closing the last data set drops a link that a data set opened.
  void SetKeepConnection(bool on) { keep_connection_ = on; }
  bool KeepConnection() const { return keep_connection_; }
  void SetReadOnly(bool on) { read_only_ = on; }
  bool ReadOnly() const { return read_only_; }
  // Off (the default): connecting to a store that does not exist fails.
  // On: a missing SQLite store is made empty (for the loader, which makes
  // stores; a server only ever opens stores that exist).
  void SetCreateStore(bool on) { create_store_ = on; }
  bool CreateStore() const { return create_store_; }
  // On: Open makes a link of its own, neither taken from the process's pool
  // of kept links nor given back to it nor counted there, and Close drops
  // it. For a check of whether the store can be opened now, which a kept
  // link cannot tell: it looks at its files only when a request reaches them.
  void SetFreshLink(bool on) { fresh_link_ = on; }

  // Connects (no-op when connected): looks the alias up in the alias file
  // afresh and logs in. Raises EDatabaseError naming the alias.
  void Open();
  // Closes every data set bound to this database, then lets the link go;
  // data sets reconnect it on their next Open. A link that is idle and
  // healthy is kept in the process's pool (connection_pool.h) for the next
  // Open of the same store; Connected() is false either way.
  void Close();
  // As Close, but the link is closed for good: for a link that failed, so
  // that the next Open makes a new one.
  void Discard();
  bool Connected() const;
  // For a link kept open between uses (the data module's private
  // connection), called between uses: closes data sets an earlier use left
  // open, then, unless a transaction is under way, checks the link as the
  // pool checks a link it hands out again, and closes it for good (as
  // Discard) when its server closed it meanwhile (a restart), so that the
  // next use connects afresh. Never raises for a server store.
  void DropIfStale();

  // The driver's name, "SQLITE" or "POSTGRES" (connects first).
  std::string DriverName();

  // Runs a statement that returns no rows (DDL, a one-off write). :name
  // parameters are not supported here; use TQuery::ExecSQL for those.
  void ExecuteDirect(const std::string& sql);
  // Writes `rows` into `table`'s `columns` in one bulk transfer (COPY): for
  // loading a server store, where one INSERT per row costs a round trip.
  // EDatabaseError when the store refuses a row (naming the row) or the
  // driver has no bulk transfer (SQLite, where INSERT is local and fast).
  void CopyRows(const std::string& table, const std::vector<std::string_view>& columns,
                const TCopyRows& rows);
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // For data sets: the live link, connecting first.
  Connection& Link();
  // For data sets: bookkeeping of who is bound and open.
  void Attach(TDataSet* ds);
  void Detach(TDataSet* ds);
  void DataSetClosed();

 private:
  void Connect(bool by_data_set);
  void CloseDataSets();
  std::string alias_;
  std::string database_name_;
  std::string session_name_;
  std::vector<std::string> params_;
  bool keep_connection_ = true;
  bool read_only_ = false;
  bool create_store_ = false;
  bool fresh_link_ = false;
  bool opened_by_data_set_ = false;
  std::vector<TDataSet*> data_sets_;
  std::unique_ptr<Connection> link_;
  // What link_ was made from (connection_pool.h); shared with the pool, so
  // that giving the link back copies no text.
  std::shared_ptr<const std::string> pool_key_;
  // What pool_key_ was worked out from: a connect whose alias and settings
  // are the same as the last one's takes the key as it is.
  std::shared_ptr<const AliasConfig> key_alias_;
  std::vector<std::string> key_params_;
  bool key_read_only_ = false;
  bool key_create_ = false;
};

// Common face of TTable, TQuery and TStoredProc. Open stands on the first row;
// Eof is true past the last one.
class TDataSet {
 public:
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // Binds the data set to `db` (closing it first). The database must outlive
  // the binding; destroying the database unbinds its data sets.
  void SetDatabase(TDatabase* db);
  TDatabase* Database() const { return database_; }

  // Declares a persistent field; the returned object lives as long as the data
  // set and is bound by name to the result column at every Open (EDatabaseError
  // when the result has no such column).
  TField* DeclareField(const std::string& name, FieldType type);

  void Open();
  void Close();
  bool Active() const { return cursor_ != nullptr; }
  void Next();
  bool Eof() const { return eof_; }
  // The number of rows of the open result. For a table, of the whole table.
  int64_t RecordCount();

  // The field of the open result named `name` (letter case ignored);
  // EDatabaseError when there is none. FindField gives nullptr instead.
  TField& FieldByName(std::string_view name);
  TField* FindField(std::string_view name);
  int FieldCount() const { return static_cast<int>(bound_.size()); }
  TField& Fields(int i) { return *bound_[static_cast<size_t>(i)]; }

 protected:
  TDataSet();
  // Makes the cursor for Open; the data set then reads its first row.
  virtual std::unique_ptr<Cursor> MakeCursor() = 0;
  // Drops prepared statements kept across Opens (the link is going away).
  virtual void ReleaseStatements() {}
  TDatabase& RequireDatabase();
  // Reads the row the cursor stands before (used after Open and FindNearest).
  void ReadCurrent();
  std::unique_ptr<Cursor> cursor_;

 private:
  friend class TDatabase;
  void BindFields();
  TDatabase* database_ = nullptr;
  bool eof_ = true;
  std::vector<std::unique_ptr<TField>> persistent_;
  std::vector<FieldType> declared_types_;  // of persistent_, as declared
  std::vector<std::unique_ptr<TField>> dynamic_;
  std::vector<TField*> bound_;  // column i of the cursor -> its field
};

// A table of the database, read through one index.
class TTable : public TDataSet {
 public:
  TTable() = default;
  void SetTableName(std::string name) { table_name_ = std::move(name); }
  const std::string& TableName() const { return table_name_; }
  // The index rows are read in; empty reads in the store's own order.
  void SetIndexName(std::string name) { index_name_ = std::move(name); }
  // Kept for the data module's settings: tables are only ever read (a store
  // opened read-only is the database's SetReadOnly), so this does nothing.
  void SetReadOnly(bool /*on*/) {}
  // Whether the table exists, answered without opening it.
  bool Exists();
  // Whether the table has more than `n` rows, reading at most n + 1 of them.
  bool HasMoreRowsThan(int64_t n);
  // Positions on the first row whose index key is at or after `key` (a prefix
  // of the index columns may be given), else at the end, comparing as the
  // index does (SymbolTime ignores letter case in Symbol). Requires: Active.
  using KeyValue = std::variant<std::string, TDateTime>;
  void FindNearest(const std::vector<KeyValue>& key);
  // Positions on the last row whose index key is at or before `key` (a
  // prefix given: the last row of that prefix), else at the end; Next then
  // steps towards the first row, and Eof is true past it. One index probe,
  // however many rows lie before the key. FindNearest turns forward again.
  // Requires: Active.
  void FindPrior(const std::vector<KeyValue>& key);

 protected:
  std::unique_ptr<Cursor> MakeCursor() override;

 private:
  std::string table_name_;
  std::string index_name_;
};

// An SQL statement with :name parameters.
class TQuery : public TDataSet {
 public:
  TQuery();
  ~TQuery() override;
  // Replaces the statement; the parameters are re-derived from it, unbound.
  void SetSQL(std::string sql);
  void ClearSQL() { SetSQL(std::string()); }
  const std::string& SQL() const { return sql_; }
  // Parameter names match ignoring letter case. EDatabaseError when absent.
  TParam& ParamByName(std::string_view name);
  // Runs a statement that returns no rows; the statement is prepared once and
  // reused while the SQL text stays the same (SetSQL with the same text keeps
  // it, and clears the parameters' values).
  void ExecSQL();
  const std::vector<TParam>& Params() const { return params_; }

 protected:
  std::unique_ptr<Cursor> MakeCursor() override;
  void ReleaseStatements() override;

 private:
  std::string sql_;
  std::vector<TParam> params_;
  std::unique_ptr<Statement> exec_;  // the prepared statement of ExecSQL
  // sql_ in the placeholders of the driver named (DriverName) by
  // translated_for_, so that a query opened again on the same kind of link
  // is not translated again; nullptr when there is none yet.
  const char* translated_for_ = nullptr;
  std::unique_ptr<TranslatedSql> translated_;
};

// A procedure of the store, called by name ("usp_Closing_Price;1": the ";1"
// group suffix is not part of the name the store knows).
class TStoredProc : public TDataSet {
 public:
  TStoredProc() = default;
  void SetStoredProcName(std::string name) { proc_name_ = std::move(name); }
  const std::string& StoredProcName() const { return proc_name_; }
  // Declares the procedure's parameters in order, as the data module does.
  // The reference stays valid until the next DeclareParam.
  TParam& DeclareParam(const std::string& name, ParamType type, ParamDirection dir);
  // "@"-prefixed names as declared; matched ignoring letter case.
  TParam& ParamByName(std::string_view name);
  const std::vector<TParam>& Params() const { return params_; }

 protected:
  std::unique_ptr<Cursor> MakeCursor() override;

 private:
  std::string proc_name_;
  std::vector<TParam> params_;
};

}  // namespace morvane::db

#endif  // MORVANE_DATA_ENGINE_H_
