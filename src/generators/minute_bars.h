// Bars of a number of minutes merged from stored base bars inside a
// product's market sessions (mode "5"), free of stores and writers.
//
// Base bars come in ascending start order. Each falls into a bar of the
// requested length on the grid counted from the date origin; a bar is done
// when a base bar of a later bar arrives, and is kept only when its start lies
// inside a market session. A hole between two stored bars inside a session is
// filled with flat bars at the last close, up to the first start outside a
// session. Bars that start before the requested start are held back; only
// the latest BackCount of them are written, just before the first bar at or
// after the start. The bar in progress when the rows end is not written.
//
// Not thread-safe; one merger serves one call.
#ifndef MORVANE_GENERATORS_MINUTE_BARS_H_
#define MORVANE_GENERATORS_MINUTE_BARS_H_

#include <cstdint>
#include <deque>
#include <vector>

#include "generators/bar_grid.h"
#include "support/date_time.h"

namespace morvane {

// Session times are compared with this tolerance, in days (86.4 ms).
inline constexpr double kSessionTolerance = 1e-6;

struct MarketSession {
  TDateTime open = 0;   // time of day
  TDateTime close = 0;  // time of day
};

// True when the time of day of `x` lies inside a session: no earlier than its
// opening (less the tolerance) and at least the tolerance before its close.
// Sessions are looked at in order, and the first one that opens later than x
// ends the search. No sessions: always false.
bool CheckTradeSession(const std::vector<MarketSession>& sessions, TDateTime x);

// One finished bar.
struct TIntervalRecord {
  TDateTime time = 0;  // bar start
  double open = 0, high = 0, low = 0, close = 0;
  int64_t volume = 0;
};

class MinuteBarMerger {
 public:
  // Requires: minutes > 0.
  MinuteBarMerger(int64_t minutes, TDateTime time_from, int32_t back_count,
                  std::vector<MarketSession> sessions)
      : length_ms_(minutes * 60'000),
        from_ms_(MillisSinceOrigin(time_from)),
        back_count_(back_count),
        sessions_(std::move(sessions)) {}

  // Merges one base bar; every bar that becomes ready to write goes to
  // `output(const TIntervalRecord&)`, in order.
  template <typename Output>
  void Add(TDateTime time_begin, double open, double high, double low, double close, int64_t volume,
           Output&& output);

 private:
  template <typename Output>
  void PushInterval(const TIntervalRecord& bar, Output& output);
  TIntervalRecord Current() const {
    return TIntervalRecord{BarStartTime(bar_, length_ms_), open_, high_, low_, close_, volume_};
  }

  int64_t length_ms_;
  int64_t from_ms_;
  int32_t back_count_;
  std::vector<MarketSession> sessions_;
  std::deque<TIntervalRecord> held_;  // at most back_count_ bars

  // The bar in progress, by its number on the grid. No bar before the first
  // base bar: nothing is pushed for the start of the grid.
  bool in_bar_ = false;
  int64_t bar_ = 0;
  double open_ = 0, high_ = 0, low_ = 0, close_ = 0;
  int64_t volume_ = 0;
};

template <typename Output>
void MinuteBarMerger::Add(TDateTime time_begin, double open, double high, double low, double close,
                          int64_t volume, Output&& output) {
  const int64_t row_bar = BarNumber(MillisSinceOrigin(time_begin), length_ms_);
  if (in_bar_ && row_bar <= bar_) {
    // The same bar (a base bar out of order joins the bar in progress too).
    if (high > high_) high_ = high;
    if (low < low_) low_ = low;
    close_ = close;
    volume_ += volume;
    return;
  }
  if (in_bar_ && CheckTradeSession(sessions_, BarStartTime(bar_, length_ms_))) {
    PushInterval(Current(), output);
    ++bar_;
    // Flat bars at the last close fill the hole while it stays inside a
    // session; they stop at the first start outside one.
    while (row_bar > bar_ && CheckTradeSession(sessions_, BarStartTime(bar_, length_ms_))) {
      PushInterval(
          TIntervalRecord{BarStartTime(bar_, length_ms_), close_, close_, close_, close_, 0},
          output);
      ++bar_;
    }
  }
  open_ = open;
  high_ = high;
  low_ = low;
  close_ = close;
  volume_ = volume;
  bar_ = row_bar;
  in_bar_ = true;
}

template <typename Output>
void MinuteBarMerger::PushInterval(const TIntervalRecord& bar, Output& output) {
  if (from_ms_ > MillisSinceOrigin(bar.time)) {
    // Only the latest back_count_ held bars can ever be written.
    if (back_count_ <= 0) return;
    if (held_.size() == static_cast<size_t>(back_count_)) held_.pop_front();
    held_.push_back(bar);
    return;
  }
  for (const TIntervalRecord& h : held_) output(h);
  held_.clear();
  output(bar);
}

}  // namespace morvane

#endif  // MORVANE_GENERATORS_MINUTE_BARS_H_
