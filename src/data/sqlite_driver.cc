#include "data/sqlite_driver.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <map>
#include <system_error>
#include <thread>

#include "data/sql_params.h"
#include "data/sqlite_cursor.h"
#include "data/sqlite_watched_vfs.h"
#include "data/store_text.h"
#include "support/ascii_text.h"
#include "support/file_watch.h"

namespace morvane::db {
namespace {

using namespace sqlite;  // NOLINT: the driver's own pieces
namespace fs = std::filesystem;

// How long a writer waits for another process's lock before failing.
constexpr int kBusyTimeoutMs = 5000;
// How long a commit waits, in all, for readers to leave the file.
constexpr auto kCommitWait = std::chrono::seconds(60);
// How long a reader holds back, at most, from a file that another process
// is writing.
constexpr auto kWriterPrecedence = std::chrono::milliseconds(1000);
// Table files kept open in a directory store beyond those in use; a day walk
// over a year must not hold a file per day.
constexpr size_t kMaxIdleTableFiles = 8;

// Readers of one process share one read lock on a file: SQLite gives a
// further connection of the process the lock the process already holds,
// without looking at the pending lock of a writer waiting to commit. So a
// server whose requests read today's file back to back holds its lock with
// no gap for as long as they keep coming, and a load into that file never
// commits. A reader that finds another process writing the file (holding
// its reserved lock) therefore waits for the writer to finish, for at most
// kWriterPrecedence, before it starts: the requests already reading finish,
// the process's lock falls, and the waiting commit takes the file.
void YieldToWriter(sqlite3* handle) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(handle, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr) {
    return;
  }
  const auto give_up = std::chrono::steady_clock::now() + kWriterPrecedence;
  int writing = 0;
  while (file->pMethods->xCheckReservedLock(file, &writing) == SQLITE_OK && writing != 0 &&
         std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool StartsWithWord(std::string_view s, std::string_view word) {
  return s.size() >= word.size() && EqualsIgnoringCase(s.substr(0, word.size()), word);
}

// The first table a statement names, for directory stores.
std::string FirstTableNamed(std::string_view sql);

class SqliteConnection : public Connection {
 public:
  SqliteConnection(const AliasConfig& alias, bool read_only, bool create)
      : alias_(alias), read_only_(read_only), create_(create) {
    std::error_code ec;
    if (alias_.directory) {
      if (!fs::is_directory(alias_.path, ec)) {
        if (read_only_ || !create) {
          throw EDatabaseError("Cannot open alias '" + alias_.name + "': directory " +
                               alias_.path.string() + " does not exist");
        }
        fs::create_directories(alias_.path, ec);
        if (ec) {
          throw EDatabaseError("Cannot create directory " + alias_.path.string() + " of alias '" +
                               alias_.name + "': " + ec.message());
        }
      }
    } else {
      if (!read_only_ && create && alias_.path.has_parent_path()) {
        fs::create_directories(alias_.path.parent_path(), ec);
      }
      main_ = OpenMainFile(create);
    }
  }

  const char* DriverName() const override { return "SQLITE"; }
  TranslatedSql Translate(std::string_view sql) const override { return TranslateParams(sql, '?'); }

  void ExecuteDirect(const std::string& sql) override {
    const DbPtr db = ForStatement(sql);
    char* err = nullptr;
    if (sqlite3_exec(db->handle, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      const std::string msg = err != nullptr ? err : sqlite3_errmsg(db->handle);
      sqlite3_free(err);
      throw EDatabaseError("Statement failed: " + msg + " (alias '" + alias_.name + "')");
    }
  }

  void Begin() override {
    in_tx_ = true;
    if (main_) Join(main_);
    for (auto& [name, db] : tables_) Join(db);
  }
  void Commit() override { EndTransaction("COMMIT"); }
  void Rollback() override { EndTransaction("ROLLBACK"); }
  bool InTransaction() const override { return in_tx_; }

  bool Reusable() override {
    if (in_tx_ || (main_ && main_->in_tx)) return false;
    for (auto& [name, db] : tables_) {
      if (db->in_tx) return false;
    }
    return true;
  }

  bool Revalidate() override {
    // A file replaced under its path (a store rebuilt and renamed into
    // place) must be read afresh, not through the old file this link holds.
    // Each file is looked at when this use of the link first reaches it
    // (Current), not all of them here: a link to a directory of day tables
    // holds several, and a request reads one or two.
    ++use_;
    return true;
  }

  bool TableExists(const std::string& table) override {
    const DbPtr db = ForTable(table, false);
    return db != nullptr && HasTable(db, table);
  }

  bool HasMoreRowsThan(const std::string& table, int64_t n) override {
    const DbPtr db = RequireTable(table);
    Stmt st;
    // Counting at most n + 1 rows keeps the answer cheap on a day's table.
    PrepareStmt(alias_.name, db,
                "SELECT count(*) FROM (SELECT 1 FROM " + Quote(table) + " LIMIT ?1)", &st,
                StmtLife::kKept);
    sqlite3_bind_int64(st.s, 1, n + 1);
    if (sqlite3_step(st.s) != SQLITE_ROW) Fail(alias_.name, db->handle, "Cannot count rows");
    return sqlite3_column_int64(st.s, 0) > n;
  }

  std::unique_ptr<Cursor> OpenTable(const std::string& table, const std::string& index) override {
    const DbPtr db = RequireTable(table);
    return MakeTableCursor(alias_.name, db, table, Reading(db, table, index));
  }

  std::unique_ptr<Cursor> OpenQuery(const TranslatedSql& sql,
                                    std::span<const TParam> params) override {
    return MakeQueryCursor(alias_.name, ForStatement(sql.text), sql.text, params, false);
  }

  std::unique_ptr<Statement> Prepare(const TranslatedSql& sql) override {
    return MakeStatement(alias_.name, ForStatement(sql.text), sql.text);
  }

  std::unique_ptr<Cursor> OpenProcedure(const std::string& name,
                                        std::span<const TParam> params) override {
    const std::string body = ProcedureBody(name);
    return MakeQueryCursor(alias_.name, ForStatement(body), body, params, true);
  }

 private:
  // The one database file of the alias. Only a store's maker creates it: a
  // server that finds its store missing must say so rather than serve from
  // an empty one made on the spot.
  DbPtr OpenMainFile(bool create) {
    std::error_code ec;
    if ((read_only_ || !create) && !fs::is_regular_file(alias_.path, ec)) {
      throw EDatabaseError("Cannot open alias '" + alias_.name + "': database file " +
                           alias_.path.string() + " does not exist");
    }
    return OpenFile(alias_.path, create);
  }

  // Whether `db` is still the file at its path, looked at once per use of
  // the link, and then only when the file watch cannot vouch for it.
  bool Current(Db& db) {
    if (db.checked_in_use == use_) return true;
    FileWatch& watch = ProcessFileWatch();
    if (!watch.Unchanged(db.watch_mark)) {
      const uint64_t mark = watch.Mark(db.file, FileWatch::kIdentity);
      if (!SameFile(db)) return false;
      db.watch_mark = mark;
    }
    db.checked_in_use = use_;
    return true;
  }

  DbPtr OpenFile(const fs::path& file, bool create) {
    auto db = std::make_shared<Db>();
    db->checked_in_use = use_;
    db->file = file.string();
    db->watch_mark = ProcessFileWatch().Mark(db->file, FileWatch::kIdentity);
    const int flags = (read_only_ ? SQLITE_OPEN_READONLY
                                  : SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0)) |
                      SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(db->file.c_str(), &db->handle, flags, WatchedVfsName()) != SQLITE_OK) {
      Fail(alias_.name, db->handle, "Cannot open database file " + db->file);
    }
    struct stat st {};
    if (::stat(db->file.c_str(), &st) == 0) {
      db->dev = st.st_dev;
      db->ino = st.st_ino;
    }
    sqlite3_busy_timeout(db->handle, kBusyTimeoutMs);
    // Files are read with read(), never mapped: a day file cut short by
    // another process while a request reads it would turn the next access
    // to a mapped page past its new end into SIGBUS and end the whole
    // server, where a short read is an error of that one request.
    //
    // A writer (the loader) adds a day's ticks in time order, so every row
    // goes to another place in the SymbolTime index: with SQLite's default
    // 2 MiB of cache a large day rereads and rewrites index pages all the
    // time. Readers walk the index in order and need no more.
    if (!read_only_) {
      sqlite3_exec(db->handle, "PRAGMA cache_size = -131072", nullptr, nullptr, nullptr);
    }
    sqlite3_extended_result_codes(db->handle, 1);
    return db;
  }

  static bool SameFile(const Db& db) {
    struct stat st {};
    return ::stat(db.file.c_str(), &st) == 0 && st.st_dev == db.dev && st.st_ino == db.ino;
  }

  void Join(const DbPtr& db) {
    if (!in_tx_ || db->in_tx) return;
    char* err = nullptr;
    if (sqlite3_exec(db->handle, "BEGIN", nullptr, nullptr, &err) != SQLITE_OK) {
      const std::string msg = err != nullptr ? err : "";
      sqlite3_free(err);
      throw EDatabaseError("Cannot start a transaction: " + msg + " (alias '" + alias_.name + "')");
    }
    db->in_tx = true;
  }

  void EndTransaction(const char* verb) {
    std::string failure;
    const bool commit = std::string_view(verb) == "COMMIT";
    const auto give_up = std::chrono::steady_clock::now() + kCommitWait;
    auto end = [&](const DbPtr& db) {
      if (!db->in_tx) return;
      char* err = nullptr;
      int rc = SQLITE_OK;
      // A commit that found the file still read after the busy timeout keeps
      // its pending lock and tries again. The pending lock turns away readers
      // that come to the file anew, but not those of a process that already
      // reads it: SQLite lets further connections of that process share its
      // read lock. A server whose requests read today's file back to back
      // without a pause holds the lock that long, so one busy timeout is not
      // enough for a load into that file.
      while (((rc = sqlite3_exec(db->handle, verb, nullptr, nullptr, &err)) & 0xff) ==
                 SQLITE_BUSY &&
             commit && std::chrono::steady_clock::now() < give_up) {
        sqlite3_free(err);
        err = nullptr;
      }
      if (rc != SQLITE_OK && failure.empty()) {
        failure = err != nullptr ? err : sqlite3_errmsg(db->handle);
      }
      sqlite3_free(err);
      db->in_tx = sqlite3_get_autocommit(db->handle) == 0;
    };
    if (main_) end(main_);
    for (auto& [name, db] : tables_) end(db);
    in_tx_ = false;
    if (!failure.empty()) {
      throw EDatabaseError(std::string(verb) + " failed: " + failure + " (alias '" + alias_.name +
                           "')");
    }
  }

  // The file holding `table`: the one database file, or in a directory the
  // table's own file (nullptr when it does not exist and `create` is false).
  DbPtr ForTable(const std::string& table, bool create) {
    if (main_) {
      // Nothing reads the file at the start of a use of the link, so the
      // one it held may be let go for the file now at the path.
      if (!Current(*main_)) main_ = OpenMainFile(create_);
      Join(main_);
      YieldToWriterBeforeReading(*main_);
      return main_;
    }
    auto it = tables_.find(table);
    if (it != tables_.end() && !Current(*it->second)) {
      tables_.erase(it);
      it = tables_.end();
    }
    if (it == tables_.end()) {
      const fs::path file = alias_.path / (table + ".db");
      std::error_code ec;
      if (!fs::is_regular_file(file, ec) && !(create && !read_only_)) return nullptr;
      DropIdleFiles();
      it = tables_.emplace(table, OpenFile(file, create)).first;
    }
    Join(it->second);
    YieldToWriterBeforeReading(*it->second);
    return it->second;
  }

  // Once per file and use of the link, before the file is first read in
  // it: the gap between two requests is what a waiting writer needs. A
  // reader that already reads the file (a statement of it is open) holds its
  // share of the lock anyway.
  void YieldToWriterBeforeReading(Db& db) const {
    if (!read_only_ || db.yielded_in_use == use_) return;
    db.yielded_in_use = use_;
    if (sqlite3_txn_state(db.handle, nullptr) == SQLITE_TXN_NONE) YieldToWriter(db.handle);
  }

  DbPtr ForStatement(std::string_view sql) {
    if (main_) return ForTable(std::string(), false);
    const std::string table = FirstTableNamed(sql);
    if (table.empty()) {
      throw EDatabaseError("Statement names no table of the directory of alias '" + alias_.name +
                           "'");
    }
    DbPtr db = ForTable(table, StartsWithWord(sql, "CREATE"));
    if (!db) {
      throw EDatabaseError("Table '" + table + "' does not exist (alias '" + alias_.name + "')");
    }
    return db;
  }

  void DropIdleFiles() {
    if (tables_.size() < kMaxIdleTableFiles) return;
    for (auto it = tables_.begin(); it != tables_.end();) {
      // Only this map holds an idle file; a cursor or statement keeps its own.
      if (it->second.use_count() == 1 && !it->second->in_tx) {
        it = tables_.erase(it);
      } else {
        ++it;
      }
    }
  }

  bool HasTable(const DbPtr& db, const std::string& table) {
    // A reader asks about the same day table twice per open (whether it
    // exists, then before reading it): a table once found is remembered
    // for the file. Only a writer's own transaction could take one away
    // again, and a writer never remembers.
    std::string known;
    if (read_only_) {
      known = table;
      for (char& c : known) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (db->tables_found.contains(known)) return true;
    }
    Stmt st;
    PrepareStmt(alias_.name, db,
                "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?1 "
                "COLLATE NOCASE",
                &st, StmtLife::kKept);
    sqlite3_bind_text(st.s, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(st.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(alias_.name, db->handle, "Cannot read schema");
    if (rc == SQLITE_ROW && read_only_) db->tables_found.insert(std::move(known));
    return rc == SQLITE_ROW;
  }

  DbPtr RequireTable(const std::string& table) {
    DbPtr db = ForTable(table, false);
    if (!db || !HasTable(db, table)) {
      throw EDatabaseError("Table '" + table + "' does not exist (alias '" + alias_.name + "')");
    }
    return db;
  }

  // How `table` is read in the order of index `index` (empty: none), kept
  // with the file. In one database file index names are shared by all
  // tables, so "<table>_<index>" is accepted too.
  TableReading* Reading(const DbPtr& db, const std::string& table, const std::string& index) {
    auto by_table = db->readings.find(table);
    if (by_table != db->readings.end()) {
      if (const auto it = by_table->second.find(index); it != by_table->second.end()) {
        return &it->second;
      }
    }
    TableReading reading;
    if (!index.empty()) reading.key = ReadIndexKey(db, table, index);
    if (by_table == db->readings.end()) by_table = db->readings.try_emplace(table).first;
    return &by_table->second.emplace(index, std::move(reading)).first->second;
  }

  std::vector<IndexColumn> ReadIndexKey(const DbPtr& db, const std::string& table,
                                        const std::string& index) {
    Stmt find;
    PrepareStmt(
        alias_.name, db,
        "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE "
        "AND (name = ?2 COLLATE NOCASE OR name = (?1 || '_' || ?2) COLLATE NOCASE)",
        &find, StmtLife::kKept);
    sqlite3_bind_text(find.s, 1, table.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(find.s, 2, index.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(find.s) != SQLITE_ROW) {
      throw EDatabaseError("Index '" + index + "' does not exist on table '" + table +
                           "' (alias '" + alias_.name + "')");
    }
    const std::string found = reinterpret_cast<const char*>(sqlite3_column_text(find.s, 0));
    Stmt info;
    PrepareStmt(alias_.name, db,
                "SELECT name, coll FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno", &info,
                StmtLife::kKept);
    sqlite3_bind_text(info.s, 1, found.c_str(), -1, SQLITE_STATIC);
    std::vector<IndexColumn> key;
    while (sqlite3_step(info.s) == SQLITE_ROW) {
      const auto* col = reinterpret_cast<const char*>(sqlite3_column_text(info.s, 0));
      const auto* coll = reinterpret_cast<const char*>(sqlite3_column_text(info.s, 1));
      if (col == nullptr) {
        throw EDatabaseError("Index '" + found + "' has an expression key, which cannot be read");
      }
      key.push_back({col, coll != nullptr ? coll : "", FieldType::kUnknown});
    }
    return key;
  }

  std::string ProcedureBody(const std::string& name) {
    DbPtr db = ForTable(kSqliteProcedureTable, false);
    if (!db || !HasTable(db, kSqliteProcedureTable)) {
      throw EDatabaseError("Stored procedure '" + name + "' not found: the store has no table " +
                           kSqliteProcedureTable + " (alias '" + alias_.name + "')");
    }
    Stmt st;
    PrepareStmt(alias_.name, db,
                std::string("SELECT body FROM ") + kSqliteProcedureTable +
                    " WHERE name = ?1 COLLATE NOCASE",
                &st, StmtLife::kKept);
    sqlite3_bind_text(st.s, 1, name.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(st.s) != SQLITE_ROW || sqlite3_column_type(st.s, 0) == SQLITE_NULL) {
      throw EDatabaseError("Stored procedure '" + name + "' not found (alias '" + alias_.name +
                           "')");
    }
    return reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0));
  }

  AliasConfig alias_;
  bool read_only_;
  bool create_;
  bool in_tx_ = false;
  uint64_t use_ = 1;                     // counts the takes of the link from the pool
  DbPtr main_;                           // a database file
  std::map<std::string, DbPtr> tables_;  // a directory: open table files
};

// Skips blanks, comments and quoted strings; returns identifiers and words.
class Tokens {
 public:
  explicit Tokens(std::string_view s) : s_(s) {}
  // The next word or identifier (unquoted), or empty at the end.
  bool Next(std::string* out) {
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == '-' && i_ + 1 < s_.size() && s_[i_ + 1] == '-') {
        const size_t nl = s_.find('\n', i_);
        i_ = nl == std::string_view::npos ? s_.size() : nl;
      } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
        const size_t e = s_.find("*/", i_ + 2);
        i_ = e == std::string_view::npos ? s_.size() : e + 2;
      } else if (c == '\'') {
        const size_t e = s_.find('\'', i_ + 1);
        i_ = e == std::string_view::npos ? s_.size() : e + 1;
      } else if (c == '"' || c == '[' || c == '`') {
        const char close = c == '[' ? ']' : c;
        const size_t e = s_.find(close, i_ + 1);
        const size_t end = e == std::string_view::npos ? s_.size() : e;
        out->assign(s_.substr(i_ + 1, end - i_ - 1));
        i_ = end + 1;
        return true;
      } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
        size_t e = i_;
        while (e < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[e])) || s_[e] == '_'))
          ++e;
        out->assign(s_.substr(i_, e - i_));
        i_ = e;
        return true;
      } else {
        ++i_;
      }
    }
    return false;
  }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

std::string FirstTableNamed(std::string_view sql) {
  Tokens t(sql);
  std::string word;
  bool next_is_table = false;
  while (t.Next(&word)) {
    const auto is = [&](std::string_view w) { return EqualsIgnoringCase(word, w); };
    if (next_is_table) {
      if (is("IF") || is("NOT") || is("EXISTS")) continue;
      return word;
    }
    next_is_table = is("FROM") || is("INTO") || is("UPDATE") || is("TABLE") || is("ON");
  }
  return {};
}

}  // namespace

FieldType SqliteDeclaredType(const char* decl) {
  if (decl == nullptr) return FieldType::kUnknown;
  std::string d(decl);
  for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("DATETIME") || has("TIMESTAMP")) return FieldType::kDateTime;
  if (has("DATE")) return FieldType::kDate;
  if (has("TIME")) return FieldType::kTime;
  if (has("INT")) return FieldType::kInteger;
  if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL") ||
      has("MONEY")) {
    return FieldType::kFloat;
  }
  if (has("CHAR") || has("TEXT") || has("CLOB")) return FieldType::kText;
  return FieldType::kUnknown;
}

std::unique_ptr<Connection> OpenSqliteConnection(const AliasConfig& alias, bool read_only,
                                                 bool create) {
  return std::make_unique<SqliteConnection>(alias, read_only, create);
}

}  // namespace morvane::db