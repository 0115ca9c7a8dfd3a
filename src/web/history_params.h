// The fields of a history request, converted and checked.
#ifndef MORVANE_WEB_HISTORY_PARAMS_H_
#define MORVANE_WEB_HISTORY_PARAMS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "generators/history_request.h"
#include "support/date_time.h"

namespace morvane {

// Looks a field up by name (letter case ignored); empty when absent. May
// raise (a malformed "%" escape in the request).
using FieldLookup = std::function<std::string(std::string_view name)>;

// Reads the request fields in the handler's order: symbol and mode, the two
// times, the two dates, the four integers; then the time and date defaults,
// the bar alignment of mode "6" under the UW calculation, and the pair rule.
// A field that is absent or empty counts as not given. Returns true with
// `out` filled, or false with `error_record` set to the record to answer with.
// `today` is the local date.
bool ParseHistoryParams(const FieldLookup& field, const RequestSettings& settings, TDateTime today,
                        HistoryParams* out, std::string_view* error_record);

}  // namespace morvane

#endif  // MORVANE_WEB_HISTORY_PARAMS_H_
