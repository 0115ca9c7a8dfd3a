// Mode "1": one bar per trading day from the daily-bar store's procedure.
#include "data/symbol_lookup.h"
#include "generators/history_generators.h"
#include "generators/request_columns.h"

namespace morvane {
void GenInterday2(THistData& m, const HistoryParams& r, const RequestSettings&, RecordWriter& out) {
  int64_t counter = 0;
  GenStockName(m, r.symbol);

  db::TStoredProc& proc = m.spQueryDaily;
  proc.Close();
  proc.ParamByName("@From_Symbol").SetAsString(r.symbol);
  proc.ParamByName("@To_Symbol").SetAsString(r.symbol);
  // The store converts the dates itself: they travel as "mm/dd/yyyy" text,
  // the form its procedure has always been called with. @Adj stays unbound.
  proc.ParamByName("@From_Date").SetAsString(MdySlashed(r.date_begin));
  proc.ParamByName("@To_Date").SetAsString(MdySlashed(r.date_end));
  proc.Open();
  if (proc.Eof()) {
    out.WriteBareRecordNotFound();
    return;
  }
  for (; !proc.Eof(); proc.Next()) {
    out.Begin("TICK").Int(counter);
    if (m.spQueryDailyc_date->IsNull()) {
      out.Empty();
    } else {
      out.ShortDateTime(m.spQueryDailyc_date->AsDateTime());
    }
    // stock_code comes back too and is never written.
    StoredFloatColumn(out, *m.spQueryDailyhigh);
    StoredFloatColumn(out, *m.spQueryDailylow);
    StoredFloatColumn(out, *m.spQueryDailyclosing);
    StoredFloatColumn(out, *m.spQueryDailyshares_traded);
    StoredFloatColumn(out, *m.spQueryDailyturnover);
    out.End();
    ++counter;
  }
  out.WriteRecordCount(counter);
}

}  // namespace morvane
