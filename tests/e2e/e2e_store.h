// A working directory for a real morvane-server: settings, aliases and
// SQLite stores made with morvane-load, and the diagnostic log.
#ifndef MORVANE_TESTS_E2E_E2E_STORE_H_
#define MORVANE_TESTS_E2E_E2E_STORE_H_

#include <map>
#include <string>

#include "support/test_env.h"

namespace morvane::testing {

class E2eStore {
 public:
  // Writes oms.ini (with `settings` as the [MORVANE] lines) and aliases.ini,
  // and runs "morvane-load init" there.
  explicit E2eStore(const std::string& settings = "MaxConnection=10\n");

  const std::filesystem::path& dir() const { return dir_.path(); }
  std::filesystem::path log_path() const { return dir_ / "KMDL.log"; }
  std::filesystem::path etc_dir() const { return dir_ / "etc"; }
  // The environment a server needs to run on this store.
  std::map<std::string, std::string> env() const;
  // Runs morvane-load with `args` in this directory; returns its exit code.
  int Load(const std::string& args) const;
  std::string Log() const { return ReadFile(log_path()); }

 private:
  TempDir dir_;
};

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_E2E_E2E_STORE_H_
