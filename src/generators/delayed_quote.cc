// Mode "2": the latest tick of a product that is at least one hour old.
#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "support/ascii_text.h"
#include "support/clock.h"

namespace morvane {
namespace {

// Days without a table that the look-back passes over before it gives up:
// a product whose store has no table for a month has no delayed quote. The
// bound only matters when tables are missing; a month of holidays and
// weekends is far beyond any real market's closure.
constexpr int kMaxDaysWithoutTable = 31;

constexpr TDateTime kOneMillisecond = 1.0 / (24 * 60 * 60 * 1000);

// The last tick of the product read so far.
struct HeldTick {
  TDateTime time = 0;  // 0: none found (a tick stamped 00:00:00 counts as none)
  double bid = 0, offer = 0, price = 0;
  int64_t bid_size = 0, offer_size = 0, volume = 0;
};

// Holds the product's last row of the open day table, or its last row at or
// before `cut_off` when one is given. One backward probe of the index finds
// it, however many ticks the product has that day. The index ignores letter
// case, so rows of another spelling of the symbol are stepped over; a row
// stamped later than the cut-off by the float comparison (the probe's key is
// the cut-off's text, a millisecond later) is stepped over too.
void ReadLastTick(THistData& m, const std::string& symbol, const TDateTime* cut_off,
                  HeldTick& held) {
  db::TTable& table = m.HistTable;
  table.Open();
  if (cut_off != nullptr && *cut_off < 0) {  // before 01:00: nothing of today counts
    table.Close();
    return;
  }
  if (cut_off == nullptr) {
    table.FindPrior({symbol});
  } else {
    table.FindPrior({symbol, *cut_off + kOneMillisecond});
  }
  for (; !table.Eof(); table.Next()) {
    const std::string_view row_symbol = m.HistTableSymbol->TextView();
    if (!EqualsIgnoringCase(row_symbol, symbol)) break;
    if (row_symbol != symbol) continue;
    const TDateTime time = m.HistTableTime->AsDateTime();
    if (cut_off != nullptr && time > *cut_off) continue;
    held.time = time;
    held.bid = m.HistTableBid->AsFloat();
    held.offer = m.HistTableOffer->AsFloat();
    held.price = m.HistTablePrice->AsFloat();
    held.bid_size = m.HistTableBidSize->AsLargeInt();
    held.offer_size = m.HistTableOfferSize->AsLargeInt();
    held.volume = m.HistTableVolume->AsLargeInt();
    break;
  }
  table.Close();
}

// Names HistTable after `day`; true when that day's table exists.
bool NameDay(THistData& m, TDateTime day) {
  m.HistTable.Close();
  m.HistTable.SetTableName(GetFileName(day));
  return m.HistTable.Exists();
}

}  // namespace

void GenDelay(THistData& m, const HistoryParams& r, const RequestSettings&, RecordWriter& out) {
  const TDateTime now = Now();
  const TDateTime today = DateOf(now);
  // Before 01:00 the cut-off lies before midnight: nothing of today counts.
  const TDateTime cut_off = TimeOf(now) - 1.0 / 24;
  HeldTick held;
  TDateTime day = today;
  GenStockName(m, r.symbol);

  if (NameDay(m, day)) ReadLastTick(m, r.symbol, &cut_off, held);
  while (held.time == 0) {
    int missing = 0;
    do {
      day -= 1;
      if (++missing > kMaxDaysWithoutTable) break;
    } while (!NameDay(m, day));
    if (missing > kMaxDaysWithoutTable) break;
    ReadLastTick(m, r.symbol, nullptr, held);
    // The limit is looked at only after a day's table was read: a tick in the
    // first table more than 7 days back is still the answer.
    if (today - day > 7) break;
  }
  m.HistTable.Close();
  if (held.time == 0) {
    out.WriteBareRecordNotFound();
    return;
  }
  out.Begin("TICK").Int(0).Ymd(day).Hms(held.time);
  out.Fixed2(held.bid).Fixed2(held.offer).Fixed2(held.price);
  out.Int(held.bid_size).Int(held.offer_size).Int(held.volume);
  out.End();
}

}  // namespace morvane
