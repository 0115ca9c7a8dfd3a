// Mode "6" on the order database's interval tables (any DBMode but
// "PARADOX"): finished bars read from the table of the requested length, the
// holes between them filled with empty bars on a grid anchored on the stored
// rows' times.
#include <string>

#include "calendar/comma_text.h"
#include "calendar/trading_calendar.h"
#include "data/day_tables.h"
#include "data/interval_tables.h"
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "support/clock.h"
#include "support/double_compare.h"
#include "support/error.h"
#include "support/log.h"
#include "support/log_escape.h"

namespace morvane {
namespace {

// A request without dates that finds nothing today tries up to this many
// earlier days, newest first.
constexpr int kMaxWalkBack = 29;

// The columns of an interval table's row, found once per day's result.
struct RowFields {
  explicit RowFields(db::TQuery& q)
      : date(&q.FieldByName("Date")),
        time(&q.FieldByName("Time")),
        open(&q.FieldByName("Open")),
        high(&q.FieldByName("High")),
        low(&q.FieldByName("Low")),
        close(&q.FieldByName("Close")),
        volume(&q.FieldByName("Volume")) {}
  db::TField *date, *time, *open, *high, *low, *close, *volume;
};

class StoredGridWriter {
 public:
  StoredGridWriter(RecordWriter& out, double interval) : out_(out), interval_(interval) {}

  int64_t index() const { return index_; }

  void Empty(std::string_view date_text, TDateTime grid_time) {
    out_.Begin("INTERVAL").Int(index_).Text(date_text).Hms(grid_time);
    out_.Text("-").Text("-").Text("-").Text("-").Text("-").End();
    ++index_;
  }

  // Empty bars at grid_time, grid_time + interval, ... while `more(grid)`.
  template <typename More>
  TDateTime EmptyWhile(std::string_view date_text, TDateTime grid, More&& more) {
    while (more(grid)) {
      Empty(date_text, grid);
      grid += interval_;
    }
    return grid;
  }

  void Row(const RowFields& f, std::string_view date_text, TDateTime row_time) {
    out_.Begin("INTERVAL").Int(index_).Text(date_text).Hms(row_time);
    out_.Fixed3(f.open->AsFloat()).Fixed3(f.high->AsFloat());
    out_.Fixed3(f.low->AsFloat()).Fixed3(f.close->AsFloat());
    const int64_t volume = f.volume->AsLargeInt();
    if (volume == 0) {
      out_.Text("-");
    } else {
      out_.Int(volume);
    }
    out_.End();
    ++index_;
  }

 private:
  RecordWriter& out_;
  double interval_;
  int64_t index_ = 0;
};

// Reads one day's stored bars and writes them with the empty bars before,
// between and after them. Returns nothing: the records carry the count.
void ReadDay(THistData& m, const HistoryParams& r, double interval, TDateTime day,
             std::string& date_text, StoredGridWriter& grid) {
  db::TQuery& q = *m.IntervalQuery;
  q.Close();
  q.ParamByName("Date").SetAsString(YmdSlashed(day));
  q.Open();
  LogLine("IntervalQuery.Open");
  LogLine(JoinCommaText({q.SQL()}) + YmdSlashed(day) + "&" + LogEscape(r.symbol));

  const RowFields fields(q);
  bool written_today = false;
  bool first_row = true;
  TDateTime row_time = 0, previous_row_time = 0, last_written_time = 0;
  for (; !q.Eof(); q.Next()) {
    date_text.clear();
    fields.date->AppendText(&date_text);
    row_time = TimeOf(fields.time->AsDateTime());
    const int c = CompareDouble(row_time, r.time_begin);
    if (c > 0) {
      if (CompareDouble(row_time, r.time_end) > 0) break;
      TDateTime g = row_time - interval;
      if (first_row) {
        // The earliest time row_time - k * interval not before timeBegin.
        while (CompareDouble(g, r.time_begin) > 0) g -= interval;
        if (CompareDouble(g, r.time_begin) < 0) g += interval;
      } else {
        // The first such time after the previous row.
        while (CompareDouble(g, previous_row_time) > 0) g -= interval;
        g += interval;
      }
      grid.EmptyWhile(date_text, g, [&](TDateTime t) { return CompareDouble(row_time, t) > 0; });
    }
    if (c >= 0) {
      grid.Row(fields, date_text, row_time);
      written_today = true;
      first_row = false;
      last_written_time = row_time;
    }
    previous_row_time = row_time;
  }
  // The tail runs from the last bar written to timeEnd. (Anchoring it on a
  // stored row past timeEnd instead would leave the end of the window
  // unpadded whenever the table holds a bar after it.)
  if (written_today) {
    grid.EmptyWhile(date_text, last_written_time + interval,
                    [&](TDateTime t) { return CompareDouble(t, r.time_end) <= 0; });
  }
  q.Close();
}

}  // namespace

void GenInterval4(THistData& m, const HistoryParams& r, const RequestSettings&, RecordWriter& out) {
  const bool holiday_today = IsHolidayToday();
  const bool after_split = IsAfterSplitTime();
  if (!m.IntervalQuery) {
    LogLine("Create Interval Query  faile For Model 6");
    return;
  }
  if (!m.IsValidSymbolQuery) {
    LogLine("Create FIsValidSymbolQuery Query  faile For Model 6");
    return;
  }
  db::TQuery& q = *m.IntervalQuery;
  q.ClearSQL();
  q.Close();
  LogLine("IntervalQuery.Close");
  if (!IsIntervalTableLength(r.interval)) {
    throw EDatabaseError("No interval table holds bars of " + std::to_string(r.interval) +
                         " seconds (only 60, 180 and 300)");
  }
  q.SetSQL("Select * FROM " + IntervalTableName(r.interval) +
           " WHERE  Symbol = :Symbol AND Date = :Date order by Time");
  q.ParamByName("Symbol").SetAsString(r.symbol);

  const double interval = static_cast<double>(r.interval) / kSecondsPerDay;
  StoredGridWriter grid(out, interval);
  TDateTime day = SeekDateByCount(m, r.day_count, r.date_begin, r.date_end);
  if (!IsValidProduct(r.symbol, m.IsValidSymbolQuery.get())) {
    out.WriteError(kErrNoDataForDate);
    out.WriteError(kErrRecordNotFound);
    return;
  }

  // The date column's stored text of the latest row read, reused row by row.
  std::string date_text;
  TDateTime date_end = r.date_end;
  int walk_back = 0;
  const bool trading_has_begun = !holiday_today && after_split;
  for (;;) {
    for (; day <= date_end; day += 1) ReadDay(m, r, interval, day, date_text, grid);
    ++walk_back;
    date_end -= 1;
    day = date_end;
    if (grid.index() > 0 || walk_back > kMaxWalkBack || !r.no_date_given || trading_has_begun) {
      break;
    }
  }

  if (trading_has_begun && grid.index() < 1 && walk_back < 2 && r.no_date_given) {
    // A trading day after the split time with no bars yet: today's grid,
    // empty. The offsets undo the handler's shift of timeBegin for UW bars,
    // so that with the default start the grid begins at 09:50:00.
    const int shift = r.interval == 60 ? 59 : r.interval == 180 ? 179 : 299;
    const std::string today = YmdSlashed(Today());
    grid.EmptyWhile(today, r.time_begin + shift / kSecondsPerDay,
                    [&](TDateTime t) { return CompareDouble(r.time_end, t) > 0; });
    out.WriteRecordCount(grid.index());
  } else if (grid.index() == 0) {
    out.WriteError(kErrNoDataForDate);
    out.WriteError(kErrRecordNotFound);
  } else {
    out.WriteRecordCount(grid.index());
  }
}

}  // namespace morvane
