// The bar grid counted from the date origin (midnight, 1899-12-30): bars of a
// fixed length whose starts are whole multiples of that length since the
// origin. For a length that divides a day the bars fall on the same clock
// times every day (60 s: every whole minute; 300 s: 09:00, 09:05, ...).
//
// The bar of a moment is found in whole milliseconds, never from a rounded
// floating day fraction: a tick stamped exactly on a bar boundary always opens
// the bar that begins there, and the bar number is 64-bit, so 1-second bars of
// the present era (about 4e9 since the origin) do not overflow.
//
// Pure functions, safe for concurrent use.
#ifndef MORVANE_GENERATORS_BAR_GRID_H_
#define MORVANE_GENERATORS_BAR_GRID_H_

#include <cmath>
#include <cstdint>

#include "support/date_time.h"

namespace morvane {

// A date-time as whole milliseconds since the origin, rounded to the nearest
// millisecond. The day and the time of day are converted apart so that the
// large day count does not eat the time's precision.
inline int64_t MillisSinceOrigin(TDateTime day, TDateTime time_of_day) {
  return static_cast<int64_t>(day) * kMsPerDay +
         std::llround(time_of_day * static_cast<double>(kMsPerDay));
}
inline int64_t MillisSinceOrigin(TDateTime t) {
  const double day = std::floor(t);
  return static_cast<int64_t>(day) * kMsPerDay +
         std::llround((t - day) * static_cast<double>(kMsPerDay));
}

// The number of the bar holding `millis` on a grid of `length_ms`
// milliseconds: floor division, toward minus infinity. Requires: length_ms > 0.
inline int64_t BarNumber(int64_t millis, int64_t length_ms) {
  int64_t n = millis / length_ms;
  if (millis % length_ms != 0 && millis < 0) --n;
  return n;
}

// The start of bar `n` as a date-time.
inline TDateTime BarStartTime(int64_t n, int64_t length_ms) {
  const int64_t ms = n * length_ms;
  int64_t day = ms / kMsPerDay;
  int64_t rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --day;
  }
  return static_cast<double>(day) + static_cast<double>(rest) / static_cast<double>(kMsPerDay);
}

}  // namespace morvane

#endif  // MORVANE_GENERATORS_BAR_GRID_H_
