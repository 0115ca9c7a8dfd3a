// The data module's settings: the pool limit read at load and the private
// connection's alias and credentials read at every module creation.
#include "data/hist_data.h"
#include "data/session_ids.h"
#include "support/int_parse.h"
#include "support/log.h"
#include "support/settings_location.h"

namespace morvane {

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

DsnLogin DBInitConfig(const TIniFile& settings) {
  DsnLogin dsn;
  std::string source = settings.ReadString("OMS_DATABASE", "DSN_source", "");
  if (!source.empty()) dsn.source = std::move(source);
  dsn.user = settings.ReadString("OMS_DATABASE", "DSN_user", "");
  dsn.password = settings.ReadString("OMS_DATABASE", "DSN_password", "");
  return dsn;
}

void ClearDataModuleTexts() {
  ClearSessionPrefix();
}

}  // namespace morvane
