// The settings a request is answered with.
//
// The handler reads NominalUpdateTimestamp, ExecutionTickOnly, CalcMode and
// DBMode from the settings file at the start of every request and hands the
// generators this copy, so that a settings file edited while requests run
// never gives one request a torn mix of old and new values.
#ifndef MORVANE_WEB_REQUEST_SETTINGS_H_
#define MORVANE_WEB_REQUEST_SETTINGS_H_

#include <string>

#include "support/date_time.h"

namespace morvane {

struct RequestSettings {
  TDateTime nominal_update_timestamp = 0;  // time of day
  bool execution_tick_only = false;
  std::string calc_mode = "DC";
  std::string db_mode = "PARADOX";
};

// Reads the four values from section MORVANE of the settings file (a fresh
// look-up). ExecutionTickOnly is process-wide and only ever switched on: a
// value starting with "Y" or "y" switches it on for the rest of the process,
// any other value leaves it as it is; the copy carries the process-wide flag.
// Raises EConvertError when NominalUpdateTimestamp is not a time of day, and
// whatever the settings look-up raises.
RequestSettings ReadRequestSettings();

// The process-wide on-only flag. Safe for concurrent use.
bool ExecutionTickOnly();

}  // namespace morvane

#endif  // MORVANE_WEB_REQUEST_SETTINGS_H_
