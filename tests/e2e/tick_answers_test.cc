// Tick history (modes "0" and "3") over real HTTP, on both drivers.
#include <gtest/gtest.h>

#include "e2e/answer_fixture.h"

namespace morvane::testing {
namespace {

class TickAnswers : public AnswerTest {};

TEST_P(TickAnswers, WindowNumberingAndStoredForms) {
  MakeStore();
  LoadNames();
  Load("ticks", std::string(kTickHeader) +
                    "2003-03-12,09:59:59,0005,1,2,3,4,5,6\n"
                    "2003-03-12,10:00:00,0005,12.5,12.6,12.5,1000,,0.000001\n"
                    "2003-03-12,10:30:00,0005,0.1,0.2,0.3,100000000000000000,7,8\n"
                    "2003-03-12,11:00:01,0005,1,2,3,4,5,6\n"
                    "2003-03-12,10:15:00,0006,1,2,3,4,5,6\n"
                    "2003-03-12,10:15:00,abc,1,2,3,4,5,6\n");
  Serve("2003-03-12 15:00:00");
  // Both ends of the window are included; another product's rows end the
  // day; a null column stays empty; floats in their stored text form.
  EXPECT_EQ(Get("symbol=0005&timeStart=10:00:00&timeOver=11:00:00"),
            std::string(kNames0005) +
                "TICK|0|2003/3/12|10:00:00|12.5|12.6|12.5|1000|1E-6||\r\n"
                "TICK|1|2003/3/12|10:30:00|0.1|0.2|0.3|1E17|8|7|\r\n"
                "NOTE|RECORDCOUNT|2|\r\n");
  // The stored code differs only in case: no ticks. No names either.
  EXPECT_EQ(Get("symbol=ABC"), kNoData);
  // dateStart after dateOver visits no day.
  EXPECT_EQ(Get("symbol=0005&dateStart=2003/3/12&dateOver=2003/3/11"),
            std::string(kNames0005) + kNoData);
  // The entry line names the call.
  EXPECT_NE(store().Log().find("2003/03/12 15:00:00 =>Enter DoGenIntraday(Symbol[0005],"
                               "timeBegin[10:00:00],timeEnd[11:00:00],dateBegin[2003/03/12],"
                               "dateEnd[2003/03/12],DayCount[0])."),
            std::string::npos)
      << store().Log();
}

TEST_P(TickAnswers, DaysAndPriceChanges) {
  MakeStore();
  // Only the middle day of three has a table; a third-day table exists
  // for the price-only run across days.
  Load("ticks", std::string(kTickHeader) +
                    "2003-03-11,09:00:00,0005,,,0,,,\n"
                    "2003-03-11,09:00:01,0005,,,,,,\n"
                    "2003-03-11,09:00:02,0005,,,10,,,\n"
                    "2003-03-11,09:00:03,0005,,,10,,,\n"
                    "2003-03-11,09:00:04,0005,,,10.1,,,\n"
                    "2003-03-11,09:00:05,0005,,,10,,,\n"
                    "2003-03-13,09:00:00,0005,,,10,,,\n"
                    "2003-03-13,09:00:01,0005,,,11,,,\n");
  Serve("2003-03-14 15:00:00");
  // Days between the first and the last are read whole, numbered from 0.
  EXPECT_EQ(Get("symbol=0005&dateStart=2003/3/10&dateOver=2003/3/12&timeStart=09:00:03&"
                "timeOver=09:00:03"),
            "TICK|0|2003/3/11|09:00:00|||0||||\r\nTICK|1|2003/3/11|09:00:01|||||||\r\n"
            "TICK|2|2003/3/11|09:00:02|||10||||\r\nTICK|3|2003/3/11|09:00:03|||10||||\r\n"
            "TICK|4|2003/3/11|09:00:04|||10.1||||\r\nTICK|5|2003/3/11|09:00:05|||10||||\r\n"
            "NOTE|RECORDCOUNT|6|\r\n");
  // Price changes only: zero and null prices before the first write are
  // skipped, and the comparison runs on across days (the 13th opens at 10).
  EXPECT_EQ(Get("symbol=0005&mode=3&dateStart=2003/3/10&dateOver=2003/3/14"),
            "TICK|0|2003/3/11|09:00:02|||10||||\r\nTICK|1|2003/3/11|09:00:04|||10.1||||\r\n"
            "TICK|2|2003/3/11|09:00:05|||10||||\r\nTICK|3|2003/3/13|09:00:01|||11||||\r\n"
            "NOTE|RECORDCOUNT|4|\r\n");
}

// The UW calculation: a valid product, no names, and a look-back for requests
// without dates while today's trading has not begun.
TEST_P(TickAnswers, UWLooksBackOnlyBeforeTradingBegins) {
  MakeStore("MaxConnection=10\nCalcMode=UW\nSplitTime=09:00:00\n");
  Load("symbols", std::string(kSymbolHeader) + "0005,1\n0006,0\n0008,1\n");
  LoadNames();
  Load("ticks", std::string(kTickHeader) +
                    "2003-03-14,10:00:00,0005,1,2,3,4,5,6\n"
                    "2003-03-14,10:00:01,0005,1,2,3,4,5,7\n"
                    "2003-03-14,12:00:00,0005,1,2,3,4,5,8\n"
                    "2003-02-10,10:00:00,0006,1,2,3,4,5,6\n"
                    "2003-03-14,10:30:00,0008,1,2,3,4,5,9\n"
                    "2003-03-13,10:30:00,0008,1,2,3,4,5,8\n"
                    "2003-03-12,10:30:00,0008,1,2,3,4,5,7\n");
  const std::string friday =
      "TICK|0|2003/3/14|10:00:00|1|2|3|4|6|5|\r\nTICK|1|2003/3/14|10:00:01|1|2|3|4|7|5|\r\n"
      "NOTE|RECORDCOUNT|2|\r\n";
  const std::string window = "mode=3&timeStart=10:00&timeOver=11:00";

  Serve("2003-03-15 10:00:00");  // Saturday
  EXPECT_EQ(Get("symbol=0005&" + window), friday);
  const std::string log = store().Log();
  const size_t sat = log.find("UW Mode 3 Table Name:hist030315");
  EXPECT_NE(sat, std::string::npos) << log;
  EXPECT_NE(log.find("UW Mode 3 Table Name:hist030314", sat), std::string::npos) << log;
  EXPECT_NE(log.find("Empty Date for Mode 3\r\nNot Is Price Only."), std::string::npos) << log;
  // Several earlier days with ticks: the look-back stops at the first.
  EXPECT_EQ(Get("symbol=0008&" + window),
            "TICK|0|2003/3/14|10:30:00|1|2|3|4|9|5|\r\nNOTE|RECORDCOUNT|1|\r\n");
  // Explicit dates never look back, and every day of their range is read.
  EXPECT_EQ(Get("symbol=0005&" + window + "&dateStart=2003/3/15&dateOver=2003/3/15"), kNoData);
  const size_t dated = store().Log().size();
  EXPECT_EQ(Get("symbol=0008&" + window + "&dateStart=2003/3/12&dateOver=2003/3/14"),
            "TICK|0|2003/3/12|10:30:00|1|2|3|4|7|5|\r\nTICK|1|2003/3/13|10:30:00|1|2|3|4|8|5|\r\n"
            "TICK|2|2003/3/14|10:30:00|1|2|3|4|9|5|\r\nNOTE|RECORDCOUNT|3|\r\n");
  EXPECT_EQ(store().Log().find("Empty Date", dated), std::string::npos);
  // An invalid product: the two records, nothing else, no table visited.
  EXPECT_EQ(Get("symbol=0006&" + window), kNoData);
  EXPECT_NE(store().Log().find("Symbol is invalid:0006"), std::string::npos);

  Serve("2003-03-17 08:30:00");  // Monday, before the split time
  EXPECT_EQ(Get("symbol=0005&" + window), friday);
  Serve("2003-03-17 09:00:00");  // Monday, at the split time
  EXPECT_EQ(Get("symbol=0005&" + window), kNoData);

  // Nothing within 29 earlier days: 30 passes, then the two records.
  Serve("2003-03-13 08:00:00");
  const size_t before = store().Log().size();
  EXPECT_EQ(Get("symbol=0005&" + window), kNoData);
  const std::string tail = store().Log().substr(before);
  size_t passes = 0;
  for (size_t at = tail.find("UW Mode 3 Table Name:"); at != std::string::npos;
       at = tail.find("UW Mode 3 Table Name:", at + 1)) {
    ++passes;
  }
  EXPECT_EQ(passes, 30u) << tail;
  EXPECT_NE(tail.find("UW Mode 3 Table Name:hist030212"), std::string::npos) << tail;
  EXPECT_EQ(tail.find("UW Mode 3 Table Name:hist030211"), std::string::npos) << tail;
}

MORVANE_ON_EVERY_STORE(TickAnswers);

}  // namespace
}  // namespace morvane::testing
