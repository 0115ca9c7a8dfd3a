// A synthetic but plausible market, for trying the server without real data.
//
// From one seed the generator makes the same market on every machine and
// every build: it draws from its own splitmix64 sequence and uses integer
// arithmetic for prices (in thousandths), never the standard library's
// distributions, whose output differs between library versions.
//
// The market: the first `symbols` products of a fixed list of Hong Kong
// style codes with English and Chinese names (the last of them listed as not
// valid); for each trading day (weekdays that are not holidays, ending at
// `end`), ticks inside the morning (09:30-12:00) and afternoon (13:00-16:00)
// sessions with random-walk prices on the product's tick-size ladder, a bid
// and an offer one or two steps apart with the price on one of them, and the
// day's running cumulative volume; and, computed from exactly those ticks,
// the daily bar, one-minute base bars and the 60, 180 and 300 second bars of
// the interval tables.
//
// Not thread-safe; a generator run is one call.
#ifndef MORVANE_TOOLS_LOAD_DEMO_MARKET_H_
#define MORVANE_TOOLS_LOAD_DEMO_MARKET_H_

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "rows.h"
#include "support/date_time.h"

namespace morvane::load {

struct DemoOptions {
  uint64_t seed = 20030705;
  int days = 20;            // trading days
  int symbols = 24;         // 1..kDemoProductCount
  int ticks_per_day = 200;  // per product, on average (each day varies by up to 20%)
  TDateTime end = 0;        // the last calendar day considered (a whole day)
  // True for a weekday that is a holiday. Weekends are always skipped.
  std::function<bool(TDateTime)> is_holiday;
};

inline constexpr int kDemoProductCount = 40;

// Where the generated rows go. Each call's row is valid only during the call.
// Order of calls: for every product Name, Symbol and its Session rows; then
// for every day, ascending: that day's Tick rows of all products in time order
// (rows of one time in product order), then per product its DailyBar, its
// BaseBar rows and its IntervalBar rows (60, then 180, then 300 seconds), each
// in time order; then EndDay.
class MarketSink {
 public:
  virtual ~MarketSink() = default;
  virtual void Name(const NameRow& row) = 0;
  virtual void Symbol(const SymbolRow& row) = 0;
  virtual void Session(const SessionRow& row) = 0;
  virtual void Tick(const TickRow& row) = 0;
  virtual void DailyBar(const DailyBarRow& row) = 0;
  virtual void BaseBar(const BaseBarRow& row) = 0;
  virtual void IntervalBar(int seconds, const IntervalRow& row) = 0;
  virtual void EndDay(TDateTime day) = 0;
};

// The `count` trading days that end at or before `end`, ascending: weekdays
// for which `is_holiday` (may be empty) is false.
std::vector<TDateTime> DemoTradingDays(TDateTime end, int count,
                                       const std::function<bool(TDateTime)>& is_holiday);

// The codes of the first `symbols` products, the ones a run with that option
// generates.
std::vector<std::string_view> DemoProductCodes(int symbols);

// Generates the market into `sink`. Requires: 1 <= symbols <=
// kDemoProductCount, days >= 1, ticks_per_day >= 1.
void GenerateDemoMarket(const DemoOptions& options, MarketSink* sink);

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_DEMO_MARKET_H_
