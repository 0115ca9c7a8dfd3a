// The settings a request is answered with.
//
// The handler reads NominalUpdateTimestamp, ExecutionTickOnly, CalcMode and
// DBMode from the settings file at the start of every request and hands the
// generators that copy (RequestSettings, generators/history_request.h).
#ifndef MORVANE_WEB_REQUEST_SETTINGS_H_
#define MORVANE_WEB_REQUEST_SETTINGS_H_

#include "generators/history_request.h"

namespace morvane {

// Reads the four values from section MORVANE of the settings file (a fresh
// look-up). ExecutionTickOnly is process-wide and only ever switched on: a
// value starting with "Y" or "y" switches it on for the rest of the process,
// any other value leaves it as it is; the copy carries the process-wide flag.
// Raises EConvertError when NominalUpdateTimestamp is not a time of day, and
// whatever the settings look-up raises.
RequestSettings ReadRequestSettings();

}  // namespace morvane

#endif  // MORVANE_WEB_REQUEST_SETTINGS_H_
