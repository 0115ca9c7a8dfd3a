// Bars from the stored tables over real HTTP, on both drivers: mode "6" on
// the interval tables and mode "5" from base bars inside market sessions.
#include <gtest/gtest.h>

#include "e2e/answer_fixture.h"

namespace morvane::testing {
namespace {

constexpr char kIntervalHeader[] = "Symbol,Date,Time,Open,High,Low,Close,Volume\n";
constexpr char kBaseBarHeader[] =
    "Symbol,TimeBegin,Duration,SeqNo,PriceOpen,PriceHigh,PriceLow,PriceClose,Volume\n";
constexpr char kSessionHeader[] = "Symbol,TimeOpen,TimeClose\n";

// Empty bars of `date` every minute from `from` to `to` (minutes of the
// day), numbered from `index`.
std::string EmptyMinutes(const std::string& date, int from, int to, int index) {
  std::string text;
  char line[64];
  for (int m = from; m <= to; ++m) {
    std::snprintf(line, sizeof line, "INTERVAL|%d|%s|%02d:%02d:00|-|-|-|-|-|\r\n", index++,
                  date.c_str(), m / 60, m % 60);
    text += line;
  }
  return text;
}

constexpr int At(int h, int m) {
  return h * 60 + m;
}

class StoredBarAnswers : public AnswerTest {};

TEST_P(StoredBarAnswers, IntervalTablesWithTheirGaps) {
  MakeStore("MaxConnection=10\nDBMode=SQL\nCalcMode=UW\nSplitTime=09:00:00\n");
  Load("symbols", std::string(kSymbolHeader) + "0005,1\n0006,1\n0008,1\n");
  Load("intervals --length 60", std::string(kIntervalHeader) +
                                    "0005,2003-03-12,09:50:00,10,11,9,10.5,100\n"
                                    "0005,2003-03-12,09:51:00,10.5,10.5,10.5,10.5,0\n"
                                    "0005,2003-03-12,09:55:00,11,12,10,11,250\n"
                                    "0006,2003-03-12,10:00:00,1,1,1,1,5\n"
                                    "0005,2003-03-14,10:00:00,2,2,2,2,7\n");
  Serve("2003-03-15 10:00:00");  // a Saturday
  // The handler's UW window for one-minute bars: 09:49:01 to 16:04:59. A zero
  // volume is written "-"; the day is padded to 16:04.
  const std::string date = "2003/03/12";
  EXPECT_EQ(Get("symbol=0005&mode=6&interval=60&dateStart=2003/3/12&dateOver=2003/3/12"),
            "INTERVAL|0|2003/03/12|09:50:00|10.000|11.000|9.000|10.500|100|\r\n"
            "INTERVAL|1|2003/03/12|09:51:00|10.500|10.500|10.500|10.500|-|\r\n" +
                EmptyMinutes(date, At(9, 52), At(9, 54), 2) +
                "INTERVAL|5|2003/03/12|09:55:00|11.000|12.000|10.000|11.000|250|\r\n" +
                EmptyMinutes(date, At(9, 56), At(16, 4), 6) + "NOTE|RECORDCOUNT|375|\r\n");
  // The first row at 10:00: empty bars from 09:50 come first.
  const std::string first =
      Get("symbol=0006&mode=6&interval=60&dateStart=2003/3/12&"
          "dateOver=2003/3/12");
  EXPECT_EQ(first.rfind(EmptyMinutes(date, At(9, 50), At(9, 59), 0) +
                            "INTERVAL|10|2003/03/12|10:00:00|1.000|1.000|1.000|1.000|5|\r\n",
                        0),
            0u)
      << first;
  // A first row a whole number of bars after timeBegin: the empty bar at
  // timeBegin itself comes first; a timeEnd on the grid gets its empty bar.
  EXPECT_EQ(Get("symbol=0005&mode=6&interval=60&dateStart=2003/3/12&dateOver=2003/3/12&"
                "timeStart=09:53:59&timeOver=09:56:00"),
            EmptyMinutes(date, At(9, 53), At(9, 54), 0) +
                "INTERVAL|2|2003/03/12|09:55:00|11.000|12.000|10.000|11.000|250|\r\n" +
                EmptyMinutes(date, At(9, 56), At(9, 56), 3) + "NOTE|RECORDCOUNT|4|\r\n");
  // Rows after timeEnd are not read.
  EXPECT_EQ(Get("symbol=0005&mode=6&interval=60&dateStart=2003/3/12&dateOver=2003/3/12&"
                "timeStart=09:49:01&timeOver=09:52:00"),
            EmptyMinutes(date, At(9, 49), At(9, 49), 0) +
                "INTERVAL|1|2003/03/12|09:50:00|10.000|11.000|9.000|10.500|100|\r\n"
                "INTERVAL|2|2003/03/12|09:51:00|10.500|10.500|10.500|10.500|-|\r\n" +
                EmptyMinutes(date, At(9, 52), At(9, 52), 3) + "NOTE|RECORDCOUNT|4|\r\n");
  // A range reads every day of it: the 11th has no bars, the 12th has.
  EXPECT_EQ(Get("symbol=0006&mode=6&interval=60&dateStart=2003/3/11&dateOver=2003/3/12"), first);
  // Without dates on a Saturday: Friday's bars, and no earlier day's.
  const std::string friday = Get("symbol=0005&mode=6&interval=60");
  EXPECT_EQ(friday.rfind(EmptyMinutes("2003/03/14", At(9, 50), At(9, 59), 0) +
                             "INTERVAL|10|2003/03/14|10:00:00|2.000|2.000|2.000|2.000|7|\r\n",
                         0),
            0u)
      << friday;
  EXPECT_NE(friday.find("INTERVAL|374|2003/03/14|16:04:00|-|-|-|-|-|\r\nNOTE|RECORDCOUNT|375|\r\n"),
            std::string::npos)
      << friday;
  // An invalid product; a length without a table (nothing written, a log line).
  EXPECT_EQ(Get("symbol=0007&mode=6&interval=60"), kNoData);
  // A valid product without bars: the walk back ends after 29 earlier days.
  EXPECT_EQ(Get("symbol=0008&mode=6&interval=60"), kNoData);
  EXPECT_EQ(Get("symbol=0005&mode=6&interval=120"), "");
  EXPECT_NE(store().Log().find(" when GenInterval4(Symbol[0005],timeBegin[09:45:01],"
                               "timeEnd[16:04:59],dateBegin[2003/03/15],dateEnd[2003/03/15],"
                               "DayCount[0],interval[120])."),
            std::string::npos)
      << store().Log();

  // A trading day after the split time without bars yet: today's empty grid.
  Serve("2003-03-19 10:30:00");
  EXPECT_EQ(Get("symbol=0005&mode=6&interval=60"),
            EmptyMinutes("2003/03/19", At(9, 50), At(16, 4), 0) + "NOTE|RECORDCOUNT|375|\r\n");
}

TEST_P(StoredBarAnswers, MinuteBarsInsideSessions) {
  MakeStore();
  LoadNames();
  Load("sessions", std::string(kSessionHeader) +
                       "0005,09:30:00,12:30:00\n0006,09:30:00,12:30:00\n0007,10:00:00,10:03:00\n"
                       "0008,09:00:00,12:00:00\n");
  std::string bars = kBaseBarHeader;
  char line[128];
  // 0005: one-minute bars 09:50 to 10:09, price rising by 0.1 a minute.
  for (int m = 0; m < 20; ++m) {
    const int t = At(9, 50) + m;
    const double p = 10 + m * 0.1;
    std::snprintf(line, sizeof line, "0005,2003-03-12 %02d:%02d:00,60,%d,%.2f,%.2f,%.2f,%.2f,%d\n",
                  t / 60, t % 60, m, p, p + 0.05, p - 0.05, p, 10 + m);
    bars += line;
  }
  bars +=
      "0006,2003-03-12 10:00:00,60,1,5,6,4,5.5,10\n"
      "0006,2003-03-12 10:03:00,60,2,7,7,7,7,20\n"
      "0006,2003-03-12 10:04:00,60,3,8,8,8,8,30\n";
  for (int m = 0; m < 5; ++m) {
    std::snprintf(line, sizeof line, "0007,2003-03-12 10:%02d:00,60,%d,1,1,1,1,1\n", m, m);
    bars += line;
  }
  bars +=
      "0008,2003-03-12 09:30:00,60,1,2,2,2,2,5\n"
      "0008,2003-03-12 10:00:00,60,2,3,3.5,3,3.1,10\n"
      "0008,2003-03-12 10:59:00,60,3,3.1,3.2,2.5,3.2,20\n"
      "0008,2003-03-12 11:00:00,60,4,4,4,4,4,40\n";
  Load("basebars", bars);
  // Ticks of two earlier days, for the bars under a minute; another
  // product's rows make each a trading day (more than ten rows).
  std::string ticks =
      std::string(kTickHeader) +
      "2003-03-10,10:00:10,0005,1,2,3,10,5,6\n2003-03-10,10:00:40,0005,1,2,4,20,5,6\n"
      "2003-03-11,10:00:10,0005,1,2,5,30,5,6\n2003-03-11,10:00:40,0005,1,2,6,40,5,6\n";
  for (int i = 0; i < 20; ++i)
    ticks += "2003-03-1" + std::to_string(i % 2) + ",11:00:00,0009,1,1,1,1,1,1\n";
  Load("ticks", ticks);
  Serve("2003-03-12 15:00:00");
  const std::string day = "&dateStart=2003/3/12&dateOver=2003/3/12&timeStart=10:00&timeOver=12:00";
  // Five-minute bars: 10:00 to 10:04 merged; 10:05 is in progress when the
  // rows end. 300 seconds and 5 minutes are the same bars.
  const std::string five =
      std::string(kNames0005) + "TICK|0|2003/03/12|10:00:00|11.00|11.45|10.95|11.40|110|\r\n";
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=5&iunit=1" + day), five);
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=300&iunit=0" + day), five);
  // Two hours: the only bar is still in progress. Under a minute: the tick
  // bars answer, with the names written again. iunit 3: the names only.
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=2&iunit=2" + day), kNames0005);
  // Hour bars (iunit 2): the 10:00 bar is written once an 11:00 base bar
  // comes. A unit below 0 or above 2 has no grid: the names only.
  EXPECT_EQ(Get("symbol=0008&mode=5&interval=1&iunit=2" + day),
            "TICK|0|2003/03/12|10:00:00|3.00|3.50|2.50|3.20|30|\r\n");
  EXPECT_EQ(Get("symbol=0008&mode=5&interval=1&iunit=-1" + day), "");
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=30" + day),
            std::string(kNames0005) + kNames0005 + "ERROR|Record not found.|\r\n");
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=1&iunit=3" + day), kNames0005);
  // Under a minute, bars are cut from the ticks of every day of the range:
  // the 10th's last price opens the 11th's first bar.
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=30&iunit=0&dateStart=2003/3/10&dateOver=2003/3/11"
                "&timeStart=10:00&timeOver=12:00"),
            std::string(kNames0005) + kNames0005 +
                "TICK|0|2003/03/11|10:00:00|4.00|5.00|5.00|5.00|0|\r\nNOTE|RECORDCOUNT|1|\r\n");
  // The last three bars before the start come first.
  const std::string back = Get("symbol=0005&mode=5&interval=1&iunit=1&BackCount=3" + day);
  EXPECT_EQ(back.rfind(std::string(kNames0005) +
                           "TICK|0|2003/03/12|09:57:00|10.70|10.75|10.65|10.70|17|\r\n"
                           "TICK|1|2003/03/12|09:58:00|10.80|10.85|10.75|10.80|18|\r\n"
                           "TICK|2|2003/03/12|09:59:00|10.90|10.95|10.85|10.90|19|\r\n",
                       0),
            0u)
      << back;
  EXPECT_NE(back.find("TICK|3|2003/03/12|10:00:00|11.00|"), std::string::npos) << back;
  // A hole inside a session is filled with flat bars at the last close.
  EXPECT_EQ(Get("symbol=0006&mode=5&interval=1&iunit=1" + day),
            "TICK|0|2003/03/12|10:00:00|5.00|6.00|4.00|5.50|10|\r\n"
            "TICK|1|2003/03/12|10:01:00|5.50|5.50|5.50|5.50|0|\r\n"
            "TICK|2|2003/03/12|10:02:00|5.50|5.50|5.50|5.50|0|\r\n"
            "TICK|3|2003/03/12|10:03:00|7.00|7.00|7.00|7.00|20|\r\n");
  // A bar starting at the session's close is dropped.
  EXPECT_EQ(Get("symbol=0007&mode=5&interval=1&iunit=1" + day),
            "TICK|0|2003/03/12|10:00:00|1.00|1.00|1.00|1.00|1|\r\n"
            "TICK|1|2003/03/12|10:01:00|1.00|1.00|1.00|1.00|1|\r\n"
            "TICK|2|2003/03/12|10:02:00|1.00|1.00|1.00|1.00|1|\r\n");
}

MORVANE_ON_EVERY_STORE(StoredBarAnswers);

}  // namespace
}  // namespace morvane::testing
