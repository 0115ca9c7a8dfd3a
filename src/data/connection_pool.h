// Links to stores kept between requests.
//
// A data module closes its named connections at the end of every request, so
// that a link a failure left behind never serves the next one. Making a link
// afresh costs more than most requests (opening and mapping the store's files
// and reading their schema, or a server login), so TDatabase::Close hands a
// link that is idle and healthy to this pool, and the next Open of the same
// store takes it back, as ODBC and JDBC pools do. A link is never handed out
// again when:
//   - it failed: the caller closes it with TDatabase::Discard;
//   - it is inside a transaction, or its driver says it is broken (a server
//     link whose server went away);
//   - it is stale when taken: a SQLite file replaced under its path since the
//     link opened it is reopened; a server link that the server closed while
//     it waited (a restart) is dropped;
//   - it waited longer than kIdleLifetime.
// The pool is keyed by everything the link was made from (driver, store,
// login, read-only, create), so an alias edited to name another store gets a
// link of its own.
//
// Threads: safe for concurrent use; links are made, checked and closed
// outside its lock.
//
// The pool also counts, by the alias a link was opened through, links made
// afresh, taken again and closed rather than kept: the extension's figures
// for the host (counted under the lock each call takes anyway).
#ifndef MORVANE_DATA_CONNECTION_POOL_H_
#define MORVANE_DATA_CONNECTION_POOL_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace morvane::db {

class Connection;

class ConnectionPool {
 public:
  static constexpr std::chrono::seconds kIdleLifetime{60};
  static constexpr size_t kMaxIdle = 256;

  // The process's pool. Never destroyed (links are closed by Clear, at
  // unload), so it is safe whatever order globals are destroyed in.
  static ConnectionPool& Process();

  // An idle link made under `key` that is still usable, or nullptr.
  // `alias` names the store for the counts only.
  std::unique_ptr<Connection> Take(const std::string& key, const std::string& alias);
  // Keeps `link` for a later Take of `key` when it is reusable; closes it
  // otherwise (and the oldest idle link when the pool is full).
  void Give(const std::string& key, const std::string& alias, std::unique_ptr<Connection> link);
  // The same with a key the caller keeps too, so that giving a link back
  // copies no text (a database gives its links back after every request).
  void Give(std::shared_ptr<const std::string> key, const std::string& alias,
            std::unique_ptr<Connection> link);
  // Closes every idle link.
  void Clear();
  size_t IdleCount();

  // A link of `alias` was made afresh (Take found none), or closed by its
  // user instead of given back (it failed).
  void CountOpened(const std::string& alias);
  void CountDiscarded(const std::string& alias);

  struct AliasStats {
    std::string alias;
    size_t kept = 0;  // idle now
    uint64_t opened = 0;
    uint64_t reused = 0;
    uint64_t discarded = 0;
  };
  // Every alias seen so far, in the order first seen.
  std::vector<AliasStats> Stats();

 private:
  struct Idle {
    std::shared_ptr<const std::string> key;
    std::string alias;
    std::unique_ptr<Connection> link;
    std::chrono::steady_clock::time_point since;
  };
  // Moves the links idle longer than kIdleLifetime into `expired`.
  // Requires: mu_.
  void TakeExpired(std::chrono::steady_clock::time_point now, std::vector<Idle>* expired);
  // The counts of `alias`, made on first use. Requires: mu_.
  AliasStats& CountsOf(const std::string& alias);

  std::mutex mu_;
  std::vector<Idle> idle_;  // oldest first
  std::vector<AliasStats> counts_;
};

}  // namespace morvane::db

#endif  // MORVANE_DATA_CONNECTION_POOL_H_
