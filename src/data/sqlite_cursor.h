// Pieces shared by the SQLite driver's connection and its cursors. Internal
// to the driver (sqlite_driver.cc, sqlite_cursor.cc).
#ifndef MORVANE_DATA_SQLITE_CURSOR_H_
#define MORVANE_DATA_SQLITE_CURSOR_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/driver.h"

namespace morvane::db::sqlite {

std::string Quote(std::string_view ident);

struct IndexColumn {
  std::string name;
  std::string collation;  // empty or BINARY: none
  FieldType type = FieldType::kUnknown;
};

// One open database file and its part in the connection's transaction.
struct Db {
  sqlite3* handle = nullptr;
  std::string file;
  dev_t dev = 0;  // the file's identity when it was opened
  ino_t ino = 0;
  bool in_tx = false;
  // Statements that were prepared to be run again (StmtLife::kKept) and are
  // not in use, by their SQL text: the next PrepareStmt of the same text
  // takes one instead of compiling it again. A request opens the same few
  // statements every time, and compiling them cost more than running them.
  std::unordered_multimap<std::string, sqlite3_stmt*> idle;
  // Index key columns already looked up, by "<table>\n<index>" (the
  // driver's IndexKey): the schema of a day file does not change once the
  // loader made it, and a replaced file comes with a new Db.
  std::unordered_map<std::string, std::vector<IndexColumn>> index_keys;
  // Tables a read-only link found in the file, by lower-case name.
  std::unordered_set<std::string> tables_found;
  ~Db() {
    for (auto& [sql, s] : idle) sqlite3_finalize(s);
    sqlite3_close_v2(handle);
  }
};
using DbPtr = std::shared_ptr<Db>;

// The most idle statements a file keeps; more are finalized.
constexpr size_t kMaxIdleStatements = 64;

[[noreturn]] void Fail(const std::string& alias, sqlite3* db, const std::string& what);

// A prepared statement, finalized with its owner, or (when it is to be run
// again) reset and handed back to its file's idle statements. Requires: the
// Db it was prepared on outlives it (cursors hold their DbPtr as a member
// declared before their statements).
struct Stmt {
  sqlite3_stmt* s = nullptr;
  Db* home = nullptr;  // set for a statement that goes back to home->idle
  std::string sql;
  Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt();
};

// How long a prepared statement lives: kOnce for a statement stepped once and
// finalized, kKept for one that is reset and run again (SQLite then keeps it
// out of its short-lived lookaside memory, and the file keeps it for the
// next statement of the same text).
enum class StmtLife { kOnce, kKept };

void PrepareStmt(const std::string& alias, const DbPtr& db, const std::string& sql, Stmt* out,
                 StmtLife life);

// Rows of a query. With `by_name`, the statement's own parameters ("@From")
// take the value of the declared parameter of that name ("@from"), the rest
// null; otherwise parameter i takes params[i - 1].
std::unique_ptr<Cursor> MakeQueryCursor(const std::string& alias, DbPtr db, const std::string& sql,
                                        std::span<const TParam> params, bool by_name);
// Rows of `table` in the order of `key` (empty: the file's order).
std::unique_ptr<Cursor> MakeTableCursor(const std::string& alias, DbPtr db,
                                        const std::string& table, std::vector<IndexColumn> key);
// The statement that finds the first row at or after a key of the first `k`
// columns of `key`, in index order; kBackward: the last row at or before it,
// in reverse index order.
enum class SeekDirection { kForward, kBackward };
std::string SeekSql(const std::string& table, const std::vector<IndexColumn>& key, size_t k,
                    SeekDirection direction = SeekDirection::kForward);

std::unique_ptr<Statement> MakeStatement(const std::string& alias, DbPtr db,
                                         const std::string& sql);

}  // namespace morvane::db::sqlite

#endif  // MORVANE_DATA_SQLITE_CURSOR_H_
