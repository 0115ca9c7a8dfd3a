// The data module's process-wide settings: the pool limit read at load, the
// private connection's alias and credentials read at every module creation,
// and the record line end.
#include <atomic>

#include "data/hist_data.h"
#include "data/session_ids.h"
#include "support/int_parse.h"
#include "support/log.h"
#include "support/settings_location.h"

namespace morvane {
namespace {

// Written and read only under the pool's lock (module creation).
std::string g_dsn_source = "omsdata";
std::string g_dsn_user;
std::string g_dsn_password;

std::atomic<const char*> g_record_line_end{""};

}  // namespace

int32_t GetMaxConnection() {
  try {
    InitialLock();
    InitialSessionID();
    const auto ini = omsIniFile("");
    const std::string value = ini->ReadString("MORVANE", "MaxConnection", "");
    if (value.empty()) return 10;
    return ParseInt32Or(value, 10);
  } catch (...) {
    return 10;
  }
}

void DBInitConfig() {
  g_dsn_source = "omsdata";
  const auto ini = omsIniFile("");
  std::string source = ini->ReadString("OMS_DATABASE", "DSN_source", "");
  if (!source.empty()) g_dsn_source = std::move(source);
  g_dsn_user = ini->ReadString("OMS_DATABASE", "DSN_user", "");
  g_dsn_password = ini->ReadString("OMS_DATABASE", "DSN_password", "");
}

const std::string& DSNSource() {
  return g_dsn_source;
}
const std::string& DSNUser() {
  return g_dsn_user;
}
const std::string& DSNPassword() {
  return g_dsn_password;
}

std::string_view RecordLineEnd() {
  return g_record_line_end.load(std::memory_order_acquire);
}
void SetRecordLineEnd() {
  g_record_line_end.store("\r\n", std::memory_order_release);
}

void ClearDataModuleTexts() {
  g_dsn_source.clear();
  g_dsn_user.clear();
  g_dsn_password.clear();
  g_record_line_end.store("", std::memory_order_release);
}

}  // namespace morvane
