// The daily tick tables: one table per trading day, named "hist" followed by
// the day as "yymmdd", read through the case-insensitive SymbolTime index.
//
// The tick generators read a span of days with the day walk below. Each
// generator states its own differences where it calls the walk (whether the
// table is marked read-only, how the first day is positioned, which rows end a
// day), so that they stay visible at the call site.
#ifndef MORVANE_DATA_DAY_TABLES_H_
#define MORVANE_DATA_DAY_TABLES_H_

#include <string>

#include "data/hist_data.h"
#include "support/date_time.h"

namespace morvane {

// "hist" + "yymmdd" of `day`. Days a hundred years apart share a name.
std::string GetFileName(TDateTime day);

// The most days a walk over the day tables takes in: the fewest days a
// hundred years can hold (24 leap days). No two days of a span this long
// share a table name, so a longer span could only read tables it has
// already read, once more per century, while it looks at every day of
// thousands of years (a walk from year 1 to 9999 costs seconds of one thread
// and a data module even when no table exists).
inline constexpr int32_t kMaxWalkDays = 36524;

// The first day of the latest kMaxWalkDays days up to `date_end` when the
// range from `date_begin` is longer; `date_begin` otherwise.
inline TDateTime BoundedWalkBegin(TDateTime date_begin, TDateTime date_end) {
  const TDateTime earliest = date_end - (kMaxWalkDays - 1);
  return date_begin < earliest ? earliest : date_begin;
}

// The start day of a day walk: dateBegin when day_count is 0; otherwise the
// day, counting back from dateEnd, on which the number of days whose table
// holds more than 10 rows reaches day_count; the day before dateBegin when the
// range holds fewer (dateEnd when dateEnd < dateBegin). Uses HistTable and
// leaves it closed.
TDateTime SeekDateByCount(THistData& module, int32_t day_count, TDateTime date_begin,
                          TDateTime date_end);

// Whether any day of a range of more than one day has a table; false for a
// one-day range without looking. Uses HistTable and leaves it closed.
bool PreCheckExistDaysData(THistData& module, TDateTime date_begin, TDateTime date_end);

// How one generator reads the days of its range.
struct DayWalk {
  std::string symbol;
  TDateTime start_day = 0;  // from SeekDateByCount
  TDateTime date_begin = 0;
  TDateTime date_end = 0;
  TDateTime time_begin = 0;
  TDateTime time_end = 0;
  // Mark the table read-only before opening (the component is read-only by
  // design in any case).
  bool mark_read_only = true;
};

// The standard row tests: true when the current row of HistTable ends the
// day. A row ends it when its Symbol differs from the request's symbol (an
// exact comparison that respects case, although the index ignores it), or on
// dateBegin when its Time is earlier than timeBegin, or on dateEnd when its
// Time is later than timeEnd.
bool RowEndsDay(const THistData& module, const DayWalk& walk, TDateTime day);

// Opens one day of a walk: closes HistTable, names it after `day`, and when
// that day's table exists opens it and positions on (symbol, timeBegin) when
// `day` is dateBegin and on (symbol) on any other day. False, with the table
// closed, when the day has no table (no error: a day without a table is a day
// without ticks). Engine failures pass through.
bool OpenDay(THistData& module, const DayWalk& walk, TDateTime day);

// Runs the day walk: for each day from start_day to date_end whose table
// exists, opens and positions it (OpenDay) and calls `on_day(day)`; the
// callback reads rows from HistTable, applying its own row tests, and
// returns. The table is closed after each day. Engine failures pass through.
template <typename OnDay>
void WalkDays(THistData& module, const DayWalk& walk, OnDay&& on_day) {
  for (TDateTime day = walk.start_day; day <= walk.date_end; day += 1) {
    if (!OpenDay(module, walk, day)) continue;
    on_day(day);
    module.HistTable.Close();
  }
}

}  // namespace morvane

#endif  // MORVANE_DATA_DAY_TABLES_H_
