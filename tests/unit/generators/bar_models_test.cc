// The pure bar pieces against small models written here the plainest way:
// random ticks or base bars in, the bars a reader of the rules would expect
// out.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "generators/bar_grid.h"
#include "generators/minute_bars.h"
#include "generators/origin_bars.h"
#include "generators/tick_grid.h"

namespace morvane {
namespace {

constexpr int64_t kDay = 86'400'000;

TEST(BarGrid, BoundariesAndFarDates) {
  // A tick exactly on a boundary opens the bar that begins there.
  const TDateTime day = 46'000;  // 2025/12/09
  EXPECT_EQ(BarNumber(MillisSinceOrigin(day, 10.0 / 24), 60'000),
            (46'000 * kDay + 36'000'000) / 60'000);
  EXPECT_EQ(BarNumber(MillisSinceOrigin(day, 10.0 / 24 - 1.0 / kDay), 1000),
            (46'000 * kDay + 36'000'000) / 1000 - 1);
  // One-second bars of the present era pass 2^31.
  EXPECT_GT(BarNumber(MillisSinceOrigin(day, 0), 1000), int64_t{INT32_MAX});
  // Before the origin, floor division; a moment exactly on a boundary there
  // still opens the bar that begins on it.
  EXPECT_EQ(BarNumber(-1, 60'000), -1);
  EXPECT_EQ(BarNumber(-60'000, 60'000), -1);
  EXPECT_EQ(BarNumber(-60'001, 60'000), -2);
  EXPECT_EQ(BarNumber(MillisSinceOrigin(-1.0 / 1440), 60'000), -1);
  EXPECT_EQ(BarStartTime(-1, kDay), -1.0);
  EXPECT_EQ(MillisSinceOrigin(BarStartTime(-1, 60'000)), -60'000);
  // A bar's start is the nearest date-time to its moment, also near the
  // origin, where the day's fraction keeps the most digits: 1899/12/31 03:03.
  EXPECT_EQ(BarStartTime(1440 + 183, 60'000), 1.0 + 10'980'000.0 / kDay);
}

// The bars agree to the millisecond of their start and exactly in values.
template <typename Bar>
void ExpectSameBars(const std::vector<Bar>& got, const std::vector<Bar>& want,
                    TDateTime Bar::*start, int round) {
  ASSERT_EQ(got.size(), want.size()) << "round " << round;
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "round " << round << ", bar " << i);
    EXPECT_EQ(MillisSinceOrigin(got[i].*start), MillisSinceOrigin(want[i].*start));
    EXPECT_EQ(got[i].open, want[i].open);
    EXPECT_EQ(got[i].high, want[i].high);
    EXPECT_EQ(got[i].low, want[i].low);
    EXPECT_EQ(got[i].close, want[i].close);
    EXPECT_EQ(got[i].volume, want[i].volume);
  }
}

struct Tick {
  int64_t ms;  // since the origin
  double price;
  int64_t volume;
};

// Mode "4" the plain way: group each day's ticks by bar; a bar is written
// when another bar of its day follows, opening at the previous bar's close.
std::vector<CutBar> ModelOriginBars(const std::vector<std::vector<Tick>>& days, int64_t length) {
  std::vector<CutBar> out;
  double carried_close = 0;
  for (const auto& ticks : days) {
    struct Group {
      int64_t n;
      double high, low, close;
      int64_t first_volume;
    };
    std::vector<Group> groups;
    for (const Tick& t : ticks) {
      const int64_t n =
          static_cast<int64_t>(std::floor(static_cast<double>(t.ms) / (length * 1000.0)));
      if (groups.empty() || groups.back().n != n) {
        groups.push_back({n, t.price, t.price, t.price, t.volume});
      } else {
        groups.back().high = std::max(groups.back().high, t.price);
        groups.back().low = std::min(groups.back().low, t.price);
        groups.back().close = t.price;
      }
    }
    for (size_t i = 0; i < groups.size(); ++i) {
      const double open = carried_close;
      carried_close = groups[i].close;
      if (i + 1 == groups.size()) break;  // never closed on its day
      const Group& g = groups[i];
      if (open <= 0 || g.high <= 0 || g.low <= 0 || g.close <= 0) continue;
      int64_t v = groups[i + 1].first_volume - g.first_volume;
      if (v < 0) v = groups[i + 1].first_volume;
      out.push_back(
          {static_cast<double>(g.n * length * 1000) / kDay, open, g.high, g.low, g.close, v});
    }
  }
  return out;
}

TEST(OriginBars, MatchTheModelOnRandomDays) {
  std::mt19937_64 rng(20030705);
  for (int round = 0; round < 300; ++round) {
    const int64_t length = std::vector<int64_t>{1, 2, 7, 60, 300, 3600}[rng() % 6];
    std::vector<std::vector<Tick>> days(1 + rng() % 3);
    for (size_t d = 0; d < days.size(); ++d) {
      int64_t ms = (46'000 + static_cast<int64_t>(d)) * kDay + 36'000'000;
      int64_t volume = 0;
      for (int k = static_cast<int>(rng() % 40); k > 0; --k) {
        ms += static_cast<int64_t>(rng() % 4) * 500 * (1 + (rng() % 2) * length);
        volume = rng() % 10 == 0 ? static_cast<int64_t>(rng() % 50)
                                 : volume + static_cast<int64_t>(rng() % 100);
        days[d].push_back(
            {ms, rng() % 15 == 0 ? 0.0 : 1 + static_cast<double>(rng() % 8) / 2, volume});
      }
    }
    OriginBarCutter cutter(length);
    std::vector<CutBar> got;
    for (const auto& ticks : days) {
      cutter.StartDay();
      for (const Tick& t : ticks) {
        const TDateTime day = static_cast<double>(t.ms / kDay);
        const TDateTime time = static_cast<double>(t.ms % kDay) / kDay;
        CutBar bar;
        if (cutter.Add(day, time, t.price, t.volume, &bar)) got.push_back(bar);
      }
    }
    ExpectSameBars(got, ModelOriginBars(days, length), &CutBar::start, round);
  }
}

struct GridTick {
  int64_t s;  // seconds since the day's midnight
  double bid, offer, price;
  int64_t volume;
};

struct ModelGridBar {
  GridBar::Kind kind;
  int64_t index, start_ms;
  double open, high, low, close;
  int64_t volume;
};

struct GridCase {
  int64_t interval, begin, end, nominal;  // seconds; begin and end of the window
  bool uw, eto;
};

// Mode "6" on ticks the plain way, in whole seconds: number each tick's bar
// from the window's start (a tick before it joins bar 0); read ticks until one
// lies past the window or the bar before it reaches past the window's last
// second; write every bar up to the last tick's, empty where no tick fell,
// the last one only when it ends by that second, and under UW empty bars on
// to the end of the window. Bars of a day start on exact whole seconds,
// however many intervals lie before them.
std::vector<ModelGridBar> ModelTickGrid(const std::vector<std::vector<GridTick>>& days,
                                        const GridCase& c) {
  std::vector<ModelGridBar> out;
  int64_t index = 0;
  for (size_t d = 0; d < days.size(); ++d) {
    const int64_t midnight_ms = (46'000 + static_cast<int64_t>(d)) * kDay;
    const auto bar_of = [&](int64_t s) { return s < c.begin ? 0 : (s - c.begin) / c.interval; };
    // The last bar that ends no later than a second after the window's end.
    const int64_t last_whole = (c.end + 1 - c.begin) / c.interval - 1;
    std::vector<GridTick> read;
    for (const GridTick& t : days[d]) {
      if (t.s > c.end) break;
      if ((read.empty() ? 0 : bar_of(read.back().s)) > last_whole) break;
      read.push_back(t);
    }
    const auto empty = [&](int64_t k) {
      out.push_back({GridBar::kEmpty, index++, midnight_ms + (c.begin + k * c.interval) * 1000, 0,
                     0, 0, 0, 0});
    };
    const int64_t last = read.empty() ? -1 : bar_of(read.back().s);
    int64_t tail_from = last + 1;
    const auto final_tick_of = [&](const std::vector<size_t>& in) { return read[in.back()].s; };
    for (int64_t k = 0; k <= last; ++k) {
      std::vector<size_t> in;  // positions in `read` of the bar's ticks
      for (size_t i = 0; i < read.size(); ++i) {
        if (bar_of(read[i].s) == k) in.push_back(i);
      }
      if (in.empty()) {
        empty(k);
        continue;
      }
      // The last bar is written only when it ends by the window's last second
      // and its last tick is not before its start (ticks before the window
      // join bar 0); otherwise the UW tail starts on it.
      if (k == last && (k > last_whole || final_tick_of(in) < c.begin + k * c.interval)) {
        --tail_from;
        break;
      }
      const auto before = [&](size_t i) { return i == 0 ? int64_t{0} : read[i - 1].volume; };
      const GridTick& first = read[in.front()];
      const GridTick& final_tick = read[in.back()];
      ModelGridBar bar{GridBar::kWithoutVolume,
                       index,
                       midnight_ms + (c.begin + k * c.interval) * 1000,
                       first.price,
                       0,
                       0,
                       final_tick.price,
                       0};
      std::vector<double> range;
      bool traded = true;
      if (!c.uw) {
        // The open, every bid and offer, and every price but the last.
        range.push_back(first.price);
        for (size_t i : in) {
          range.push_back(read[i].bid);
          range.push_back(read[i].offer);
          if (i != in.back()) range.push_back(read[i].price);
        }
      } else if (!c.eto) {
        for (size_t i : in) range.push_back(read[i].price);
      } else {
        // Only trades count: new volume, or from the nominal time on. A bar
        // opened by another tick takes its open from its first trade (the
        // day's first bar keeps the day's first price).
        std::vector<size_t> trades;
        for (size_t i : in) {
          if (read[i].volume != before(i) || read[i].s >= c.nominal) trades.push_back(i);
        }
        traded = !trades.empty();
        for (size_t i : trades) range.push_back(read[i].price);
        if (traded) {
          if (k != 0 && trades.front() != in.front()) bar.open = read[trades.front()].price;
          bar.close = read[trades.back()].price;
        }
      }
      if (!range.empty()) {
        bar.high = *std::max_element(range.begin(), range.end());
        bar.low = *std::min_element(range.begin(), range.end());
      }
      const int64_t change = final_tick.volume - before(in.front());
      const int64_t reference = k == last ? final_tick.s : c.begin + k * c.interval;
      if (change != 0) {
        bar.kind = GridBar::kWithVolume;
        bar.volume = change > 0 ? change : final_tick.volume;
      } else if (c.uw && c.eto && (!traded || c.nominal > reference)) {
        bar.kind = GridBar::kEmpty;
      }
      if (bar.kind == GridBar::kEmpty) {
        empty(k);
      } else {
        out.push_back(bar);
        ++index;
      }
    }
    if (c.uw) {
      for (int64_t k = tail_from; k <= last_whole; ++k) empty(k);
    }
  }
  return out;
}

TEST(TickGrid, MatchesTheModelOnRandomDays) {
  std::mt19937_64 rng(20030312);
  for (int round = 0; round < 600; ++round) {
    GridCase c;
    c.interval = std::vector<int64_t>{1, 7, 60, 300}[rng() % 4];
    c.begin = 36'000 + static_cast<int64_t>(rng() % 4) * c.interval;
    c.end = c.begin + static_cast<int64_t>(rng() % 12) * c.interval +
            (rng() % 2 == 0 ? 0 : static_cast<int64_t>(rng() % (2 * c.interval)));
    c.uw = rng() % 3 != 0;
    c.eto = c.uw && rng() % 3 != 0;
    c.nominal = c.begin + static_cast<int64_t>(rng() % 10) * c.interval;
    std::vector<std::vector<GridTick>> days(1 + rng() % 3);
    for (auto& ticks : days) {
      // Ticks on bar boundaries and between them, some before the window;
      // running volumes that stay, grow or fall.
      int64_t s = c.begin - static_cast<int64_t>(rng() % 3) * c.interval;
      int64_t volume = 0;
      for (int k = 1 + static_cast<int>(rng() % 25); k > 0; --k) {
        s += rng() % 3 == 0 ? c.interval * static_cast<int64_t>(rng() % 3)
                            : static_cast<int64_t>(rng() % (c.interval + 1));
        const int v = static_cast<int>(rng() % 10);
        volume = v < 3   ? volume
                 : v < 9 ? volume + 1 + static_cast<int64_t>(rng() % 50)
                         : static_cast<int64_t>(rng() % 20);
        const double price = 1 + static_cast<double>(rng() % 16) / 4;
        ticks.push_back({s, price - static_cast<double>(rng() % 3) / 8,
                         price + static_cast<double>(rng() % 3) / 8, price, volume});
      }
    }

    GridRules rules;
    rules.interval_seconds = c.interval;
    rules.uw = c.uw;
    rules.execution_tick_only = c.eto;
    rules.nominal_time = static_cast<double>(c.nominal) / 86'400;
    TickGrid grid(rules);
    std::vector<GridBar> got;
    const auto emit = [&](const GridBar& b) { got.push_back(b); };
    for (size_t d = 0; d < days.size(); ++d) {
      // As the generator reads a day: the first tick's price opens the day.
      const TDateTime date = 46'000 + static_cast<double>(d);
      grid.BeginDay(date, static_cast<double>(c.begin) / 86'400,
                    static_cast<double>(c.end) / 86'400, days[d].front().price);
      for (const GridTick& t : days[d]) {
        THisttableRecord r;
        r.stamp = date + static_cast<double>(t.s) / 86'400;
        r.bid = t.bid;
        r.offer = t.offer;
        r.price = t.price;
        r.volume = t.volume;
        if (!grid.AddTick(r, emit)) break;
      }
      grid.EndDay(emit);
    }

    const std::vector<ModelGridBar> want = ModelTickGrid(days, c);
    testing::Message shown;  // the round's case, for a failure's message
    shown << "interval " << c.interval << ", window " << c.begin << "-" << c.end << ", nominal "
          << c.nominal << (c.uw ? ", UW" : "") << (c.eto ? ", ticks with trades" : "");
    for (const auto& ticks : days) {
      shown << "\nday:";
      for (const GridTick& t : ticks) {
        shown << " " << t.s << "@" << t.price << "(" << t.bid << "/" << t.offer << ")v" << t.volume;
      }
    }
    SCOPED_TRACE(shown);
    ASSERT_EQ(got.size(), want.size()) << "round " << round;
    EXPECT_EQ(grid.index(), static_cast<int64_t>(want.size()));
    for (size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", bar " << i);
      EXPECT_EQ(got[i].kind, want[i].kind);
      EXPECT_EQ(got[i].index, want[i].index);
      EXPECT_EQ(MillisSinceOrigin(got[i].start), want[i].start_ms);
      if (want[i].kind == GridBar::kEmpty) continue;
      EXPECT_EQ(got[i].open, want[i].open);
      EXPECT_EQ(got[i].high, want[i].high);
      EXPECT_EQ(got[i].low, want[i].low);
      EXPECT_EQ(got[i].close, want[i].close);
      if (want[i].kind == GridBar::kWithVolume) {
        EXPECT_EQ(got[i].volume, want[i].volume);
      }
    }
  }
}

struct Base {
  int64_t minute;  // minutes since the origin
  double open, high, low, close;
  int64_t volume;
};

// Mode "5" the plain way: merge consecutive base bars by bar; each merged
// bar but the last is kept when it starts inside a session and followed by
// flat bars up to the next one while they start inside one; bars before the
// start are held and only the last back_count of them are written, right
// before the first bar at or after the start.
std::vector<TIntervalRecord> ModelMinuteBars(const std::vector<Base>& rows, int64_t minutes,
                                             int64_t from_minute, int back_count,
                                             const std::vector<std::pair<int, int>>& sessions) {
  auto inside = [&](int64_t start_minute) {
    const int64_t t = ((start_minute % 1440) + 1440) % 1440;
    for (const auto& [open, close] : sessions) {
      if (open > t) return false;
      if (t < close) return true;
    }
    return false;
  };
  std::map<int64_t, TIntervalRecord> merged;  // by bar number, in order
  std::vector<int64_t> order;
  for (const Base& b : rows) {
    const int64_t n = b.minute / minutes;
    auto it = merged.find(n);
    if (it == merged.end()) {
      merged[n] = {
          static_cast<double>(n * minutes) / 1440, b.open, b.high, b.low, b.close, b.volume};
      order.push_back(n);
    } else {
      it->second.high = std::max(it->second.high, b.high);
      it->second.low = std::min(it->second.low, b.low);
      it->second.close = b.close;
      it->second.volume += b.volume;
    }
  }
  std::vector<TIntervalRecord> pushed;
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    const TIntervalRecord& bar = merged[order[i]];
    if (!inside(order[i] * minutes)) continue;
    pushed.push_back(bar);
    for (int64_t n = order[i] + 1; n < order[i + 1] && inside(n * minutes); ++n) {
      pushed.push_back(
          {static_cast<double>(n * minutes) / 1440, bar.close, bar.close, bar.close, bar.close, 0});
    }
  }
  std::vector<TIntervalRecord> out, held;
  for (const TIntervalRecord& bar : pushed) {
    if (std::llround(bar.time * 1440) < from_minute) {
      held.push_back(bar);
      continue;
    }
    const size_t skip = held.size() > static_cast<size_t>(std::max(back_count, 0))
                            ? held.size() - static_cast<size_t>(std::max(back_count, 0))
                            : 0;
    out.insert(out.end(), held.begin() + static_cast<std::ptrdiff_t>(skip), held.end());
    held.clear();
    out.push_back(bar);
  }
  return out;
}

TEST(MinuteBars, MatchTheModelOnRandomBaseBars) {
  std::mt19937_64 rng(20260105);
  const int64_t day_minute = 46'000 * 1440;
  for (int round = 0; round < 300; ++round) {
    const int64_t minutes = std::vector<int64_t>{1, 2, 5, 15, 60}[rng() % 5];
    std::vector<std::pair<int, int>> sessions;
    if (rng() % 8 != 0) sessions.push_back({570, 720});  // 09:30-12:00
    if (rng() % 2 == 0) sessions.push_back({780, 960});  // 13:00-16:00
    std::vector<Base> rows;
    int64_t minute = day_minute + 540 + static_cast<int64_t>(rng() % 60);
    for (int k = static_cast<int>(rng() % 60); k > 0; --k) {
      minute += static_cast<int64_t>(rng() % 3 == 0 ? rng() % 40 : 1);
      const double p = 1 + static_cast<double>(rng() % 20) / 4;
      rows.push_back({minute, p, p + 0.5, p - 0.25, p + 0.25, static_cast<int64_t>(rng() % 1000)});
    }
    const int64_t from = day_minute + 540 + static_cast<int64_t>(rng() % 300);
    const int back = static_cast<int>(rng() % 6) - 1;
    std::vector<MarketSession> ms;
    for (const auto& [o, c] : sessions)
      ms.push_back({static_cast<double>(o) / 1440, static_cast<double>(c) / 1440});

    MinuteBarMerger merger(minutes, static_cast<double>(from) / 1440, back, ms);
    std::vector<TIntervalRecord> got;
    for (const Base& b : rows) {
      merger.Add(static_cast<double>(b.minute) / 1440, b.open, b.high, b.low, b.close, b.volume,
                 [&](const TIntervalRecord& r) { got.push_back(r); });
    }
    ExpectSameBars(got, ModelMinuteBars(rows, minutes, from, back, sessions),
                   &TIntervalRecord::time, round);
  }
}

}  // namespace
}  // namespace morvane
