// Mode "3" under the UW calculation: the tick history for a product the order
// database lists as valid, with a look-back for requests without dates.
#include "calendar/trading_calendar.h"
#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/call_args.h"
#include "generators/history_generators.h"
#include "generators/request_columns.h"
#include "generators/tick_history.h"
#include "generators/tick_records.h"
#include "support/clock.h"
#include "support/log.h"
#include "support/log_escape.h"

namespace morvane {
namespace {

// The requested range and then up to this many single earlier days.
constexpr int kMaxLookBackDays = 29;

}  // namespace

void DoGenUWIntraday(THistData& m, const HistoryParams& r, const UWTickHistoryOptions& o,
                     RecordWriter& out) {
  // Asked once: the answers hold for the whole request, however long it runs.
  const bool holiday_today = IsHolidayToday();
  const bool after_split = IsAfterSplitTime();

  LogLine(LogStamp(Now()) + "Enter DoGenUWIntraday" + GeneratorCallArgs(r, r.day_count) + ").");
  if (r.no_date_given) LogLine("Empty Date for Mode 3");
  LogLine(o.is_price_only ? "Is Price Only." : "Not Is Price Only.");

  TickRun run;
  run.price_only = o.is_price_only;
  run.counter = o.first_number;

  // Without the private connection nothing can be checked: the request ends
  // quietly, with only the log line to say why.
  if (!m.IntervalQuery) {
    LogLine("Create Interval Query  faile For Model 3");
    return;
  }
  if (!m.IsValidSymbolQuery) {
    LogLine("Create FIsValidSymbolQuery Query  faile For Model 3");
    return;
  }
  if (!IsValidProduct(r.symbol, m.IsValidSymbolQuery.get())) {
    out.WriteError(kErrNoDataForDate);
    out.WriteError(kErrRecordNotFound);
    LogLine("Symbol is invalid:" + LogEscape(r.symbol));
    return;
  }

  DayWalk walk = RequestWalk(r, SeekDateByCount(m, r.day_count, r.date_begin, r.date_end));
  int passes = 0;
  for (;;) {
    for (TDateTime day = walk.start_day; day <= walk.date_end; day += 1) {
      LogLine("UW Mode 3 Table Name:" + GetFileName(day));
      if (!OpenDay(m, walk, day)) continue;
      WriteDayTicks(m, walk, day, run, out);
      m.HistTable.Close();
    }
    ++passes;
    walk.date_end -= 1;
    walk.date_begin = walk.date_end;
    walk.start_day = walk.date_end;
    // Look back only for a request without dates, and only while today's
    // trading has not begun (a holiday, or before the split time): once it
    // has, an empty answer is today's true answer.
    const bool look_back = run.counter <= 0 && passes <= kMaxLookBackDays && r.no_date_given &&
                           !(!holiday_today && after_split);
    if (!look_back) break;
  }
  WriteTickHistoryEnd(run, out);
}

void GenUWIntraday(THistData& m, const HistoryParams& r, const RequestSettings&,
                   RecordWriter& out) {
  DoGenUWIntraday(m, r, UWTickHistoryOptions{}, out);
}

}  // namespace morvane
