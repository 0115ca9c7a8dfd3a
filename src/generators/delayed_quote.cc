// Mode "2": the latest tick of a product that is at least one hour old.
#include "data/day_tables.h"
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "support/clock.h"

namespace morvane {
namespace {

// Days without a table that the look-back passes over before it gives up:
// a product whose store has no table for a month has no delayed quote. The
// bound only matters when tables are missing; a month of holidays and
// weekends is far beyond any real market's closure.
constexpr int kMaxDaysWithoutTable = 31;

// The last tick of the product read so far.
struct HeldTick {
  TDateTime time = 0;  // 0: none found (a tick stamped 00:00:00 counts as none)
  double bid = 0, offer = 0, price = 0;
  int64_t bid_size = 0, offer_size = 0, volume = 0;
};

// Reads the product's rows of the open day table from its first row on,
// while the symbol matches exactly and (when `cut_off` is given) the time is
// not later than it; each row replaces the held values.
void ReadLastTick(THistData& m, const std::string& symbol, const TDateTime* cut_off,
                  HeldTick& held) {
  db::TTable& table = m.HistTable;
  table.Open();
  table.FindNearest({symbol});
  for (; !table.Eof(); table.Next()) {
    if (m.HistTableSymbol->TextView() != symbol) break;
    const TDateTime time = m.HistTableTime->AsDateTime();
    if (cut_off != nullptr && time > *cut_off) break;
    held.time = time;
    held.bid = m.HistTableBid->AsFloat();
    held.offer = m.HistTableOffer->AsFloat();
    held.price = m.HistTablePrice->AsFloat();
    held.bid_size = m.HistTableBidSize->AsLargeInt();
    held.offer_size = m.HistTableOfferSize->AsLargeInt();
    held.volume = m.HistTableVolume->AsLargeInt();
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
