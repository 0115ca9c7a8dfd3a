#include "generators/tick_records.h"

#include "generators/request_columns.h"

namespace morvane {
void WriteDayTicks(THistData& m, const DayWalk& walk, TDateTime day, TickRun& run,
                   RecordWriter& out) {
  db::TTable& table = m.HistTable;
  for (; !table.Eof(); table.Next()) {
    if (RowEndsDay(m, walk, day)) break;
    const double price = m.HistTablePrice->AsFloat();  // null reads 0
    // Exact comparison on purpose: a price-only answer lists every change,
    // however small.
    if (run.price_only && price == run.last_price) continue;
    out.Begin("TICK").Int(run.counter).ShortDate(m.HistTableDate->AsDateTime());
    out.Hms(m.HistTableTime->AsDateTime());
    StoredFloatColumn(out, *m.HistTableBid);
    StoredFloatColumn(out, *m.HistTableOffer);
    StoredFloatColumn(out, *m.HistTablePrice);
    StoredFloatColumn(out, *m.HistTableBidSize);
    // The record lists OfferSize before Volume, the other way round from
    // the table's column order.
    StoredFloatColumn(out, *m.HistTableOfferSize);
    StoredFloatColumn(out, *m.HistTableVolume);
    out.End();
    ++run.counter;
    run.last_price = price;
  }
}

void WriteTickHistoryEnd(const TickRun& run, RecordWriter& out) {
  if (run.counter == 0) {
    out.WriteError(kErrNoDataForDate);
    out.WriteError(kErrRecordNotFound);
  } else {
    out.WriteRecordCount(run.counter);
  }
}

}  // namespace morvane
