// Small helpers the generators share for reading a request and writing
// columns of stored rows.
#ifndef MORVANE_GENERATORS_REQUEST_COLUMNS_H_
#define MORVANE_GENERATORS_REQUEST_COLUMNS_H_

#include "data/day_tables.h"
#include "data/engine.h"
#include "generators/history_request.h"
#include "records/record_writer.h"

namespace morvane {

// The day walk over the request's product, days and times, from `start_day`.
inline DayWalk RequestWalk(const HistoryParams& r, TDateTime start_day) {
  DayWalk walk;
  walk.symbol = r.symbol;
  walk.start_day = start_day;
  walk.date_begin = r.date_begin;
  walk.date_end = r.date_end;
  walk.time_begin = r.time_begin;
  walk.time_end = r.time_end;
  return walk;
}

// A floating column in its stored text form; a null value leaves the column
// empty between its separators.
inline void StoredFloatColumn(RecordWriter& out, const db::TField& field) {
  if (field.IsNull()) {
    out.Empty();
  } else {
    out.StoredFloat(field.AsFloat());
  }
}

}  // namespace morvane

#endif  // MORVANE_GENERATORS_REQUEST_COLUMNS_H_
