// Mode "4": bars of `interval` seconds cut from the ticks of the daily tick
// tables, on the grid counted from the date origin.
#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "generators/origin_bars.h"
#include "generators/request_columns.h"

namespace morvane {

void GenInterval(THistData& m, const HistoryParams& r, const RequestSettings&, RecordWriter& out) {
  GenStockName(m, r.symbol);
  // A bar length of 0 or below has no grid: nothing to cut, and no table is
  // read for it.
  if (r.interval <= 0) {
    out.WriteError(kErrRecordNotFound);
    return;
  }
  OriginBarCutter cutter(r.interval);
  int64_t index = 0;
  CutBar bar;

  DayWalk walk = RequestWalk(r, SeekDateByCount(m, r.day_count, r.date_begin, r.date_end));
  walk.mark_read_only = false;
  WalkDays(m, walk, [&](TDateTime day) {
    cutter.StartDay();
    for (db::TTable& table = m.HistTable; !table.Eof(); table.Next()) {
      if (RowEndsDay(m, walk, day)) break;
      if (!cutter.Add(m.HistTableDate->AsDateTime(), m.HistTableTime->AsDateTime(),
                      m.HistTablePrice->AsFloat(), m.HistTableVolume->AsLargeInt(), &bar)) {
        continue;
      }
      out.Begin("TICK").Int(index).Ymd(bar.start).Hms(bar.start);
      out.Fixed2(bar.open).Fixed2(bar.high).Fixed2(bar.low).Fixed2(bar.close).Int(bar.volume);
      out.End();
      ++index;
    }
  });
  if (index == 0) {
    out.WriteError(kErrRecordNotFound);
  } else {
    out.WriteRecordCount(index);
  }
}

}  // namespace morvane
