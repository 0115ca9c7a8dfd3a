#include "data/day_tables.h"

namespace morvane {

std::string GetFileName(TDateTime day) {
  return "hist" + Yymmdd(day);
}

TDateTime SeekDateByCount(THistData& module, int32_t day_count, TDateTime date_begin,
                          TDateTime date_end) {
  if (day_count == 0) return date_begin;
  db::TTable& table = module.HistTable;
  int32_t counted = 0;
  TDateTime day = date_end;
  while (day >= date_begin) {
    table.Close();
    table.SetTableName(GetFileName(day));
    // A table of ten rows or fewer (of all products) is not a trading day.
    if (table.Exists() && table.HasMoreRowsThan(10)) ++counted;
    if (day_count <= counted) break;
    day -= 1;
  }
  table.Close();
  return day;
}

bool PreCheckExistDaysData(THistData& module, TDateTime date_begin, TDateTime date_end) {
  if (date_end - date_begin == 0) return false;
  db::TTable& table = module.HistTable;
  for (TDateTime day = date_begin; day <= date_end; day += 1) {
    table.Close();
    table.SetTableName(GetFileName(day));
    if (table.Exists()) {
      table.Close();
      return true;
    }
  }
  table.Close();
  return false;
}

bool OpenDay(THistData& module, const DayWalk& walk, TDateTime day) {
  db::TTable& table = module.HistTable;
  table.Close();
  table.SetTableName(GetFileName(day));
  if (walk.mark_read_only) table.SetReadOnly(true);
  if (!table.Exists()) return false;
  table.Open();
  if (day == walk.date_begin) {
    table.FindNearest({walk.symbol, walk.time_begin});
  } else {
    table.FindNearest({walk.symbol});
  }
  return true;
}

bool RowEndsDay(const THistData& module, const DayWalk& walk, TDateTime day) {
  if (module.HistTableSymbol->TextView() != walk.symbol) return true;
  const TDateTime time = module.HistTableTime->AsDateTime();
  if (time < walk.time_begin && day == walk.date_begin) return true;
  if (time > walk.time_end && day == walk.date_end) return true;
  return false;
}

}  // namespace morvane
