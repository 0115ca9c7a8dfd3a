#include "web/request_settings.h"

#include <atomic>

#include "support/error.h"
#include "support/settings_location.h"

namespace morvane {
namespace {
std::atomic<bool> g_execution_tick_only{false};
}  // namespace

RequestSettings ReadRequestSettings() {
  const auto ini = omsIniFile("");
  RequestSettings s;
  const std::string nominal = ini->ReadString("MORVANE", "NominalUpdateTimestamp", "16:00:00");
  const auto time = ParseTimeOfDay(nominal);
  if (!time) throw EConvertError("'" + nominal + "' is not a valid time");
  s.nominal_update_timestamp = *time;
  const std::string tick_only = ini->ReadString("MORVANE", "ExecutionTickOnly", "N");
  if (!tick_only.empty() && (tick_only[0] == 'Y' || tick_only[0] == 'y')) {
    g_execution_tick_only.store(true, std::memory_order_relaxed);
  }
  s.execution_tick_only = g_execution_tick_only.load(std::memory_order_relaxed);
  s.calc_mode = ini->ReadString("MORVANE", "CalcMode", "DC");
  s.db_mode = ini->ReadString("MORVANE", "DBMode", "PARADOX");
  return s;
}

}  // namespace morvane
