// The tick history's workers, for callers that number records on from an
// earlier answer or leave out the name notes.
#ifndef MORVANE_GENERATORS_TICK_HISTORY_H_
#define MORVANE_GENERATORS_TICK_HISTORY_H_

#include <cstdint>

#include "data/hist_data.h"
#include "generators/history_request.h"
#include "records/record_writer.h"

namespace morvane {

// How DoGenIntraday reads a request: GenIntraday passes first_number 0 and
// with_names true, DayCount 0 and every tick for mode "0", the request's
// DayCount and price changes only for mode "3".
struct TickHistoryOptions {
  int32_t day_count = 0;
  bool is_price_only = false;
  int64_t first_number = 0;  // the number of the first TICK record
  bool with_names = true;    // write the product-name notes first
};

// Writes the entry log line, the name notes (with_names), one TICK record per
// tick from timeBegin on the walk's first day to timeEnd on dateEnd, and the
// count note or the two error records. Engine failures pass through.
void DoGenIntraday(THistData& module, const HistoryParams& request,
                   const TickHistoryOptions& options, RecordWriter& out);

// How DoGenUWIntraday reads a request; GenUWIntraday passes first_number 0
// and is_price_only false.
struct UWTickHistoryOptions {
  bool is_price_only = false;
  int64_t first_number = 0;
};

// The UW calculation's tick history: the product checked against the order
// database, no name notes, and for a request without dates a look-back over
// up to 29 earlier days while today's trading has not begun. Writes nothing
// at all when the module has no private queries. Engine failures pass
// through.
void DoGenUWIntraday(THistData& module, const HistoryParams& request,
                     const UWTickHistoryOptions& options, RecordWriter& out);

}  // namespace morvane

#endif  // MORVANE_GENERATORS_TICK_HISTORY_H_
