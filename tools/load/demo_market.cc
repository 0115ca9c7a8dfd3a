#include "demo_market.h"

#include <algorithm>
#include <array>
#include <string>

#include "store_schema.h"

namespace morvane::load {
namespace {

struct Product {
  const char* code;
  const char* name_e;
  const char* name_c;
  int64_t price;  // opening price of the first day, in thousandths
  int64_t lot;    // board lot, shares
};

// Codes and names of well-known Hong Kong listings; the prices are only a
// plausible starting point for the walk.
constexpr std::array<Product, kDemoProductCount> kProducts = {{
    {"0005", "HSBC HOLDINGS", "滙豐控股", 62'500, 400},
    {"0700", "TENCENT", "騰訊控股", 385'200, 100},
    {"0001", "CKH HOLDINGS", "長和", 48'150, 500},
    {"0002", "CLP HOLDINGS", "中電控股", 63'800, 500},
    {"0003", "HK & CHINA GAS", "香港中華煤氣", 6'120, 1000},
    {"0006", "POWER ASSETS", "電能實業", 45'600, 500},
    {"0011", "HANG SENG BANK", "恒生銀行", 98'750, 100},
    {"0012", "HENDERSON LAND", "恒基地產", 23'450, 1000},
    {"0016", "SHK PPT", "新鴻基地產", 78'900, 500},
    {"0017", "NEW WORLD DEV", "新世界發展", 9'870, 1000},
    {"0027", "GALAXY ENT", "銀河娛樂", 36'250, 1000},
    {"0066", "MTR CORPORATION", "港鐵公司", 27'300, 500},
    {"0101", "HANG LUNG PPT", "恒隆地產", 7'240, 1000},
    {"0175", "GEELY AUTO", "吉利汽車", 9'650, 1000},
    {"0267", "CITIC", "中信股份", 8'110, 1000},
    {"0288", "WH GROUP", "萬洲國際", 5'030, 500},
    {"0386", "SINOPEC CORP", "中國石油化工股份", 4'420, 2000},
    {"0388", "HKEX", "香港交易所", 268'400, 100},
    {"0669", "TECHTRONIC IND", "創科實業", 91'350, 500},
    {"0762", "CHINA UNICOM", "中國聯通", 6'980, 2000},
    {"0823", "LINK REIT", "領展房產基金", 35'800, 100},
    {"0857", "PETROCHINA", "中國石油股份", 5'670, 2000},
    {"0883", "CNOOC", "中國海洋石油", 16'280, 1000},
    {"0939", "CCB", "建設銀行", 5'210, 1000},
    {"0941", "CHINA MOBILE", "中國移動", 66'450, 500},
    {"1038", "CKI HOLDINGS", "長江基建集團", 42'900, 500},
    {"1044", "HENGAN INT'L", "恒安國際", 24'750, 500},
    {"1093", "CSPC PHARMA", "石藥集團", 5'880, 2000},
    {"1109", "CHINA RES LAND", "華潤置地", 26'300, 2000},
    {"1177", "SINO BIOPHARM", "中國生物製藥", 3'210, 1000},
    {"1299", "AIA", "友邦保險", 57'950, 200},
    {"1398", "ICBC", "工商銀行", 4'160, 1000},
    {"1810", "XIAOMI-W", "小米集團－Ｗ", 16'820, 200},
    {"1928", "SANDS CHINA LTD", "金沙中國有限公司", 19'540, 400},
    {"2318", "PING AN", "中國平安", 41'300, 500},
    {"2388", "BOC HONG KONG", "中銀香港", 23'150, 500},
    {"2628", "CHINA LIFE", "中國人壽", 11'240, 1000},
    {"3690", "MEITUAN-W", "美團－Ｗ", 118'600, 100},
    {"3988", "BANK OF CHINA", "中國銀行", 3'470, 1000},
    {"9988", "BABA-SW", "阿里巴巴－ＳＷ", 80'150, 100},
}};

// Session clock, in seconds of the day.
constexpr int kMorningOpen = 9 * 3600 + 30 * 60;
constexpr int kMorningClose = 12 * 3600;
constexpr int kAfternoonOpen = 13 * 3600;
constexpr int kAfternoonClose = 16 * 3600;
constexpr int kMorningLength = kMorningClose - kMorningOpen;
constexpr int kTradingSeconds = kMorningLength + (kAfternoonClose - kAfternoonOpen);

// splitmix64: tiny, fast, and the same sequence everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); the bias of the modulo is far below what matters here.
  int64_t Below(int64_t n) { return static_cast<int64_t>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

// The exchange's price steps (in thousandths) by price band.
int64_t TickSize(int64_t price) {
  if (price < 250) return 1;
  if (price < 500) return 5;
  if (price < 10'000) return 10;
  if (price < 20'000) return 20;
  if (price < 100'000) return 50;
  if (price < 200'000) return 100;
  if (price < 500'000) return 200;
  return 500;
}

int64_t OnLadder(int64_t price) {
  int64_t t = TickSize(price);
  price -= price % t;
  return std::max(price, t);
}

double Money(int64_t thousandths) {
  return static_cast<double>(thousandths) / 1000.0;
}

TDateTime SecondsOfDay(int s) {
  return static_cast<double>(s) / kSecondsPerDay;
}

struct Tick {
  int product;
  int second;  // of the day
  int64_t bid, offer, price;
  int64_t bid_size, offer_size;
  int64_t trade_size;  // shares of this tick's trade
  int64_t volume;      // the day's running total including this trade
};

// A bar built from the ticks of one product: prices of the trades, volume of
// the shares traded within the bar.
struct Bar {
  int label = 0;  // seconds of the day
  int64_t open = 0, high = 0, low = 0, close = 0, volume = 0;
};

void AddToBars(std::vector<Bar>* bars, int label, const Tick& t) {
  if (bars->empty() || bars->back().label != label) {
    bars->push_back({label, t.price, t.price, t.price, t.price, 0});
  }
  Bar& b = bars->back();
  b.high = std::max(b.high, t.price);
  b.low = std::min(b.low, t.price);
  b.close = t.price;
  b.volume += t.trade_size;
}

}  // namespace

std::vector<TDateTime> DemoTradingDays(TDateTime end, int count,
                                       const std::function<bool(TDateTime)>& is_holiday) {
  std::vector<TDateTime> days;
  for (TDateTime d = DateOf(end); static_cast<int>(days.size()) < count; d -= 1) {
    int dow = DayOfWeek(d);
    if (dow == 1 || dow == 7) continue;
    if (is_holiday && is_holiday(d)) continue;
    days.push_back(d);
  }
  std::reverse(days.begin(), days.end());
  return days;
}

std::vector<std::string_view> DemoProductCodes(int symbols) {
  std::vector<std::string_view> codes;
  for (int p = 0; p < std::clamp(symbols, 1, kDemoProductCount); ++p) {
    codes.emplace_back(kProducts[static_cast<size_t>(p)].code);
  }
  return codes;
}

void GenerateDemoMarket(const DemoOptions& options, MarketSink* sink) {
  Rng rng(options.seed);
  const int n_products = std::clamp(options.symbols, 1, kDemoProductCount);

  std::vector<int64_t> last_price(static_cast<size_t>(n_products));
  for (int p = 0; p < n_products; ++p) {
    const Product& prod = kProducts[static_cast<size_t>(p)];
    last_price[static_cast<size_t>(p)] = OnLadder(prod.price);
    sink->Name({prod.code, std::string_view(prod.name_e), std::string_view(prod.name_c)});
    // One product is listed but not valid, so that refusals can be tried.
    sink->Symbol({prod.code, std::string_view(p == n_products - 1 ? "0" : "1")});
    sink->Session({prod.code, SecondsOfDay(kMorningOpen), SecondsOfDay(kMorningClose)});
    sink->Session({prod.code, SecondsOfDay(kAfternoonOpen), SecondsOfDay(kAfternoonClose)});
  }

  std::vector<Tick> ticks;
  std::vector<int> offsets;
  std::vector<Bar> minute_bars;
  std::array<std::vector<Bar>, kIntervalLengths.size()> interval_bars;
  for (TDateTime day : DemoTradingDays(options.end, options.days, options.is_holiday)) {
    ticks.clear();
    for (int p = 0; p < n_products; ++p) {
      const Product& prod = kProducts[static_cast<size_t>(p)];
      int64_t& price = last_price[static_cast<size_t>(p)];
      // An overnight gap of up to three steps either way.
      price = OnLadder(price + (rng.Below(7) - 3) * TickSize(price));
      const int64_t n = std::max<int64_t>(1, options.ticks_per_day * (80 + rng.Below(41)) / 100);
      offsets.clear();
      for (int64_t i = 0; i < n; ++i)
        offsets.push_back(static_cast<int>(rng.Below(kTradingSeconds)));
      std::sort(offsets.begin(), offsets.end());
      int64_t volume = 0;
      for (int off : offsets) {
        // Small steps, more often none: a quiet, plausible tape.
        static constexpr int kSteps[] = {-2, -1, -1, 0, 0, 0, 1, 1, 2};
        const int64_t step = kSteps[rng.Below(9)];
        price = OnLadder(price + step * TickSize(price));
        const int64_t tick = TickSize(price);
        const int64_t spread = rng.Below(4) == 0 ? 2 * tick : tick;
        Tick t{};
        t.product = p;
        t.second =
            off < kMorningLength ? kMorningOpen + off : kAfternoonOpen + off - kMorningLength;
        t.price = price;
        if (rng.Below(2) == 0) {  // a buyer lifted the offer
          t.offer = price;
          t.bid = std::max(price - spread, tick);
        } else {  // a seller hit the bid
          t.bid = price;
          t.offer = price + spread;
        }
        t.bid_size = prod.lot * (1 + rng.Below(50));
        t.offer_size = prod.lot * (1 + rng.Below(50));
        t.trade_size = prod.lot * (1 + rng.Below(20));
        volume += t.trade_size;
        t.volume = volume;
        ticks.push_back(t);
      }
    }
    // A feed records ticks as they happen, all products interleaved.
    std::stable_sort(ticks.begin(), ticks.end(),
                     [](const Tick& a, const Tick& b) { return a.second < b.second; });
    for (const Tick& t : ticks) {
      const Product& prod = kProducts[static_cast<size_t>(t.product)];
      sink->Tick({day, SecondsOfDay(t.second), prod.code, Money(t.bid), Money(t.offer),
                  Money(t.price), static_cast<double>(t.bid_size), static_cast<double>(t.volume),
                  static_cast<double>(t.offer_size)});
    }

    for (int p = 0; p < n_products; ++p) {
      const Product& prod = kProducts[static_cast<size_t>(p)];
      minute_bars.clear();
      for (auto& bars : interval_bars) bars.clear();
      int64_t high = 0, low = 0, close = 0, shares = 0, turnover = 0;
      bool any = false;
      for (const Tick& t : ticks) {
        if (t.product != p) continue;
        high = any ? std::max(high, t.price) : t.price;
        low = any ? std::min(low, t.price) : t.price;
        any = true;
        close = t.price;
        shares = t.volume;
        turnover += t.price * t.trade_size;
        // Base bars are labelled by their start; the interval tables label a
        // bar by its end, so a tick at 09:31:00 closes the 09:31:00 bar.
        AddToBars(&minute_bars, t.second / 60 * 60, t);
        for (size_t i = 0; i < kIntervalLengths.size(); ++i) {
          const int len = kIntervalLengths[i];
          AddToBars(&interval_bars[i], (t.second + len - 1) / len * len, t);
        }
      }
      if (!any) continue;
      sink->DailyBar({day, prod.code, Money(high), Money(low), Money(close),
                      static_cast<double>(shares), Money(turnover)});
      int64_t seq = 0;
      for (const Bar& b : minute_bars) {
        sink->BaseBar({prod.code, day + SecondsOfDay(b.label), int64_t{60}, ++seq, Money(b.open),
                       Money(b.high), Money(b.low), Money(b.close), static_cast<double>(b.volume)});
      }
      for (size_t i = 0; i < kIntervalLengths.size(); ++i) {
        for (const Bar& b : interval_bars[i]) {
          sink->IntervalBar(kIntervalLengths[i],
                            {prod.code, day, SecondsOfDay(b.label), Money(b.open), Money(b.high),
                             Money(b.low), Money(b.close), static_cast<double>(b.volume)});
        }
      }
    }
    sink->EndDay(day);
  }
}

}  // namespace morvane::load
