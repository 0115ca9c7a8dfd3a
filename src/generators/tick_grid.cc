#include "generators/tick_grid.h"

namespace morvane {
namespace {

void RaiseHigh(double& high, double x) {
  if (x > high) high = x;
}
void LowerLow(double& low, double x) {
  if (x < low) low = x;
}

}  // namespace

void TickGrid::BeginDay(TDateTime date, TDateTime time_begin, TDateTime time_end,
                        double first_price) {
  bar_start_ = date + TruncateToSecond(time_begin);
  bar_end_ = bar_start_ + interval_;
  window_end_ = WindowEnd(date, time_end);
  nominal_ = date + TruncateToSecond(rules_.nominal_time);
  open_ = close_ = first_price;
  high_ = kNoHigh;
  low_ = kNoLow;
  current_volume_ = 0;
  volume_base_ = 0;
}

void TickGrid::Take(const THisttableRecord& t) {
  if (rules_.uw && !rules_.execution_tick_only) {
    RaiseHigh(high_, t.price);
    LowerLow(low_, t.price);
    close_ = t.price;
  } else if (rules_.uw) {
    // Only trades move the bar: a tick with new volume, or any tick from the
    // nominal update time on (the update tick itself carries the price).
    const bool counts = t.volume != current_volume_ || CompareDouble(t.stamp, nominal_) >= 0;
    if (!counts) return;
    if (open_ == 0) open_ = t.price;
    RaiseHigh(high_, t.price);
    LowerLow(low_, t.price);
    close_ = t.price;
  } else {
    // High and low cover every tick's bid and offer, the bar's open and every
    // earlier close; a tick's own price enters them only when another tick of
    // the bar follows it. The order matters when a bid or offer is 0.
    RaiseHigh(high_, t.bid);
    RaiseHigh(high_, t.offer);
    RaiseHigh(high_, open_);
    LowerLow(low_, open_);
    RaiseHigh(high_, close_);
    LowerLow(low_, close_);
    LowerLow(low_, t.offer);
    LowerLow(low_, t.bid);
    close_ = t.price;
  }
}

}  // namespace morvane
