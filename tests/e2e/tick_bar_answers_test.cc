// Bars cut from ticks over real HTTP, on both drivers: mode "4" (the grid
// from the date origin) and mode "6" on the tick tables (the full grid).
#include <gtest/gtest.h>

#include "e2e/answer_fixture.h"

namespace morvane::testing {
namespace {

class TickBarAnswers : public AnswerTest {};

TEST_P(TickBarAnswers, IntervalBarsCloseOnALaterTickOfTheDay) {
  MakeStore();
  LoadNames();
  Load("ticks", std::string(kTickHeader) +
                    // One day: no bar for 10:00 (it opens at 0), one for 10:01
                    // opening at the 10:00:40 price, none for 10:02 (never closed).
                    "2003-03-12,10:00:10,0005,0,0,10,0,100,0\n"
                    "2003-03-12,10:00:40,0005,0,0,11,0,150,0\n"
                    "2003-03-12,10:01:20,0005,0,0,12.5,0,180,0\n"
                    "2003-03-12,10:01:50,0005,0,0,12,0,190,0\n"
                    "2003-03-12,10:02:05,0005,0,0,13,0,170.5,0\n"
                    "2003-03-12,10:03:00,0005,0,0,13,0,300,0\n"
                    // The next day: opens at the last price of the day before;
                    // the bar in progress at the end of a day is dropped.
                    "2003-03-13,10:00:00,0005,0,0,14,0,10,0\n"
                    "2003-03-13,10:00:30,0005,0,0,13.5,0,20,0\n"
                    "2003-03-13,10:01:00,0005,0,0,15,0,30,0\n"
                    "2003-03-13,10:02:00,0005,0,0,15,0,40,0\n"
                    // Another product's rows: the 13th holds more than 10.
                    "2003-03-13,11:00:00,0006,0,0,1,0,1,0\n"
                    "2003-03-13,11:00:01,0006,0,0,1,0,2,0\n"
                    "2003-03-13,11:00:02,0006,0,0,1,0,3,0\n"
                    "2003-03-13,11:00:03,0006,0,0,1,0,4,0\n"
                    "2003-03-13,11:00:04,0006,0,0,1,0,5,0\n"
                    "2003-03-13,11:00:05,0006,0,0,1,0,6,0\n"
                    "2003-03-13,11:00:06,0006,0,0,1,0,7,0\n"
                    // 1-second bars in the present era; a tick exactly on a
                    // boundary opens the new bar.
                    "2026-12-09,09:59:59,0005,0,0,20,0,1,0\n"
                    "2026-12-09,10:00:00,0005,0,0,21,0,2,0\n"
                    "2026-12-09,10:00:00.500,0005,0,0,22,0,3,0\n"
                    "2026-12-09,10:00:01,0005,0,0,23,0,5,0\n");
  Serve("2003-03-13 15:00:00");
  // A running volume that fell (170.5 after 190) gives the new first tick's
  // rounded volume as the bar's volume.
  EXPECT_EQ(Get("symbol=0005&mode=4&interval=60&dateStart=2003/3/12&dateOver=2003/3/13&"
                "timeStart=10:00:00&timeOver=10:02:00"),
            std::string(kNames0005) +
                "TICK|0|2003/03/12|10:01:00|11.00|12.50|12.00|12.00|170|\r\n"
                "TICK|1|2003/03/12|10:02:00|12.00|13.00|13.00|13.00|130|\r\n"
                "TICK|2|2003/03/13|10:00:00|13.00|14.00|13.50|13.50|20|\r\n"
                "TICK|3|2003/03/13|10:01:00|13.50|15.00|15.00|15.00|10|\r\n"
                "NOTE|RECORDCOUNT|4|\r\n");
  // The 10:01 bar of the 13th was closed by the tick at exactly timeOver; a
  // second earlier, that tick ends the reading and the bar is dropped.
  EXPECT_EQ(Get("symbol=0005&mode=4&interval=60&dateStart=2003/3/12&dateOver=2003/3/13&"
                "timeStart=10:00:00&timeOver=10:01:59"),
            std::string(kNames0005) +
                "TICK|0|2003/03/12|10:01:00|11.00|12.50|12.00|12.00|170|\r\n"
                "TICK|1|2003/03/12|10:02:00|12.00|13.00|13.00|13.00|130|\r\n"
                "TICK|2|2003/03/13|10:00:00|13.00|14.00|13.50|13.50|20|\r\n"
                "NOTE|RECORDCOUNT|3|\r\n");
  EXPECT_EQ(Get("symbol=0005&mode=4&interval=1&dateStart=2026/12/9&dateOver=2026/12/9"),
            std::string(kNames0005) + "TICK|0|2026/12/09|10:00:00|20.00|22.00|21.00|22.00|3|\r\n" +
                "NOTE|RECORDCOUNT|1|\r\n");
  // Mode "5" under a minute cuts these bars from the ticks, over the whole
  // range whatever DayCount says (the names come twice).
  EXPECT_EQ(Get("symbol=0005&mode=5&interval=30&DayCount=1&dateStart=2003/3/12&"
                "dateOver=2003/3/13"),
            std::string(kNames0005) + kNames0005 +
                "TICK|0|2003/03/12|10:00:30|10.00|11.00|11.00|11.00|30|\r\n"
                "TICK|1|2003/03/12|10:01:00|11.00|12.50|12.50|12.50|10|\r\n"
                "TICK|2|2003/03/12|10:01:30|12.50|12.00|12.00|12.00|170|\r\n"
                "TICK|3|2003/03/12|10:02:00|12.00|13.00|13.00|13.00|130|\r\n"
                "TICK|4|2003/03/13|10:00:00|13.00|14.00|14.00|14.00|10|\r\n"
                "TICK|5|2003/03/13|10:00:30|14.00|13.50|13.50|13.50|10|\r\n"
                "TICK|6|2003/03/13|10:01:00|13.50|15.00|15.00|15.00|10|\r\n"
                "NOTE|RECORDCOUNT|7|\r\n");
  // A single tick a day writes nothing; a length of 0 reads nothing.
  EXPECT_EQ(Get("symbol=0005&mode=4&interval=3600&dateStart=2003/3/13&dateOver=2003/3/13"),
            std::string(kNames0005) + "ERROR|Record not found.|\r\n");
  EXPECT_EQ(Get("symbol=0005&mode=4&interval=0"),
            std::string(kNames0005) + "ERROR|Record not found.|\r\n");
}

TEST_P(TickBarAnswers, FullGridUnderEitherCalculation) {
  MakeStore();
  Load("ticks", std::string(kTickHeader) +
                    "2003-03-12,10:00:20,0005,9.9,10.1,10,0,100,0\n"
                    "2003-03-12,10:00:40,0005,10.9,11.1,11,0,150,0\n"
                    "2003-03-12,10:00:05,0006,9.9,10.1,10,0,100,0\n"
                    "2003-03-12,10:03:10,0006,11.9,12.1,12,0,300,0\n"
                    "2003-03-13,10:00:05,0006,9.9,10.1,10,0,50,0\n"
                    "2003-03-12,10:00:30,0008,9.9,10.1,10,0,100,0\n"
                    "2003-03-12,10:01:00,0008,10.9,11.1,11,0,150,0\n"
                    "2003-03-12,10:02:10,0008,11.9,12.1,12,0,40,0\n"
                    "2003-03-12,10:02:40,0008,12.4,12.6,12.5,0,60,0\n"
                    "2003-03-13,10:01:30,0008,13.9,14.1,14,0,20,0\n"
                    "2003-03-13,10:03:00,0008,14.9,15.1,15,0,30,0\n");
  const std::string window = "mode=6&interval=60&timeStart=10:00:00&timeOver=10:04:59";
  Serve("2003-03-13 15:00:00");
  // Any CalcMode but UW: high and low take in bid and offer; no tail.
  EXPECT_EQ(Get("symbol=0005&" + window + "&dateStart=2003/3/12&dateOver=2003/3/12"),
            "INTERVAL|0|2003/03/12|10:00:00|10.000|11.100|9.900|11.000|150|\r\n"
            "NOTE|RECORDCOUNT|1|\r\n");
  // Empty bars fill the gap; the day's last bar is written; the second day
  // starts from no price and zero volume.
  EXPECT_EQ(Get("symbol=0006&" + window + "&dateStart=2003/3/12&dateOver=2003/3/13"),
            "INTERVAL|0|2003/03/12|10:00:00|10.000|10.100|9.900|10.000|100|\r\n"
            "INTERVAL|1|2003/03/12|10:01:00|-|-|-|-|-|\r\n"
            "INTERVAL|2|2003/03/12|10:02:00|-|-|-|-|-|\r\n"
            "INTERVAL|3|2003/03/12|10:03:00|12.000|12.100|11.900|12.000|200|\r\n"
            "INTERVAL|4|2003/03/13|10:00:00|10.000|10.100|9.900|10.000|50|\r\n"
            "NOTE|RECORDCOUNT|5|\r\n");
  // A tick exactly on a bar's end opens the next bar, also as the day's last
  // tick (the bar's start, a sum of intervals, lies a rounding error past
  // 10:03:00); a bar in which the running volume fell carries the new total;
  // a day whose first tick comes after the first bar starts with an empty
  // bar, whatever the day before traded.
  EXPECT_EQ(Get("symbol=0008&" + window + "&dateStart=2003/3/12&dateOver=2003/3/13"),
            "INTERVAL|0|2003/03/12|10:00:00|10.000|10.100|9.900|10.000|100|\r\n"
            "INTERVAL|1|2003/03/12|10:01:00|11.000|11.100|10.900|11.000|50|\r\n"
            "INTERVAL|2|2003/03/12|10:02:00|12.000|12.600|11.900|12.500|60|\r\n"
            "INTERVAL|3|2003/03/13|10:00:00|-|-|-|-|-|\r\n"
            "INTERVAL|4|2003/03/13|10:01:00|14.000|14.100|13.900|14.000|20|\r\n"
            "INTERVAL|5|2003/03/13|10:02:00|-|-|-|-|-|\r\n"
            "INTERVAL|6|2003/03/13|10:03:00|15.000|15.100|14.900|15.000|10|\r\n"
            "NOTE|RECORDCOUNT|7|\r\n");
  // A range without any table, or of one day without it, says so once; a
  // range with a table somewhere does not.
  EXPECT_EQ(Get("symbol=0006&" + window + "&dateStart=2003/3/14&dateOver=2003/3/14"), kNoData);
  // A length of 0 would never move the grid on: nothing is read.
  EXPECT_EQ(Get("symbol=0006&mode=6&interval=0&dateStart=2003/3/12&dateOver=2003/3/12"),
            "ERROR|Record not found.|\r\n");
  // One second is the shortest length.
  EXPECT_EQ(
      Get("symbol=0006&mode=6&interval=1&dateStart=2003/3/13&dateOver=2003/3/13&"
          "timeStart=10:00:04&timeOver=10:00:06"),
      "INTERVAL|0|2003/03/13|10:00:04|-|-|-|-|-|\r\n"
      "INTERVAL|1|2003/03/13|10:00:05|10.000|10.100|9.900|10.000|50|\r\nNOTE|RECORDCOUNT|2|\r\n");
  EXPECT_EQ(Get("symbol=0006&" + window + "&dateStart=2003/3/14&dateOver=2003/3/16"), kNoData);
  EXPECT_EQ(Get("symbol=0005&" + window + "&dateStart=2003/3/13&dateOver=2003/3/14"),
            "ERROR|Record not found.|\r\n");
}

TEST_P(TickBarAnswers, FullGridUnderUW) {
  MakeStore(
      "MaxConnection=10\nCalcMode=UW\nExecutionTickOnly=Y\nNominalUpdateTimestamp=16:00:00\n");
  Load("ticks", std::string(kTickHeader) +
                    "2003-03-12,10:00:20,0005,9.9,10.1,10,0,100,0\n"
                    "2003-03-12,10:00:40,0005,10.9,11.1,11,0,150,0\n"
                    "2003-03-12,16:00:00,0005,0,0,10.5,0,150,0\n"
                    "2003-03-12,16:00:40,0005,0,0,11,0,150,0\n"
                    "2003-03-12,16:04:30,0005,0,0,12,0,160,0\n"
                    "2003-03-13,16:00:00,0005,0,0,10.5,0,0,0\n"
                    "2003-03-12,10:00:10,0008,0,0,10,0,100,0\n"
                    "2003-03-12,10:01:05,0008,0,0,10.5,0,100,0\n"
                    "2003-03-12,10:01:20,0008,0,0,11,0,130,0\n"
                    "2003-03-12,10:01:40,0008,0,0,10.8,0,150,0\n");
  Serve("2003-03-13 15:00:00");
  // The handler starts UW bars 59 s earlier: 10:00:59 asks for 10:00:00. The
  // grid runs on, empty, to the end of the window.
  EXPECT_EQ(Get("symbol=0005&mode=6&interval=60&timeStart=10:00:59&timeOver=10:04:59&"
                "dateStart=2003/3/12&dateOver=2003/3/12"),
            "INTERVAL|0|2003/03/12|10:00:00|10.000|11.000|10.000|11.000|150|\r\n"
            "INTERVAL|1|2003/03/12|10:01:00|-|-|-|-|-|\r\n"
            "INTERVAL|2|2003/03/12|10:02:00|-|-|-|-|-|\r\n"
            "INTERVAL|3|2003/03/12|10:03:00|-|-|-|-|-|\r\n"
            "INTERVAL|4|2003/03/12|10:04:00|-|-|-|-|-|\r\n"
            "NOTE|RECORDCOUNT|5|\r\n");
  // A bar opened before the nominal update time by a tick without a trade
  // takes its open from the first trade that follows.
  EXPECT_EQ(Get("symbol=0008&mode=6&interval=60&timeStart=10:00:59&timeOver=10:02:59&"
                "dateStart=2003/3/12&dateOver=2003/3/12"),
            "INTERVAL|0|2003/03/12|10:00:00|10.000|10.000|10.000|10.000|100|\r\n"
            "INTERVAL|1|2003/03/12|10:01:00|11.000|11.000|10.800|10.800|50|\r\n"
            "INTERVAL|2|2003/03/12|10:02:00|-|-|-|-|-|\r\n"
            "NOTE|RECORDCOUNT|3|\r\n");
  // A bar without new volume that starts before the nominal update time but
  // holds its tick: empty when a later tick closes it, with its prices when
  // it is the day's last bar.
  const std::string nominal = "mode=6&interval=60&timeStart=16:00:29&timeOver=16:01:29";
  EXPECT_EQ(Get("symbol=0005&" + nominal + "&dateStart=2003/3/12&dateOver=2003/3/12"),
            "INTERVAL|0|2003/03/12|15:59:30|10.500|10.500|10.500|10.500|150|\r\n"
            "INTERVAL|1|2003/03/12|16:00:30|11.000|11.000|11.000|11.000|-|\r\n"
            "NOTE|RECORDCOUNT|2|\r\n");
  EXPECT_EQ(Get("symbol=0005&" + nominal + "&dateStart=2003/3/13&dateOver=2003/3/13"),
            "INTERVAL|0|2003/03/13|15:59:30|10.500|10.500|10.500|10.500|-|\r\n"
            "INTERVAL|1|2003/03/13|16:00:30|-|-|-|-|-|\r\n"
            "NOTE|RECORDCOUNT|2|\r\n");
  // The default UW window for one-minute bars: labels from 09:49:01, the
  // last written 16:03:01; a tick from 16:04:01 on falls in a bar that ends
  // after 16:05:00.
  const std::string day =
      Get("symbol=0005&mode=6&interval=60&dateStart=2003/3/12&"
          "dateOver=2003/3/12");
  EXPECT_EQ(day.rfind("INTERVAL|0|2003/03/12|09:49:01|-|-|-|-|-|\r\n", 0), 0u) << day;
  EXPECT_NE(day.find("INTERVAL|11|2003/03/12|10:00:01|10.000|11.000|10.000|11.000|150|\r\n"),
            std::string::npos)
      << day;
  EXPECT_NE(day.find("|2003/03/12|16:03:01|"), std::string::npos) << day;
  EXPECT_EQ(day.find("|2003/03/12|16:04:01|"), std::string::npos) << day;
}

MORVANE_ON_EVERY_STORE(TickBarAnswers);

}  // namespace
}  // namespace morvane::testing
