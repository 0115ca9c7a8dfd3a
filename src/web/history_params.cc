#include "web/history_params.h"

#include "records/record_writer.h"
#include "support/int_parse.h"

namespace morvane {

bool ParseHistoryParams(const FieldLookup& field, const RequestSettings& settings, TDateTime today,
                        HistoryParams* out, std::string_view* error_record) {
  HistoryParams p;
  p.symbol = field("symbol");
  if (std::string mode = field("mode"); !mode.empty()) p.mode = std::move(mode);

  const std::string time_start = field("timeStart");
  if (!time_start.empty()) {
    const auto t = ParseTimeOfDay(time_start);
    if (!t) return *error_record = kErrInvalidTimeFormat, false;
    p.time_begin = *t;
  }
  const std::string time_over = field("timeOver");
  if (!time_over.empty()) {
    const auto t = ParseTimeOfDay(time_over);
    if (!t) return *error_record = kErrInvalidTimeFormat, false;
    p.time_end = *t;
  }
  const std::string date_start = field("dateStart");
  if (!date_start.empty()) {
    const auto d = ParseShortDate(date_start, today);
    if (!d) return *error_record = kErrInvalidDateFormat, false;
    p.date_begin = *d;
  }
  const std::string date_over = field("dateOver");
  if (!date_over.empty()) {
    const auto d = ParseShortDate(date_over, today);
    if (!d) return *error_record = kErrInvalidDateFormat, false;
    p.date_end = *d;
  }

  p.interval = ParseInt32Or(field("interval"), 300);
  p.iunit = ParseInt32Or(field("iunit"), 0);
  p.day_count = ParseInt32Or(field("DayCount"), 0);
  p.back_count = ParseInt32Or(field("BackCount"), 0);

  const bool uw_grid = settings.calc_mode == "UW" && p.mode == "6";
  if (time_start.empty() && time_over.empty()) {
    if (uw_grid) {
      p.time_begin = EncodeTime(9, 50, 0);
      p.time_end = EncodeTime(16, 4, 59);
    } else {
      p.time_begin = EncodeTime(0, 0, 0);
      p.time_end = EncodeTime(23, 59, 59);
    }
  }
  if (date_start.empty() && date_over.empty()) {
    p.date_begin = p.date_end = today;
    p.no_date_given = true;
  }
  // The UW grid of mode "6" starts one second less than a bar before the
  // requested start, whether that start came from the request or the default.
  if (uw_grid) {
    const int shift = p.interval == 60 ? 59 : p.interval == 180 ? 179 : 299;
    p.time_begin -= shift / kSecondsPerDay;
  }
  if (date_start.empty() != date_over.empty() || time_start.empty() != time_over.empty()) {
    *error_record = kErrInvalidParameterCount;
    return false;
  }
  *out = std::move(p);
  return true;
}

}  // namespace morvane
