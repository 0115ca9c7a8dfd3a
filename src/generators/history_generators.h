// The history generators: one per kind of history, each writing its records
// straight into the module's response as they are formed.
//
// The request handler calls exactly one of them per request, chosen by the
// request's mode. A generator catches nothing: an engine failure ends it where
// it stands, and the records already written stay with the client.
#ifndef MORVANE_GENERATORS_HISTORY_GENERATORS_H_
#define MORVANE_GENERATORS_HISTORY_GENERATORS_H_

#include <cstdint>
#include <string>

#include "data/hist_data.h"
#include "support/date_time.h"
#include "web/request_settings.h"
#include "web/response_sink.h"

namespace morvane {

// Mode "0" (every tick) and mode "3" outside the UW calculation (only price
// changes, over the last day_count trading days of the range).
void GenIntraday(THistData& module, const std::string& symbol, ResponseSink& response,
                 TDateTime time_begin, TDateTime time_end, TDateTime date_begin, TDateTime date_end,
                 int32_t day_count, bool is_price_only);

// Mode "1": one bar per trading day from the daily-bar store.
void GenInterday2(THistData& module, const std::string& symbol, ResponseSink& response,
                  TDateTime date_from, TDateTime date_to);

// Mode "2": the latest tick at least one hour old.
void GenDelay(THistData& module, const std::string& symbol, ResponseSink& response);

// Mode "3" under the UW calculation.
void GenUWIntraday(THistData& module, const std::string& symbol, ResponseSink& response,
                   TDateTime time_begin, TDateTime time_end, TDateTime date_begin,
                   TDateTime date_end, bool no_date_given, int32_t day_count, bool is_price_only);

// Mode "4": bars of `interval` seconds computed from ticks.
void GenInterval(THistData& module, const std::string& symbol, TDateTime time_begin,
                 TDateTime time_end, TDateTime date_begin, TDateTime date_end, int32_t day_count,
                 int32_t interval);

// Mode "5": minute bars merged from stored base bars inside market sessions.
void GenFastInterval(THistData& module, const std::string& symbol, int32_t interval,
                     TDateTime time_begin, TDateTime time_end, TDateTime date_begin,
                     TDateTime date_end, int32_t iunit, int32_t back_count);

// Mode "6" on the tick tables (DBMode "PARADOX").
void GenInterval3(THistData& module, const RequestSettings& settings, const std::string& symbol,
                  TDateTime time_begin, TDateTime time_end, TDateTime date_begin,
                  TDateTime date_end, int32_t day_count, int32_t interval);

// Mode "6" on the stored interval tables (any other DBMode).
void GenInterval4(THistData& module, const RequestSettings& settings, const std::string& symbol,
                  TDateTime time_begin, TDateTime time_end, TDateTime date_begin,
                  TDateTime date_end, int32_t day_count, int32_t interval, bool no_date_given);

}  // namespace morvane

#endif  // MORVANE_GENERATORS_HISTORY_GENERATORS_H_
