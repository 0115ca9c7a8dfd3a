// Mode "0" (every tick) and mode "3" outside the UW calculation (price
// changes only): the ticks of one product over a span of days, streamed as
// they are read.
#include "generators/tick_history.h"

#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/call_args.h"
#include "generators/history_generators.h"
#include "generators/request_columns.h"
#include "generators/tick_records.h"
#include "support/clock.h"
#include "support/log.h"

namespace morvane {

void DoGenIntraday(THistData& m, const HistoryParams& r, const TickHistoryOptions& o,
                   RecordWriter& out) {
  LogLine(LogStamp(Now()) + "Enter DoGenIntraday" + GeneratorCallArgs(r, o.day_count) + ").");
  TickRun run;
  run.price_only = o.is_price_only;
  run.counter = o.first_number;
  if (o.with_names) GenStockName(m, r.symbol);

  DayWalk walk = RequestWalk(r, SeekDateByCount(m, o.day_count, r.date_begin, r.date_end));
  WalkDays(m, walk, [&](TDateTime day) { WriteDayTicks(m, walk, day, run, out); });
  WriteTickHistoryEnd(run, out);
}

void GenIntraday(THistData& m, const HistoryParams& r, const RequestSettings&, RecordWriter& out) {
  TickHistoryOptions o;
  if (r.mode == "3") {
    o.day_count = r.day_count;
    o.is_price_only = true;
  }
  DoGenIntraday(m, r, o, out);
}

}  // namespace morvane
