// The small interface between the engine classes (engine.h) and the store
// drivers. Nothing outside src/data/ includes this file.
//
// A Connection is one live link to a store; a Cursor walks the rows of one
// result; a Statement is a prepared statement that returns no rows and is run
// many times. Cursors and statements must be destroyed before the connection
// that made them. None of these objects is safe for concurrent use: each
// belongs to the thread that uses its TDatabase.
#ifndef MORVANE_DATA_DRIVER_H_
#define MORVANE_DATA_DRIVER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine.h"

namespace morvane::db {

struct ColumnInfo {
  std::string name;
  // kUnknown when the store does not say (a SQLite expression column); the
  // field then keeps its declared type, or follows each value's own kind.
  FieldType type = FieldType::kUnknown;
};

class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Reads the next row into `fields` (one per column, same order) and returns
  // true, or returns false past the last row. A field is written according to
  // its DataType(); with kUnknown the driver sets the type from the value.
  virtual bool Fetch(std::span<TField* const> fields) = 0;
  // Repositions so that the next Fetch reads the first row whose index key is
  // at or after `key` (a prefix of the index columns). Tables only.
  virtual void Seek(std::span<const TTable::KeyValue> key);
  // Repositions so that the next Fetch reads the last row whose index key is
  // at or before `key` (a prefix: the last row of that prefix), and the
  // Fetches after it walk towards the first row. Tables only.
  virtual void SeekBackward(std::span<const TTable::KeyValue> key);
  // The number of rows of the whole result, independent of the position.
  virtual int64_t RecordCount() = 0;
};

class Statement {
 public:
  virtual ~Statement() = default;
  // Runs the statement once with `params`, one per distinct parameter of the
  // statement in order of first appearance.
  virtual void Execute(std::span<const TParam> params) = 0;
};

// A statement with its ":name" parameters replaced by the driver's numbered
// placeholders; `names` holds each distinct name (first spelling) in the order
// of the placeholder numbers.
struct TranslatedSql {
  std::string text;
  std::vector<std::string> names;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual const char* DriverName() const = 0;
  // Rewrites ":name" parameters into this driver's placeholders.
  virtual TranslatedSql Translate(std::string_view sql) const = 0;

  virtual void ExecuteDirect(const std::string& sql) = 0;
  // See TDatabase::CopyRows. The default: no bulk transfer.
  virtual void CopyRows(const std::string& table, const std::vector<std::string_view>& columns,
                        const TCopyRows& rows);
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;

  // Whether the link, now that its cursors and statements are gone, may be
  // kept for a later open of the same store: outside a transaction and not
  // known to be broken.
  virtual bool Reusable() = 0;
  // Called when a kept link is taken again: drops what went stale while it
  // waited (files replaced under their paths) and says whether the link can
  // still be used (false: a server closed it).
  virtual bool Revalidate() = 0;

  virtual bool TableExists(const std::string& table) = 0;
  virtual bool HasMoreRowsThan(const std::string& table, int64_t n) = 0;
  // Reads `table` in the order of index `index` (empty: the store's order).
  virtual std::unique_ptr<Cursor> OpenTable(const std::string& table, const std::string& index) = 0;
  virtual std::unique_ptr<Cursor> OpenQuery(const TranslatedSql& sql,
                                            std::span<const TParam> params) = 0;
  virtual std::unique_ptr<Statement> Prepare(const TranslatedSql& sql) = 0;
  // Calls the procedure `name` (without a ";n" suffix) with the declared
  // input parameters (names still "@"-prefixed where declared so).
  virtual std::unique_ptr<Cursor> OpenProcedure(const std::string& name,
                                                std::span<const TParam> params) = 0;
};

// The parameter of `params` named `name` (letter case ignored), or nullptr.
TParam* FindParam(std::vector<TParam>& params, std::string_view name);

struct AliasConfig;

// The login a server store gets from the "USER NAME" and "PASSWORD"
// parameters; `given` is false when neither was set.
struct Login {
  bool given = false;
  std::string user;
  std::string password;
};

// Connects to the store of `alias`. Raises EDatabaseError naming the alias,
// also when a SQLite store does not exist and `create` is false; with
// `create` (and not `read_only`) a missing store is made empty.
std::unique_ptr<Connection> OpenSqliteConnection(const AliasConfig& alias, bool read_only,
                                                 bool create);
std::unique_ptr<Connection> OpenPostgresConnection(const AliasConfig& alias, const Login& login,
                                                   bool read_only);

}  // namespace morvane::db

#endif  // MORVANE_DATA_DRIVER_H_
