// What every generator is handed: the converted request and the request's
// copy of the settings. The handler builds both (web/history_params.h,
// web/request_settings.h); a generator reads them and never changes them.
//
// One value per request, read by name, so that no call can swap two dates of
// the same type.
#ifndef MORVANE_GENERATORS_HISTORY_REQUEST_H_
#define MORVANE_GENERATORS_HISTORY_REQUEST_H_

#include <cstdint>
#include <string>

#include "support/date_time.h"

namespace morvane {

// The request's fields after conversion, defaults, the bar alignment of mode
// "6" under the UW calculation, and the pair rule.
struct HistoryParams {
  std::string symbol;        // as given: no trimming, case kept
  std::string mode = "0";    // any text; only "0" to "6" select a generator
  TDateTime time_begin = 0;  // time of day
  TDateTime time_end = 0;    // time of day
  TDateTime date_begin = 0;  // whole day
  TDateTime date_end = 0;    // whole day
  int32_t interval = 300;
  int32_t iunit = 0;
  int32_t day_count = 0;
  int32_t back_count = 0;
  bool no_date_given = false;  // neither date field was given: both are today
};

// The settings a request is answered with, read once at its start so that a
// settings file edited while requests run never gives one request a torn mix
// of old and new values.
struct RequestSettings {
  TDateTime nominal_update_timestamp = 0;  // time of day
  bool execution_tick_only = false;
  std::string calc_mode = "DC";
  std::string db_mode = "PARADOX";
};

}  // namespace morvane

#endif  // MORVANE_GENERATORS_HISTORY_REQUEST_H_
