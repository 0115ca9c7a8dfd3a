// Mode "6" on the daily tick tables (DBMode "PARADOX"): a full grid of bars
// from timeBegin to timeEnd on every day, computed from ticks.
#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "generators/request_columns.h"
#include "generators/tick_grid.h"
#include "support/double_compare.h"

namespace morvane {
namespace {

void WriteGridBar(RecordWriter& out, const GridBar& bar) {
  out.Begin("INTERVAL").Int(bar.index).Ymd(bar.start).Hms(bar.start);
  if (bar.kind == GridBar::kEmpty) {
    out.Text("-").Text("-").Text("-").Text("-").Text("-");
  } else {
    out.Fixed3(bar.open).Fixed3(bar.high).Fixed3(bar.low).Fixed3(bar.close);
    if (bar.kind == GridBar::kWithVolume) {
      out.Int(bar.volume);
    } else {
      out.Text("-");
    }
  }
  out.End();
}

}  // namespace

void GenInterval3(THistData& m, const HistoryParams& r, const RequestSettings& s,
                  RecordWriter& out) {
  GenStockName(m, r.symbol);
  // A bar length of 0 or below would never move the grid on: the gap filling
  // would write empty bars without end. No table is read for it.
  if (r.interval <= 0) {
    out.WriteError(kErrRecordNotFound);
    return;
  }
  GridRules rules;
  rules.interval_seconds = r.interval;
  rules.uw = s.calc_mode == "UW";
  rules.execution_tick_only = s.execution_tick_only;
  rules.nominal_time = TimeOf(s.nominal_update_timestamp);
  TickGrid grid(rules);

  const TDateTime start_day = SeekDateByCount(m, r.day_count, r.date_begin, r.date_end);
  const bool days_exist = PreCheckExistDaysData(m, r.date_begin, r.date_end);
  bool error_written = false;
  DayWalk walk = RequestWalk(r, start_day);
  const auto write = [&out](const GridBar& bar) { WriteGridBar(out, bar); };
  db::TTable& table = m.HistTable;
  for (TDateTime day = start_day; day <= r.date_end; day += 1) {
    if (!OpenDay(m, walk, day)) {
      if (!days_exist && !error_written) {
        out.WriteError(kErrNoDataForDate);
        error_written = true;
      }
      continue;
    }
    if (table.Eof()) {
      table.Close();
      continue;
    }
    // The day's grid is laid on the date of the first row under the cursor.
    const TDateTime date = DateOf(m.HistTableDate->AsDateTime());
    bool first = true;
    for (; !table.Eof(); table.Next()) {
      if (m.HistTableSymbol->TextView() != r.symbol) break;
      THisttableRecord t;
      t.stamp =
          DateOf(m.HistTableDate->AsDateTime()) + TruncateToSecond(m.HistTableTime->AsDateTime());
      t.bid = m.HistTableBid->AsFloat();
      t.offer = m.HistTableOffer->AsFloat();
      t.price = m.HistTablePrice->AsFloat();
      t.bid_size = m.HistTableBidSize->AsLargeInt();
      t.offer_size = m.HistTableOfferSize->AsLargeInt();
      t.volume = m.HistTableVolume->AsLargeInt();
      if (first) {
        grid.BeginDay(date, r.time_begin, r.time_end, t.price);
        first = false;
      }
      if (!grid.AddTick(t, write)) break;
    }
    table.Close();
    if (!first) grid.EndDay(write);
  }
  if (grid.index() == 0) {
    out.WriteError(kErrRecordNotFound);
  } else {
    out.WriteRecordCount(grid.index());
  }
}

}  // namespace morvane
