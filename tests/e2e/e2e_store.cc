#include "e2e/e2e_store.h"

#include <cstdlib>
#include <stdexcept>

namespace morvane::testing {

E2eStore::E2eStore(const std::string& settings) {
  std::filesystem::create_directories(dir_ / "etc");
  std::filesystem::create_directories(dir_ / "ticks");
  WriteFile(dir_ / "oms.ini", "[MORVANE]\n" + settings + "\n[OMS_DATABASE]\nDSN_source=omsdata\n");
  WriteFile(dir_ / "aliases.ini",
            "[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks\n"
            "[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n"
            "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n"
            "[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n");
  if (Load("init") != 0) throw std::runtime_error("morvane-load init failed");
}

std::map<std::string, std::string> E2eStore::env() const {
  return {{"MORVANE_LOG", log_path().string()},
          {"MORVANE_SYSCONFDIR", etc_dir().string()},
          {"MORVANE_ALIASES", (dir() / "aliases.ini").string()}};
}

int E2eStore::Load(const std::string& args) const {
  const std::string cmd = "cd '" + dir().string() + "' && MORVANE_SYSCONFDIR='" +
                          etc_dir().string() + "' '" + (BuildDir() / "morvane-load").string() +
                          "' " + args + " >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace morvane::testing
