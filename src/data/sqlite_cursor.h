// Pieces shared by the SQLite driver's connection and its cursors. Internal
// to the driver (sqlite_driver.cc, sqlite_cursor.cc).
#ifndef MORVANE_DATA_SQLITE_CURSOR_H_
#define MORVANE_DATA_SQLITE_CURSOR_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
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

// How a table of one file is read in the order of one index: its key and
// the statement texts, worked out at the first open and kept with the file.
// A day table is opened and sought the same few ways at every request, and
// forming these texts again each time was most of what a small request
// allocated.
struct TableReading {
  std::vector<IndexColumn> key;  // empty: the file's order
  bool typed = false;            // key column types taken from the columns
  std::vector<ColumnInfo> columns;
  std::string select;  // every row in index order
  std::string count;   // how many rows
  // Seek statements by key length, forward [0] and backward [1]; empty
  // until first needed.
  std::vector<std::string> seek[2];
};

// A statement kept for the next use of the same text.
struct IdleStmt {
  std::string sql;
  sqlite3_stmt* s = nullptr;
};

// One open database file and its part in the connection's transaction.
struct Db {
  sqlite3* handle = nullptr;
  std::string file;
  dev_t dev = 0;  // the file's identity when it was opened
  ino_t ino = 0;
  // The use of the link (see SqliteConnection::Revalidate) in which the file
  // was last found to be still the one at its path.
  uint64_t checked_in_use = 0;
  // FileWatch's mark taken before the file was last found at its path; 0:
  // the path is looked at at every use.
  uint64_t watch_mark = 0;
  // The use of the link in which a reader last held back for a writer.
  uint64_t yielded_in_use = 0;
  bool in_tx = false;
  // Statements that were prepared to be run again (StmtLife::kKept) and are
  // not in use, most recently used last: the next PrepareStmt of the same
  // text takes one instead of compiling it again. A request opens the same
  // few statements every time, and compiling them cost more than running
  // them. A vector, so that taking and giving back allocate nothing.
  std::vector<IdleStmt> idle;
  // By table, then index (empty: none), as the driver's Reading works them
  // out: the schema of a day file does not change once the loader made it,
  // and a replaced file comes with a new Db. Ordered maps, so that a look-up
  // by the caller's texts forms no key.
  std::map<std::string, std::map<std::string, TableReading, std::less<>>, std::less<>> readings;
  // Tables a read-only link found in the file, by lower-case name.
  std::unordered_set<std::string> tables_found;
  ~Db() {
    for (IdleStmt& i : idle) sqlite3_finalize(i.s);
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
// Rows of `table` in the order of `reading`'s key (empty: the file's
// order). Requires: `reading` belongs to `db`.
std::unique_ptr<Cursor> MakeTableCursor(const std::string& alias, DbPtr db,
                                        const std::string& table, TableReading* reading);
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
