// Which alias each store is reached by, and opening it for writing.
#ifndef MORVANE_TOOLS_LOAD_STORES_H_
#define MORVANE_TOOLS_LOAD_STORES_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/engine.h"
#include "store_schema.h"

namespace morvane::load {

// The alias of a store: HISTDATA, Historical, plrdata, and for the order
// database the settings value OMS_DATABASE/DSN_source ("omsdata" when it is
// absent or empty, or when the settings cannot be read). A non-empty
// `override_alias` wins for every store.
std::string AliasFor(StoreRole role, const std::string& override_alias);

// One open, writable connection per alias, shared by the stores that name
// the same alias (so that they write in one transaction and never wait on
// each other's locks). Not thread-safe.
class StoreConnections {
 public:
  // Connects on first use. Raises EDatabaseError.
  db::TDatabase* Get(const std::string& alias);
  // Commits every open transaction, one connection after another. Raises
  // EDatabaseError; the connections before the failing one stay committed.
  void CommitAll();
  // Rolls back every open transaction; never throws.
  void RollbackAll() noexcept;
  // Drops every link (TDatabase::Close); never throws.
  void CloseAll() noexcept;

 private:
  std::map<std::string, std::unique_ptr<db::TDatabase>> dbs_;
};

// `init`: creates the fixed objects of every store whose alias is in the
// alias file (SchemaStatements), each store in one transaction. Returns one
// line per store saying what was done or why it was skipped. Raises
// EDatabaseError when a store fails, LoadError when no store's alias is
// in the alias file.
std::vector<std::string> InitStores(const std::string& override_alias);

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_STORES_H_
