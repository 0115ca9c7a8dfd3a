// The text that names a generator call's arguments in the diagnostic log:
// "(Symbol[0005],timeBegin[10:00:00],timeEnd[11:00:00],dateBegin[2003/03/10],
// dateEnd[2003/03/12],DayCount[0]" (no closing parenthesis: the interval
// generators append ",interval[60]"). The symbol is escaped as request text.
#ifndef MORVANE_GENERATORS_CALL_ARGS_H_
#define MORVANE_GENERATORS_CALL_ARGS_H_

#include <cstdint>
#include <string>

#include "generators/history_request.h"
#include "support/date_time.h"
#include "support/log_escape.h"

namespace morvane {

inline std::string GeneratorCallArgs(const HistoryParams& p, int32_t day_count) {
  return "(Symbol[" + LogEscape(p.symbol) + "],timeBegin[" + Hms(p.time_begin) + "],timeEnd[" +
         Hms(p.time_end) + "],dateBegin[" + YmdSlashed(p.date_begin) + "],dateEnd[" +
         YmdSlashed(p.date_end) + "],DayCount[" + std::to_string(day_count) + "]";
}

}  // namespace morvane

#endif  // MORVANE_GENERATORS_CALL_ARGS_H_
