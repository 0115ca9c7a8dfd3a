// The tick history's records, shared by both of its calculation modes: one
// "TICK" record per tick read from the day under HistTable's cursor, numbered
// across days (and passes), with the price-only rule that skips a tick whose
// price equals the last one written.
//
// Requires: the caller holds the module for the request.
#ifndef MORVANE_GENERATORS_TICK_RECORDS_H_
#define MORVANE_GENERATORS_TICK_RECORDS_H_

#include <cstdint>

#include "data/day_tables.h"
#include "data/hist_data.h"
#include "records/record_writer.h"

namespace morvane {

// What runs on across the days of one answer.
struct TickRun {
  bool price_only = false;
  int64_t counter = 0;    // the next record's number
  double last_price = 0;  // the price of the last record written
};

// Writes the TICK records of one day of a walk: from HistTable's cursor on,
// until the end of the table or the first row that RowEndsDay rejects.
// Engine failures pass through.
void WriteDayTicks(THistData& module, const DayWalk& walk, TDateTime day, TickRun& run,
                   RecordWriter& out);

// The closing records: the count note with the counter when it is not 0,
// else "ERROR|No data for specified date|" and "ERROR|Record not found.|".
void WriteTickHistoryEnd(const TickRun& run, RecordWriter& out);

}  // namespace morvane

#endif  // MORVANE_GENERATORS_TICK_RECORDS_H_
