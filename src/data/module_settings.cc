// The data module's process-wide settings: the pool limit read at load and
// the private connection's alias and credentials read at every module
// creation.
#include "data/hist_data.h"
#include "data/session_ids.h"
#include "support/int_parse.h"
#include "support/log.h"
#include "support/settings_location.h"

namespace morvane {
namespace {

// The private connection's alias and login. Written and read only under the
// pool's lock (module creation), and emptied when the library is unloaded.
struct DsnTexts {
  std::string source = "omsdata";
  std::string user;
  std::string password;
};

DsnTexts& Dsn() {
  // Never destroyed: the extension's own global object empties these texts
  // when the library is unloaded, and the order in which the globals of
  // different files are destroyed is unspecified.
  static DsnTexts* const texts = new DsnTexts;
  return *texts;
}

}  // namespace

void OpenLogAndStartSessionIDs() {
  InitialLock();
  InitialSessionID();
}

int32_t GetMaxConnection() {
  try {
    OpenLogAndStartSessionIDs();
    const auto ini = omsIniFile("");
    const std::string value = ini->ReadString("MORVANE", "MaxConnection", "");
    if (value.empty()) return 10;
    return ParseInt32Or(value, 10);
  } catch (...) {
    return 10;
  }
}

void DBInitConfig(const TIniFile& settings) {
  DsnTexts& dsn = Dsn();
  dsn.source = "omsdata";
  std::string source = settings.ReadString("OMS_DATABASE", "DSN_source", "");
  if (!source.empty()) dsn.source = std::move(source);
  dsn.user = settings.ReadString("OMS_DATABASE", "DSN_user", "");
  dsn.password = settings.ReadString("OMS_DATABASE", "DSN_password", "");
}

const std::string& DSNSource() {
  return Dsn().source;
}
const std::string& DSNUser() {
  return Dsn().user;
}
const std::string& DSNPassword() {
  return Dsn().password;
}

void ClearDataModuleTexts() {
  DsnTexts& dsn = Dsn();
  dsn.source.clear();
  dsn.user.clear();
  dsn.password.clear();
  ClearSessionPrefix();
}

}  // namespace morvane
