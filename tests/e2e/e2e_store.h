// A working directory for a real morvane-server: settings, aliases and
// SQLite stores made with morvane-load, and the diagnostic log.
#ifndef MORVANE_TESTS_E2E_E2E_STORE_H_
#define MORVANE_TESTS_E2E_E2E_STORE_H_

#include <map>
#include <memory>
#include <string>

#include "support/test_env.h"

namespace morvane::testing {

// Where the four stores live: SQLite files (the tick tables a directory), or
// one scratch database of the run's PostgreSQL cluster for all four.
enum class StoreKind { kSqlite, kPostgres };
const char* StoreKindLabel(StoreKind kind);

class E2eStore {
 public:
  // Writes oms.ini (with `settings` as the [MORVANE] lines) and aliases.ini,
  // and runs "morvane-load init" there. On PostgreSQL the settings start with
  // the cluster's login (DBUSER) and every alias names one scratch database.
  // Requires for kPostgres: Available(kPostgres).
  explicit E2eStore(const std::string& settings = "MaxConnection=10\n",
                    StoreKind kind = StoreKind::kSqlite);
  ~E2eStore();

  // False for kPostgres when the run has no PostgreSQL cluster.
  static bool Available(StoreKind kind);
  StoreKind kind() const { return kind_; }

  const std::filesystem::path& dir() const { return dir_.path(); }
  std::filesystem::path log_path() const { return dir_ / "KMDL.log"; }
  std::filesystem::path etc_dir() const { return dir_ / "etc"; }
  // The environment a server needs to run on this store.
  std::map<std::string, std::string> env() const;
  // Runs morvane-load with `args` in this directory; returns its exit code.
  int Load(const std::string& args) const;
  // Writes `csv` to a file in this directory and loads it with
  // "morvane-load <command> FILE" (command may carry options, such as
  // "intervals --length 60"); returns the exit code.
  int LoadCsv(const std::string& command, const std::string& csv) const;
  std::string Log() const { return ReadFile(log_path()); }

 private:
  TempDir dir_;
  StoreKind kind_;
  std::unique_ptr<ScratchPostgresDb> pg_;
};

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_E2E_E2E_STORE_H_
