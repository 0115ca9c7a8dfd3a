// Mode "5": bars of a number of minutes merged from the stored base bars of
// the plrdata store, inside the product's market sessions.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "generators/minute_bars.h"

namespace morvane {
namespace {

std::vector<MarketSession> LoadTradeSession(THistData& m, const std::string& symbol) {
  std::vector<MarketSession> sessions;
  db::TStoredProc& proc = m.spMarketSessionQuery;
  proc.Close();
  proc.ParamByName("@Symbol").SetAsString(symbol);
  proc.Open();
  for (; !proc.Eof(); proc.Next()) {
    sessions.push_back(MarketSession{TimeOf(m.spMarketSessionQueryTimeOpen->AsDateTime()),
                                     TimeOf(m.spMarketSessionQueryTimeClose->AsDateTime())});
  }
  proc.Close();
  return sessions;
}

void OutputInterval(RecordWriter& out, int64_t& index, const TIntervalRecord& bar) {
  out.Begin("TICK").Int(index).Ymd(bar.time).Hms(bar.time);
  out.Fixed2(bar.open).Fixed2(bar.high).Fixed2(bar.low).Fixed2(bar.close).Int(bar.volume);
  out.End();
  ++index;
}

}  // namespace

void GenFastInterval(THistData& m, const HistoryParams& r, const RequestSettings& s,
                     RecordWriter& out) {
  const TDateTime time_from = r.date_begin + r.time_begin;
  const TDateTime time_to = r.date_end + r.time_end;
  int64_t index = 0;
  GenStockName(m, r.symbol);
  if (r.iunit < 0 || r.iunit > 2) return;

  const int64_t unit_seconds = r.iunit == 0 ? 1 : r.iunit == 1 ? 60 : 3600;
  const int64_t minutes = static_cast<int64_t>(r.interval) * unit_seconds / 60;
  if (minutes == 0) {
    // Bars shorter than a minute are cut from the ticks; that generator
    // writes the product's names again.
    // It walks the day tables, so its range is bounded like theirs.
    HistoryParams seconds = r;
    seconds.day_count = 0;
    seconds.date_begin = BoundedWalkBegin(r.date_begin, r.date_end);
    GenInterval(m, seconds, s, out);
    return;
  }
  // A negative length has no grid: the names are the whole answer.
  if (minutes < 0) return;

  MinuteBarMerger merger(minutes, time_from, r.back_count, LoadTradeSession(m, r.symbol));
  db::TStoredProc& proc = m.spIntervalQuery;
  proc.Close();
  proc.ParamByName("@Symbol").SetAsString(r.symbol);
  proc.ParamByName("@TimeFrom").SetAsDateTime(time_from);
  proc.ParamByName("@TimeTo").SetAsDateTime(time_to);
  // The held-back bars need this many one-minute base bars before TimeFrom;
  // clamped to the parameter's 32-bit range.
  const double wanted = static_cast<double>(r.back_count) * static_cast<double>(minutes);
  const int64_t base_bars = static_cast<int64_t>(std::clamp<double>(wanted, INT32_MIN, INT32_MAX));
  proc.ParamByName("@BackCount").SetAsInteger(base_bars);
  proc.ParamByName("@Interval").Clear();
  proc.Open();
  const auto write = [&](const TIntervalRecord& bar) { OutputInterval(out, index, bar); };
  for (; !proc.Eof(); proc.Next()) {
    merger.Add(m.spIntervalQueryTimeBegin->AsDateTime(), m.spIntervalQueryPriceOpen->AsFloat(),
               m.spIntervalQueryPriceHigh->AsFloat(), m.spIntervalQueryPriceLow->AsFloat(),
               m.spIntervalQueryPriceClose->AsFloat(), m.spIntervalQueryVolume->AsLargeInt(),
               write);
  }
}

}  // namespace morvane
