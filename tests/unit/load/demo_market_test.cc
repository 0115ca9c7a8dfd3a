#include "demo_market.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

namespace morvane::load {
namespace {

// Records every row as text, so that two runs can be compared whole, and
// keeps the values the realism checks need.
class RecordingSink final : public MarketSink {
 public:
  std::ostringstream all;
  struct TickSeen {
    TDateTime date, time;
    std::string symbol;
    double bid, offer, price, volume;
  };
  std::vector<TickSeen> ticks;
  std::vector<DailyBarRow> daily;
  std::vector<std::string> daily_codes;
  std::map<std::pair<std::string, TDateTime>, double> base_volume;  // per product and day
  std::map<std::pair<std::string, TDateTime>, int> interval_counts;
  std::map<std::string, std::string> valid;
  std::set<std::string> names;

  void Name(const NameRow& r) override {
    all << "N" << r.stock_code << "|" << *r.name_e << "|" << *r.name_c << "\n";
    names.insert(std::string(r.stock_code));
  }
  void Symbol(const SymbolRow& r) override {
    all << "S" << r.symbol << "|" << *r.is_valid << "\n";
    valid[std::string(r.symbol)] = std::string(*r.is_valid);
  }
  void Session(const SessionRow& r) override {
    all << "M" << r.symbol << "|" << r.time_open << "|" << r.time_close << "\n";
  }
  void Tick(const TickRow& r) override {
    all.precision(17);
    all << "T" << r.date << "|" << r.time << "|" << r.symbol << "|" << *r.bid << "|" << *r.offer
        << "|" << *r.price << "|" << *r.bid_size << "|" << *r.volume << "|" << *r.offer_size
        << "\n";
    ticks.push_back({r.date, r.time, std::string(r.symbol), *r.bid, *r.offer, *r.price, *r.volume});
  }
  void DailyBar(const DailyBarRow& r) override {
    all << "D" << r.c_date << "|" << r.stock_code << "|" << *r.high << "|" << *r.low << "|"
        << *r.closing << "|" << *r.shares_traded << "|" << *r.turnover << "\n";
    daily.push_back(r);
    daily_codes.emplace_back(r.stock_code);
  }
  void BaseBar(const BaseBarRow& r) override {
    all << "B" << r.symbol << "|" << r.time_begin << "|" << *r.price_close << "\n";
    base_volume[{std::string(r.symbol), DateOf(r.time_begin)}] += *r.volume;
  }
  void IntervalBar(int seconds, const IntervalRow& r) override {
    all << "I" << seconds << "|" << r.symbol << "|" << r.date << "|" << r.time << "\n";
    if (seconds == 60) ++interval_counts[{std::string(r.symbol), r.date}];
  }
  void EndDay(TDateTime day) override { all << "E" << day << "\n"; }
};

DemoOptions Small(uint64_t seed) {
  DemoOptions o;
  o.seed = seed;
  o.days = 8;
  o.symbols = 6;
  o.ticks_per_day = 120;
  o.end = EncodeDate(2024, 1, 10);  // a Wednesday
  return o;
}

TEST(DemoMarket, SameSeedGivesTheSameMarketAndAnotherSeedAnother) {
  RecordingSink a, b, c;
  GenerateDemoMarket(Small(7), &a);
  GenerateDemoMarket(Small(7), &b);
  GenerateDemoMarket(Small(8), &c);
  EXPECT_EQ(a.all.str(), b.all.str());
  EXPECT_NE(a.all.str(), c.all.str());
}

TEST(DemoMarket, TradingDaysSkipWeekendsAndHolidays) {
  // 2024-01-01 (Mon) is a holiday; 2024-01-06/07 is a weekend.
  auto holiday = [](TDateTime d) { return d == EncodeDate(2024, 1, 1); };
  std::vector<TDateTime> days = DemoTradingDays(EncodeDate(2024, 1, 8), 6, holiday);
  std::vector<TDateTime> expected = {EncodeDate(2023, 12, 29), EncodeDate(2024, 1, 2),
                                     EncodeDate(2024, 1, 3),   EncodeDate(2024, 1, 4),
                                     EncodeDate(2024, 1, 5),   EncodeDate(2024, 1, 8)};
  EXPECT_EQ(days, expected);
  // Ending on a Sunday ends on the Friday before.
  EXPECT_EQ(DemoTradingDays(EncodeDate(2024, 1, 7), 1, nullptr),
            std::vector<TDateTime>{EncodeDate(2024, 1, 5)});
}

TEST(DemoMarket, TicksArePlausibleAndBarsAgreeWithThem) {
  DemoOptions o = Small(11);
  o.is_holiday = [](TDateTime d) { return d == EncodeDate(2024, 1, 8); };
  RecordingSink s;
  GenerateDemoMarket(o, &s);
  ASSERT_FALSE(s.ticks.empty());

  // Products: names for all, exactly one not valid.
  EXPECT_EQ(s.names.size(), 6u);
  int not_valid = 0;
  for (auto& [code, v] : s.valid) not_valid += v != "1";
  EXPECT_EQ(not_valid, 1);

  struct Day {
    double high = -1, low = 1e18, close = 0, volume = 0;
    TDateTime last_time = -1;
  };
  std::map<std::pair<std::string, TDateTime>, Day> days;
  TDateTime prev_time = -1, prev_date = -1;
  for (const auto& t : s.ticks) {
    const int dow = DayOfWeek(t.date);
    EXPECT_TRUE(dow != 1 && dow != 7) << "a tick on a weekend";
    EXPECT_NE(t.date, EncodeDate(2024, 1, 8)) << "a tick on a holiday";
    const double sec = t.time * kSecondsPerDay;
    const bool morning = sec >= 9.5 * 3600 - 0.5 && sec < 12 * 3600;
    const bool afternoon = sec >= 13 * 3600 - 0.5 && sec < 16 * 3600;
    EXPECT_TRUE(morning || afternoon) << "a tick outside the sessions";
    EXPECT_LT(t.bid, t.offer);
    EXPECT_TRUE(t.price == t.bid || t.price == t.offer);
    // The feed is in time order within a day.
    if (t.date == prev_date) {
      EXPECT_GE(t.time, prev_time);
    }
    prev_date = t.date;
    prev_time = t.time;
    Day& d = days[{t.symbol, t.date}];
    EXPECT_GE(t.volume, d.volume) << "cumulative volume went down";
    d.volume = t.volume;
    d.high = std::max(d.high, t.price);
    d.low = std::min(d.low, t.price);
    d.close = t.price;
  }
  ASSERT_EQ(s.daily.size(), days.size());
  for (size_t i = 0; i < s.daily.size(); ++i) {
    const DailyBarRow& b = s.daily[i];
    const Day& d = days.at({s.daily_codes[i], b.c_date});
    EXPECT_EQ(*b.high, d.high);
    EXPECT_EQ(*b.low, d.low);
    EXPECT_EQ(*b.closing, d.close);
    EXPECT_EQ(*b.shares_traded, d.volume);
    // The day's one-minute bars trade exactly the day's volume.
    EXPECT_EQ((s.base_volume.at({s.daily_codes[i], b.c_date})), d.volume);
    EXPECT_GT((s.interval_counts.at({s.daily_codes[i], b.c_date})), 0);
  }
}

}  // namespace
}  // namespace morvane::load
