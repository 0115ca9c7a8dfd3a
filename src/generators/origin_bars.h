// Bars cut from ticks on the grid counted from the date origin (mode "4"):
// the accumulation of one call, free of stores and writers.
//
// A bar is finished only when a later tick of the same day falls into another
// bar; the bar in progress when a day ends is dropped (the next day starts
// with no bar). A bar opens at the close of the bar before it, which carries
// over from one day to the next; the very first bar of a call opens at 0 and,
// like any bar with a price at 0 or below, is not written, though its prices
// still carry on. A written bar's volume is the running volume of the next
// bar's first tick less that of its own first tick (the former alone when the
// running volume went down between them).
//
// Not thread-safe; one cutter serves one call.
#ifndef MORVANE_GENERATORS_ORIGIN_BARS_H_
#define MORVANE_GENERATORS_ORIGIN_BARS_H_

#include <cstdint>

#include "generators/bar_grid.h"
#include "support/date_time.h"

namespace morvane {

struct CutBar {
  TDateTime start = 0;  // the bar's label: its start on the grid
  double open = 0, high = 0, low = 0, close = 0;
  int64_t volume = 0;
};

class OriginBarCutter {
 public:
  // Requires: interval_seconds > 0.
  explicit OriginBarCutter(int64_t interval_seconds) : length_ms_(interval_seconds * 1000) {}

  // A new day: no bar in progress, volume base 0. Prices carry over.
  void StartDay() {
    in_bar_ = false;
    start_ = 0;
    volume_base_ = 0;
  }

  // Takes one tick of the day (its date, time of day, price and running
  // volume). Returns true with `*finished` set when the tick closes a bar
  // that is to be written.
  bool Add(TDateTime day, TDateTime time, double price, int64_t volume, CutBar* finished) {
    const int64_t n = BarNumber(MillisSinceOrigin(day, time), length_ms_);
    if (in_bar_ && n == bar_) {
      if (price > high_) high_ = price;
      if (price < low_) low_ = price;
      close_ = price;
      return false;
    }
    const bool write = in_bar_ && start_ > 0 && open_ > 0 && close_ > 0 && high_ > 0 && low_ > 0;
    if (write) {
      int64_t v = volume - volume_base_;
      if (v < 0) v = volume;
      *finished = CutBar{start_, open_, high_, low_, close_, v};
    }
    open_ = close_;
    high_ = low_ = close_ = price;
    volume_base_ = volume;
    bar_ = n;
    start_ = BarStartTime(n, length_ms_);
    in_bar_ = true;
    return write;
  }

 private:
  int64_t length_ms_;
  bool in_bar_ = false;
  int64_t bar_ = 0;
  TDateTime start_ = 0;
  double open_ = 0, high_ = 0, low_ = 0, close_ = 0;
  int64_t volume_base_ = 0;
};

}  // namespace morvane

#endif  // MORVANE_GENERATORS_ORIGIN_BARS_H_
