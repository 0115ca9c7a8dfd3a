#include "e2e/e2e_store.h"

#include <cstdlib>
#include <stdexcept>

namespace morvane::testing {

const char* StoreKindLabel(StoreKind kind) {
  return kind == StoreKind::kSqlite ? "SQLite" : "PostgreSQL";
}

bool E2eStore::Available(StoreKind kind) {
  return kind == StoreKind::kSqlite || !PostgresConnInfo().empty();
}

E2eStore::E2eStore(const std::string& settings, StoreKind kind) : kind_(kind) {
  std::filesystem::create_directories(dir_ / "etc");
  std::filesystem::create_directories(dir_ / "ticks");
  std::string login;
  if (kind == StoreKind::kSqlite) {
    WriteFile(dir_ / "aliases.ini",
              "[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks\n"
              "[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n"
              "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n"
              "[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n");
  } else {
    pg_ = std::make_unique<ScratchPostgresDb>();
    std::string text;
    for (const char* alias : {"HISTDATA", "Historical", "plrdata", "omsdata"}) {
      text += std::string("[") + alias + "]\nDRIVER=POSTGRES\nCONNINFO=" + pg_->conninfo() + "\n";
    }
    WriteFile(dir_ / "aliases.ini", text);
    login = "DBUSER=morvane\n";
  }
  WriteFile(dir_ / "oms.ini",
            "[MORVANE]\n" + login + settings + "\n[OMS_DATABASE]\nDSN_source=omsdata\n");
  if (Load("init") != 0) throw std::runtime_error("morvane-load init failed");
}

E2eStore::~E2eStore() = default;

int E2eStore::LoadCsv(const std::string& command, const std::string& csv) const {
  static int serial = 0;
  const std::filesystem::path file = dir_ / ("load" + std::to_string(++serial) + ".csv");
  WriteFile(file, csv);
  return Load(command + " '" + file.string() + "'");
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
