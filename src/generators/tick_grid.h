// The full bar grid of the tick-table mode (mode "6" on the daily tick
// tables), free of stores and writers: one day's ticks in, the day's bars out
// through a callback, empty bars included.
//
// The grid starts at timeBegin on every day and ends at timeEnd; a bar closes
// when a tick at or after its end arrives, and the bars that no tick reached
// are written empty. The day's last bar is written when it holds the last
// tick; under the UW calculation the grid then runs on, empty, to the end of
// the window. Every comparison of two date-times tolerates 1e-8 day
// (CompareDouble), as the stores' times may carry rounding of their own.
//
// Not thread-safe; one grid serves one call, day after day.
#ifndef MORVANE_GENERATORS_TICK_GRID_H_
#define MORVANE_GENERATORS_TICK_GRID_H_

#include <cstdint>

#include "support/date_time.h"
#include "support/double_compare.h"

namespace morvane {

// One tick copied out of a day table. The stamp is the tick's date plus its
// time of day cut to whole seconds.
struct THisttableRecord {
  TDateTime stamp = 0;
  double bid = 0, offer = 0, price = 0;
  int64_t bid_size = 0, offer_size = 0;
  int64_t volume = 0;  // the day's running total of traded volume
};

// One record of the grid.
struct GridBar {
  enum Kind { kWithVolume, kWithoutVolume, kEmpty };
  Kind kind = kEmpty;
  int64_t index = 0;
  TDateTime start = 0;
  double open = 0, high = 0, low = 0, close = 0;  // unused when empty
  int64_t volume = 0;                             // kWithVolume only
};

struct GridRules {
  int64_t interval_seconds = 300;  // > 0
  bool uw = false;                 // CalcMode "UW"
  bool execution_tick_only = false;
  TDateTime nominal_time = 0;  // NominalUpdateTimestamp's time of day
};

class TickGrid {
 public:
  explicit TickGrid(const GridRules& rules)
      : rules_(rules), interval_(static_cast<double>(rules.interval_seconds) / kSecondsPerDay) {}

  // Lays the grid over one day that has ticks of the product, fed one tick
  // at a time so that a day's ticks are never gathered in memory:
  //   grid.BeginDay(date, time_begin, time_end, first_tick.price);
  //   for each tick in the order read: if (!grid.AddTick(t, emit)) break;
  //   grid.EndDay(emit);
  // Every bar goes to `emit(const GridBar&)` as soon as it is known. `date`
  // is the day's date; time_begin and time_end the request's window.
  void BeginDay(TDateTime date, TDateTime time_begin, TDateTime time_end, double first_price);
  // Takes one tick; false when the tick lies past the window (or its bar
  // past the window's last second): the day's reading ends there.
  template <typename Emit>
  bool AddTick(const THisttableRecord& t, Emit&& emit);
  template <typename Emit>
  void EndDay(Emit&& emit);

  // The number of records written so far, empty bars included.
  int64_t index() const { return index_; }

  // The window end of `date` (its time of day cut to whole seconds): ticks
  // stamped later than it are not read.
  static TDateTime WindowEnd(TDateTime date, TDateTime time_end) {
    return date + TruncateToSecond(time_end);
  }

 private:
  // high 0 and low 999999: no price taken into the bar yet.
  static constexpr double kNoHigh = 0;
  static constexpr double kNoLow = 999999;
  static constexpr double kOneSecond = 1.0 / kSecondsPerDay;

  template <typename Emit>
  void WriteBar(TDateTime reference, Emit& emit);
  template <typename Emit>
  void WriteEmpty(Emit& emit);
  void Take(const THisttableRecord& t);
  void Advance() {
    bar_start_ = bar_end_;
    bar_end_ += interval_;
    ++index_;
  }

  GridRules rules_;
  double interval_;
  int64_t index_ = 0;
  TDateTime bar_start_ = 0, bar_end_ = 0, window_end_ = 0, nominal_ = 0;
  double open_ = 0, high_ = 0, low_ = 0, close_ = 0;
  int64_t current_volume_ = 0, volume_base_ = 0;
  TDateTime last_tick_time_ = 0;
};

template <typename Emit>
bool TickGrid::AddTick(const THisttableRecord& t, Emit&& emit) {
  // A bar reaching past the window's last second is never written.
  if (CompareDouble(bar_end_, window_end_ + kOneSecond) > 0) return false;
  if (CompareDouble(t.stamp, window_end_) > 0) return false;
  if (CompareDouble(t.stamp, bar_end_) >= 0) {
    WriteBar(bar_start_, emit);
    open_ = high_ = low_ = close_ = t.price;
    // Under UW with execution ticks only, a tick that carries no new volume
    // before the nominal update time is no trade: the new bar starts without
    // a price, and its first trade sets its open.
    if (rules_.uw && rules_.execution_tick_only && t.volume == current_volume_ &&
        CompareDouble(nominal_, t.stamp) > 0) {
      high_ = kNoHigh;
      low_ = kNoLow;
      open_ = close_ = 0;
    }
    volume_base_ = current_volume_;
    Advance();
    while (CompareDouble(t.stamp, bar_end_) >= 0 && CompareDouble(bar_start_, window_end_) <= 0) {
      WriteEmpty(emit);
      Advance();
    }
  }
  Take(t);
  current_volume_ = t.volume;
  last_tick_time_ = t.stamp;
  return true;
}

template <typename Emit>
void TickGrid::EndDay(Emit&& emit) {
  // With the tolerance, as AddTick placed the tick: the bar's start is a sum
  // of intervals and may lie a rounding error past a tick stamped on it.
  if (CompareDouble(bar_end_, window_end_ + kOneSecond) <= 0 &&
      CompareDouble(bar_start_, last_tick_time_) <= 0 &&
      CompareDouble(last_tick_time_, bar_end_) < 0) {
    WriteBar(last_tick_time_, emit);
    Advance();
  }
  if (rules_.uw) {
    while (CompareDouble(bar_end_, window_end_ + kOneSecond) <= 0) {
      WriteEmpty(emit);
      Advance();
    }
  }
}

template <typename Emit>
void TickGrid::WriteBar(TDateTime reference, Emit& emit) {
  GridBar bar;
  bar.index = index_;
  bar.start = bar_start_;
  bar.open = open_;
  bar.high = high_;
  bar.low = low_;
  bar.close = close_;
  const int64_t d = current_volume_ - volume_base_;
  if (d > 0) {
    bar.kind = GridBar::kWithVolume;
    bar.volume = d;
  } else if (d < 0) {
    // The running total went down (a reset in the table): the bar carries the
    // total as it stands.
    bar.kind = GridBar::kWithVolume;
    bar.volume = current_volume_;
  } else if (high_ == kNoHigh && low_ == kNoLow) {
    bar.kind = GridBar::kEmpty;
  } else if (rules_.uw && rules_.execution_tick_only && CompareDouble(nominal_, reference) > 0) {
    bar.kind = GridBar::kEmpty;
  } else {
    bar.kind = GridBar::kWithoutVolume;
  }
  emit(static_cast<const GridBar&>(bar));
}

template <typename Emit>
void TickGrid::WriteEmpty(Emit& emit) {
  GridBar bar;
  bar.kind = GridBar::kEmpty;
  bar.index = index_;
  bar.start = bar_start_;
  emit(static_cast<const GridBar&>(bar));
}

}  // namespace morvane

#endif  // MORVANE_GENERATORS_TICK_GRID_H_
