// The history generators: one per kind of history, each writing its records
// straight to the client through the request's record writer as they are
// formed.
//
// The request handler calls exactly one of them per request, chosen by the
// request's mode (and by CalcMode for mode "3", by DBMode for mode "6"). Each
// takes the same four things: the data module the request runs on, the
// converted request, the request's copy of the settings, and the record
// writer bound to the request's response. The product-name notes (Part of the
// data layer, GenStockName) go to the module's current response, which the
// handler binds to the same place as `out`.
//
// A generator catches nothing: an engine failure ends it where it stands, the
// records already written stay with the client, and the handler logs the
// failure. Requires: the caller holds the module for the request (one request
// at a time); `out` writes to the module's current response.
#ifndef MORVANE_GENERATORS_HISTORY_GENERATORS_H_
#define MORVANE_GENERATORS_HISTORY_GENERATORS_H_

#include "data/hist_data.h"
#include "generators/history_request.h"
#include "records/record_writer.h"

namespace morvane {

// Mode "0": every tick of the product from timeBegin on dateBegin to timeEnd
// on dateEnd (DayCount is not used). Mode "3" outside the UW calculation:
// only the ticks at which the price changed, over the last `day_count`
// trading days of the range. The request's mode tells the two apart: "3"
// selects price changes, anything else every tick.
void GenIntraday(THistData& module, const HistoryParams& request, const RequestSettings& settings,
                 RecordWriter& out);

// Mode "1": one bar per trading day from the daily-bar store.
void GenInterday2(THistData& module, const HistoryParams& request, const RequestSettings& settings,
                  RecordWriter& out);

// Mode "2": the latest tick at least one hour old.
void GenDelay(THistData& module, const HistoryParams& request, const RequestSettings& settings,
              RecordWriter& out);

// Mode "3" under the UW calculation: every tick in the window, no name notes,
// an invalid product refused, and a look-back over earlier days for a request
// without dates before today's trading has begun.
void GenUWIntraday(THistData& module, const HistoryParams& request, const RequestSettings& settings,
                   RecordWriter& out);

// Mode "4": bars of `interval` seconds cut from ticks on a grid counted from
// the date origin; a bar is written once a later tick of its day closes it.
void GenInterval(THistData& module, const HistoryParams& request, const RequestSettings& settings,
                 RecordWriter& out);

// Mode "5": bars of a number of minutes merged from stored base bars inside
// the product's market sessions; sub-minute bars are handed to GenInterval.
void GenFastInterval(THistData& module, const HistoryParams& request,
                     const RequestSettings& settings, RecordWriter& out);

// Mode "6" on the tick tables (DBMode "PARADOX"): a full bar grid from
// timeBegin each day, empty bars included.
void GenInterval3(THistData& module, const HistoryParams& request, const RequestSettings& settings,
                  RecordWriter& out);

// Mode "6" on the stored interval tables (any other DBMode).
void GenInterval4(THistData& module, const HistoryParams& request, const RequestSettings& settings,
                  RecordWriter& out);

}  // namespace morvane

#endif  // MORVANE_GENERATORS_HISTORY_GENERATORS_H_
